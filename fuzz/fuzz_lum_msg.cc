// The message decoder on arbitrary bytes: it must refuse or accept without fault, and whatever
// it accepts must encode back to bytes that decode to the same message.
#include <cstdlib>
#include <string>

#include "netmsg/lum_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CLumMsg msg;
  if (!DecodeLumMsg(std::string_view(reinterpret_cast<const char*>(data), size), &msg)) return 0;
  for (int i = 0; i < msg.Size(); ++i) {
    const CLumVariant& v = msg.Get(i);
    for (int e = 0; e < v.GetSize(); ++e) {
      (void)v.GetString(e);
      (void)v.GetBytes(e);
      (void)v.GetDouble(e);
      (void)v.GetImgBuffSize(e);
    }
  }
  std::string again;
  EncodeLumMsg(msg, &again);
  CLumMsg back;
  if (!DecodeLumMsg(again, &back) || !(back == msg)) std::abort();
  return 0;
}
