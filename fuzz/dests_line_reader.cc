// The line reader of every text link on arbitrary received bytes. The input is consumed in
// rounds: a control byte (terminator choice, read maximum, whether the link breaks after this
// round) and then a burst of bytes the link delivers. Whatever arrives, a line never exceeds
// the maximum asked for, never holds the terminator, and the ring keeps at most 1024 bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <span>

#include "dests/connection.h"

namespace {

class FuzzLink : public CConnection {
 public:
  int RecvMessage(CtVar*, std::span<uint8_t> buffer, uint32_t length, uint32_t, CtVar*) override {
    if (buffer.empty() || !(length & kRecvBufferedFlag)) std::abort();
    if (bytes.empty()) return broken ? -1 : 0;
    buffer[0] = bytes.front();
    bytes.pop_front();
    return 1;
  }
  std::deque<uint8_t> bytes;
  bool broken = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char kTerminators[] = {'\n', '\r', ';', '\0'};
  FuzzLink* link = new FuzzLink;
  size_t at = 0;
  while (at < size) {
    const uint8_t control = data[at++];
    const size_t burst = std::min<size_t>(size - at, (control >> 3) * 16 + 1);
    link->bytes.insert(link->bytes.end(), data + at, data + at + burst);
    at += burst;
    link->broken = control & 0x4;
    const char terminator = kTerminators[control & 0x3];
    const int maximum = 1 + (control >> 2) * 40;
    const std::string line = link->RecvQueuedMessage(nullptr, maximum, terminator);
    if (line.size() > static_cast<size_t>(maximum)) std::abort();
    if (terminator && std::memchr(line.data(), terminator, line.size())) std::abort();
    if (terminator == 0 && !line.empty()) std::abort();
    // Unread bytes stay with the link until the next round; the ring itself is bounded.
    if (link->bytes.size() > size) std::abort();
  }
  link->Release();
  return 0;
}
