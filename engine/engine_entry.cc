// The exported entry points of the in-process engine library. The engine keeps its appliance
// data in $VEL_ENGINE_ROOT, else in the per-user data folder under "velserver". The client that
// creates the engine receives its results through its own OnNetMessage.
#include <cstdlib>
#include <string>

#include "dests/app_dests.h"
#include "engine/vel_engine.h"
#include "link/server_engine.h"
#include "link/vel_app_client.h"
#include "platform/paths.h"

namespace {

std::string EngineRoot() {
  const char* root = std::getenv("VEL_ENGINE_ROOT");
  return root && *root ? root : port::UserDataDir() + "/velserver";
}

CVelEngine* E(void* engine) {
  return static_cast<CVelEngine*>(engine);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* ozkServerEngineCreate(void*, void* client) {
  auto* engine = new CVelEngine(EngineRoot(), nullptr);
  if (auto* app_client = static_cast<CVelAppClient*>(client)) {
    engine->SetLoopbackDelivery([app_client](CLumMsg* message) {
      CLumMsg reply;
      app_client->OnNetMessage(message, &reply);
    });
  }
  return engine;
}

__attribute__((visibility("default"))) int ozkServerEngineOnNetMessage(void* engine,
                                                                       uint32_t client_id,
                                                                       CLumMsg* request,
                                                                       CLumMsg* reply) {
  if (!engine || !request) return -1;
  return E(engine)->OnNetMessage(client_id, request, reply);
}

__attribute__((visibility("default"))) CtVar* ozkServerEngineGetRootTVar(void* engine) {
  return engine ? E(engine)->Root() : nullptr;
}

__attribute__((visibility("default"))) port::RecursiveMutex* ozkServerEngineGetTVarCriticalSection(
    void* engine) {
  return engine ? E(engine)->TreeLock() : nullptr;
}

__attribute__((visibility("default"))) XTVarDests* ozkServerEngineGetAppDest(void* engine) {
  return engine ? E(engine)->AppDests() : nullptr;
}

// The stream operations of the in-process client; each returns 0 on success.
__attribute__((visibility("default"))) int ozkServerEngineSendStreamStart(void* engine, int id,
                                                                          long total, int) {
  return engine ? E(engine)->LoopbackStream().Start(id, total) : CEngineStream::kStreamError;
}

__attribute__((visibility("default"))) int ozkServerEngineStreamWrite(void* engine, int length,
                                                                      unsigned char* data) {
  if (!engine || length < 0 || (length > 0 && !data)) return CEngineStream::kStreamError;
  return E(engine)->LoopbackStream().Write({data, static_cast<size_t>(length)});
}

__attribute__((visibility("default"))) int ozkServerEngineResponseStreamStart(void* engine,
                                                                              int* length) {
  return engine ? E(engine)->LoopbackStream().ResponseStart(length) : CEngineStream::kStreamError;
}

__attribute__((visibility("default"))) int ozkServerEngineStreamRead(void* engine, int length,
                                                                     unsigned char* buffer) {
  if (!engine || length < 0 || (length > 0 && !buffer)) return CEngineStream::kStreamError;
  return E(engine)->LoopbackStream().Read({buffer, static_cast<size_t>(length)});
}

__attribute__((visibility("default"))) int ozkServerEngineStreamEnd(void* engine) {
  return engine ? E(engine)->LoopbackStream().End() : CEngineStream::kStreamError;
}

__attribute__((visibility("default"))) void ozkServerEngineDelete(void* engine) {
  delete E(engine);
}

}  // extern "C"
