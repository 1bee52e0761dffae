// The exported entry points of the in-process engine library. The engine keeps its appliance
// data in $VEL_ENGINE_ROOT, else in the per-user data folder under "velserver".
#include <cstdlib>
#include <string>

#include "dests/app_dests.h"
#include "engine/vel_engine.h"
#include "link/server_engine.h"
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

__attribute__((visibility("default"))) void* ozkServerEngineCreate(void*, void*) {
  return new CVelEngine(EngineRoot(), nullptr);
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

__attribute__((visibility("default"))) void ozkServerEngineDelete(void* engine) {
  delete E(engine);
}

}  // extern "C"
