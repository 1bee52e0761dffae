// The message handler's framed input (8-byte headers of id and payload length, then the
// payload) on arbitrary bytes delivered through a link. The handler thread must take it all,
// whatever lengths the headers claim, and stop promptly when asked, without growing.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <span>
#include <vector>

#include "dests/app_dests.h"
#include "dests/conn_factory.h"
#include "dests/connection.h"
#include "dests/msg_handler.h"
#include "vartree/tvar.h"

namespace {

constexpr uint32_t kFuzzRole = 17;  // a role without a class of its own

// The bytes of the current input, handed out as the handler asks for them.
struct Source {
  std::mutex mu;
  std::condition_variable drained;
  std::vector<uint8_t> bytes;
  size_t at = 0;
};
Source g_source;

class FuzzLink : public CConnection {
 public:
  int RecvMessage(CtVar*, std::span<uint8_t> buffer, uint32_t length, uint32_t, CtVar*) override {
    std::lock_guard<std::mutex> guard(g_source.mu);
    const size_t left = g_source.bytes.size() - g_source.at;
    const size_t want = std::min<size_t>({buffer.size(), length, left});
    if (want) std::memcpy(buffer.data(), g_source.bytes.data() + g_source.at, want);
    g_source.at += want;
    if (g_source.at == g_source.bytes.size()) g_source.drained.notify_all();
    return static_cast<int>(want);
  }
};

CConnection* Create() {
  return new FuzzLink;
}
std::wstring Name(uint32_t, CtVar*) {
  return L"FuzzFramed";
}
int NoDevice(uint32_t) {
  return 0;
}
const OzkAppDestRegistration g_registration(kFuzzRole, Create, Name, NoDevice);

// Reads at most 64 payload bytes itself, as a callback does, and checks what it was given.
void ReadPayload(CAppDests* dests, CtVar* dest, const void* arg, void*) {
  if (!arg) std::abort();
  uint32_t length;
  std::memcpy(&length, arg, sizeof length);
  uint8_t payload[64];
  const uint32_t want = std::min<uint32_t>(length, sizeof payload);
  if (want) dests->RecvMessage(dest, std::span<uint8_t>(payload, want), want, 0, 0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CtVar* root = new CtVar;
  static CAppDests* dests = new CAppDests(root);
  static CtVar* dest = dests->AddDetectedDest(kFuzzRole, 0);
  {
    std::lock_guard<std::mutex> guard(g_source.mu);
    g_source.bytes.assign(data, data + size);
    g_source.at = 0;
  }
  CMsgHandler* handler = dests->CreateMessageHandler(dest, 0);
  handler->AddMessageFunc(1, ReadPayload, nullptr);
  handler->AddMessageFunc(0x7FFFFFFF, ReadPayload, nullptr);
  {
    std::unique_lock<std::mutex> guard(g_source.mu);
    g_source.drained.wait_for(guard, std::chrono::seconds(2),
                              [] { return g_source.at == g_source.bytes.size(); });
    if (g_source.at != g_source.bytes.size()) std::abort();  // the handler stalled
  }
  const auto start = std::chrono::steady_clock::now();
  dests->DeleteMessageHandler(dest);
  if (std::chrono::steady_clock::now() - start > std::chrono::seconds(3)) std::abort();
  return 0;
}
