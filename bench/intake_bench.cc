// Result intake: results per second that reach the host's result callback, each carrying a
// 640x480 8-bit image and a result record, sent by a server node over loopback TCP to a
// CVelAppClient (connected with its transport-level Connect: no server program, no start-up
// exchange), beside a raw TCP stream of the same bytes per result in the same run; and the
// in-process path (the client's OnNetMessage called directly).
//
// TCP cases: /awaited:0 sends results without waiting (as a stream, the queue held back by TCP),
// /awaited:1 waits for each reply (compare with the raw round trip of the same bytes). /handover:1
// creates the client on a host thread that runs a message loop, so every result is handed to that
// thread (message 1050) before the callback. Counters p50_us and p99_us: time from the server's
// send to the callback.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/server_message_ids.h"
#include "link/vel_app_client.h"
#include "netmsg/lum_wire.h"
#include "netmsg/net_node.h"
#include "netmsg/net_socket.h"
#include "platform/message_loop.h"

namespace {

// The client reads its per-server settings; keep them away from the user's own.
struct PrivateSettings {
  PrivateSettings() {
    char tmpl[] = "/tmp/vel_intake_bench_XXXXXX";
    if (mkdtemp(tmpl)) {
      dir = tmpl;
      setenv("XDG_DATA_HOME", tmpl, 1);
    }
  }
  ~PrivateSettings() {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
  std::string dir;
} g_private_settings;

constexpr uint32_t kWidth = 640, kHeight = 480;
constexpr size_t kFrameHeader = 9;  // length, kind, sequence
constexpr size_t kMaxResults = 1 << 20;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CLumMsg ResultMessage() {
  CLumMsg m(kMsgResults);
  const std::vector<uint8_t> pixels(kWidth * kHeight, 0x40);
  CLumVariant image(LUM_VT_IMAGE);
  image.AddImage(pixels.data(), static_cast<long>(pixels.size()), kWidth, kHeight, 8, 1);
  m.Add(image);
  // The result record's elements: 13 doubles, three 32-byte blocks, two texts, a word, a text.
  CLumVariant record(LUM_VT_DATA);
  const std::vector<uint8_t> doubles(13 * 8, 1), block(32, 2), text(260, 'r'), word(4, 3);
  for (const auto* e : {&doubles, &block, &block, &block, &text, &text, &word, &text})
    record.AddData(e->data(), static_cast<long>(e->size()), true);
  m.Add(record);
  return m;
}

size_t WireBytes(const CLumMsg& m) {
  std::string bytes;
  EncodeLumMsg(m, &bytes);
  return bytes.size() + kFrameHeader;
}

// The host side: counts callbacks and measures each one against its send time (results are
// processed in the order they were sent).
struct Host {
  std::vector<std::atomic<int64_t>> sent = std::vector<std::atomic<int64_t>>(kMaxResults);
  std::vector<int64_t> latency_ns;
  std::atomic<size_t> done{0};

  static void Callback(void* arg) {
    auto* h = static_cast<Host*>(arg);
    const size_t k = h->done.load(std::memory_order_relaxed);
    if (k < kMaxResults) h->latency_ns.push_back(NowNs() - h->sent[k].load());
    h->done.store(k + 1, std::memory_order_release);
  }
  void Report(benchmark::State& state) {
    if (latency_ns.empty()) return;
    std::sort(latency_ns.begin(), latency_ns.end());
    auto at = [&](double q) {
      return static_cast<double>(latency_ns[static_cast<size_t>(q * (latency_ns.size() - 1))]) /
             1000.0;
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
  }
};

class Server : public CNetServerNode {
 public:
  ~Server() override { Close(); }
};

// A client made (and later destroyed) on a host thread that runs a message loop.
class LoopHost {
 public:
  LoopHost() {
    std::promise<CVelAppClient*> made;
    thread_ = std::thread([&] {
      port::MessageLoop loop;
      auto client = std::make_unique<CVelAppClient>();
      loop_ = &loop;
      made.set_value(client.get());
      loop.Run();
      client.reset();
    });
    client_ = made.get_future().get();
  }
  ~LoopHost() {
    loop_->Quit();
    thread_.join();
  }
  CVelAppClient* client() { return client_; }

