// The result record reader on any decoded message: every variant is unpacked, and what a record
// holds after unpacking must pack and unpack to the same bytes (texts stay terminated).
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/process_results.h"
#include "netmsg/lum_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CLumMsg msg;
  if (!DecodeLumMsg(std::string_view(reinterpret_cast<const char*>(data), size), &msg)) return 0;
  for (int i = 0; i < msg.Size(); ++i) {
    OZK_PROCESS_RESULTS first, again;
    std::memset(&first, 0xA5, sizeof first);
    if (!UnPackResultVar(msg.Get(i), &first)) continue;
    if (first.text1[sizeof first.text1 - 1] || first.text3[sizeof first.text3 - 1]) std::abort();
    if (!UnPackResultVar(PackResultVar(first), &again)) std::abort();
    // Bytes after a text's first zero are not carried; compare what a reader sees.
    if (std::memcmp(&first, &again, offsetof(OZK_PROCESS_RESULTS, text1)) != 0) std::abort();
    if (std::strcmp(first.text3, again.text3) != 0 || first.word != again.word) std::abort();
  }
  return 0;
}
