// The reference server's answer to any request a client can send: every decodable message goes
// to the engine (connection exchanges, named calls, device services, results, statistics and
// calibration) and must be answered
// without fault. The remote variable operations (20655 to 20680) are left to fuzz_invoke_rpc,
// which drives the same channel code. The appliance's files live in a fresh folder below /tmp.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/vel_engine.h"
#include "netmsg/lum_wire.h"

namespace {

std::string& Folder() {
  static std::string folder;
  return folder;
}

CVelEngine& Engine() {
  static std::unique_ptr<CVelEngine> engine = [] {
    char tmpl[] = "/tmp/vel_fuzz_engine_XXXXXX";
    Folder() = mkdtemp(tmpl) ? tmpl : "/tmp/vel_fuzz_engine";
    std::atexit([] { std::filesystem::remove_all(Folder()); });
    return std::make_unique<CVelEngine>(Folder(), nullptr);
  }();
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CLumMsg request;
  if (!DecodeLumMsg(std::string_view(reinterpret_cast<const char*>(data), size), &request))
    return 0;
  if (request.GetId() >= 20655 && request.GetId() <= 20680) return 0;
  CLumMsg reply;
  Engine().OnNetMessage(1, &request, &reply);
  std::string encoded;
  EncodeLumMsg(reply, &encoded);
  return 0;
}