 private:
  std::thread thread_;
  port::MessageLoop* loop_ = nullptr;
  CVelAppClient* client_ = nullptr;
};

void BM_IntakeTcp(benchmark::State& state) {
  const bool awaited = state.range(0) != 0;
  const bool handover = state.range(1) != 0;
  std::unique_ptr<LoopHost> loop_host;
  std::unique_ptr<CVelAppClient> own;
  CVelAppClient* client;
  if (handover) {
    loop_host = std::make_unique<LoopHost>();
    client = loop_host->client();
  } else {
    own = std::make_unique<CVelAppClient>();
    client = own.get();
  }
  Server server;
  if (server.Listen(0) != 0 || client->Connect("127.0.0.1", server.GetPort()) != 0) {
    state.SkipWithError("no loopback link");
    return;
  }
  while (server.GetClientCount() == 0) std::this_thread::yield();
  const int id = server.GetClientId(0);
  auto host = std::make_unique<Host>();
  host->latency_ns.reserve(kMaxResults);
  client->SetResultsCallback(Host::Callback, host.get());
  CLumMsg message = ResultMessage();
  size_t sent = 0;
  for (auto _ : state) {
    if (sent < kMaxResults) host->sent[sent].store(NowNs());
    CLumMsg reply;
    if (server.SendNetMessage(id, &message, awaited ? &reply : nullptr) != 0) {
      state.SkipWithError("send failed");
      break;
    }
    ++sent;
  }
  while (host->done.load(std::memory_order_acquire) < sent) std::this_thread::yield();
  state.SetItemsProcessed(static_cast<int64_t>(sent));
  state.SetBytesProcessed(static_cast<int64_t>(sent * WireBytes(message)));
  host->Report(state);
  client->SetResultsCallback(nullptr, nullptr);
  client->Disconnect();
}
BENCHMARK(BM_IntakeTcp)
    ->ArgNames({"awaited", "handover"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->UseRealTime();

// The same bytes per result through two plain sockets, read in result-sized pieces.
// /awaited:1 answers each result with the bytes of an empty reply and the sender waits for
// them: the round trip that the awaited intake rows make.
void BM_RawTcpStream(benchmark::State& state) {
  const bool awaited = state.range(0) != 0;
  const size_t bytes = WireBytes(ResultMessage());
  const size_t reply_bytes = WireBytes(CLumMsg());
  int listen_fd, port, client_fd;
  if (netio::TcpListen(0, &listen_fd, &port) != 0 ||
      netio::TcpConnect("127.0.0.1", port, 1000, nullptr, &client_fd) != 0) {
    state.SkipWithError("no loopback link");
    return;
  }
  const int server_fd = accept(listen_fd, nullptr, nullptr);
  std::atomic<size_t> received{0};
  std::thread reader([&] {
    std::vector<char> in(bytes);
    const std::vector<char> reply(reply_bytes, 'r');
    while (netio::RecvAll(client_fd, in.data(), in.size())) {
      if (awaited && !netio::SendAll(client_fd, reply.data(), reply.size())) break;
      received.fetch_add(1, std::memory_order_release);
    }
  });
  const std::vector<char> out(bytes, 'v');
  std::vector<char> answer(reply_bytes);
  size_t sent = 0;
  for (auto _ : state) {
    if (!netio::SendAll(server_fd, out.data(), out.size()) ||
        (awaited && !netio::RecvAll(server_fd, answer.data(), answer.size()))) {
      state.SkipWithError("send failed");
      break;
    }
    ++sent;
  }
  while (received.load(std::memory_order_acquire) < sent) std::this_thread::yield();
  shutdown(server_fd, SHUT_RDWR);
  reader.join();
  close(client_fd);
  close(server_fd);
  close(listen_fd);
  state.SetItemsProcessed(static_cast<int64_t>(sent));
  state.SetBytesProcessed(static_cast<int64_t>(sent * bytes));
}
BENCHMARK(BM_RawTcpStream)->ArgName("awaited")->Arg(0)->Arg(1)->UseRealTime();

// In process: the message handed to the client's OnNetMessage on its own thread.
void BM_IntakeInProcess(benchmark::State& state) {
  CVelAppClient client;
  auto host = std::make_unique<Host>();
  client.SetResultsCallback(Host::Callback, host.get());
  CLumMsg message = ResultMessage();
  size_t sent = 0;
  for (auto _ : state) {
    if (sent < kMaxResults) host->sent[sent].store(NowNs());
    CLumMsg reply;
    client.OnNetMessage(&message, &reply);
    ++sent;
  }
  state.SetItemsProcessed(static_cast<int64_t>(sent));
  host->Report(state);
}
BENCHMARK(BM_IntakeInProcess)->UseRealTime();

}  // namespace
