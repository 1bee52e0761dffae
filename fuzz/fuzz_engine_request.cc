// The reference server's answer to any request a client can send: every decodable message goes
// to the engine (connection exchanges, named calls, device services) and must be answered
// without fault. The appliance's files live in a fresh folder below /tmp.
#include <stdlib.h>

#include <memory>
#include <string>

#include "engine/vel_engine.h"
#include "netmsg/lum_wire.h"

namespace {

CVelEngine& Engine() {
  static std::unique_ptr<CVelEngine> engine = [] {
    char tmpl[] = "/tmp/vel_fuzz_engine_XXXXXX";
    const char* dir = mkdtemp(tmpl);
    return std::make_unique<CVelEngine>(dir ? dir : "/tmp/vel_fuzz_engine", nullptr);
  }();
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CLumMsg request;
  if (!DecodeLumMsg(std::string_view(reinterpret_cast<const char*>(data), size), &request))
    return 0;
  CLumMsg reply;
  Engine().OnNetMessage(1, &request, &reply);
  std::string encoded;
  EncodeLumMsg(reply, &encoded);
  return 0;
}
