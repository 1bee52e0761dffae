// The message decoder on arbitrary bytes: it must refuse or accept without fault, and whatever
// it accepts must encode to bytes that decode and encode to the same bytes again (bytes, not
// values, so that a NaN still compares). Decoded in place from a frame that then goes, it must
// encode to the same bytes as the copy.
#include <cstdlib>
#include <cstring>
#include <memory>
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
  std::string once, twice;
  EncodeLumMsg(msg, &once);
  CLumMsg back;
  if (!DecodeLumMsg(once, &back)) std::abort();
  EncodeLumMsg(back, &twice);
  if (once != twice) std::abort();
  auto frame = std::make_shared<char[]>(size);
  if (size) std::memcpy(frame.get(), data, size);
  CLumMsg in_place;
  if (!DecodeLumMsg(std::string_view(frame.get(), size), &in_place, frame)) std::abort();
  frame.reset();
  std::string thrice;
  EncodeLumMsg(in_place, &thrice);
  if (thrice != once) std::abort();
  return 0;
}
