// Result lines per second: SendFormattedAppData with 20 columns to a TCP peer on the result
// port 5022, beside a raw send() loop of the same line bytes over a plain loopback connection,
// in the same run. Both peers read and discard on their own thread. A third case builds the
// line without sending it (quiet), the manager's own share.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "dests/app_dests.h"
#include "vartree/tvar.h"

namespace {

constexpr int kResultPort = 5022;
constexpr int kColumns = 20;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

int ConnectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads and throws away everything fd receives until it closes.
class Drain {
 public:
  explicit Drain(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~Drain() {
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  // The first bytes it saw (at most 4096), once at least size of them arrived or 2 s passed.
  std::string First(size_t size) {
    for (int i = 0; i < 2000 && seen_.load() < size; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> guard(mu_);
    return first_;
  }

 private:
  void Run() {
    char buf[65536];
    for (;;) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return;
      {
        std::lock_guard<std::mutex> guard(mu_);
        if (first_.size() < 4096) first_.append(buf, std::min<size_t>(n, 4096 - first_.size()));
      }
      seen_ += static_cast<size_t>(n);
    }
  }
  int fd_;
  std::mutex mu_;
  std::string first_;
  std::atomic<size_t> seen_{0};
  std::thread thread_;
};

// A manager whose result port is a TCP server on 5022 with a reading peer, over a tree with
// AppVar.Result and 19 marked measurements.
struct ResultPort {
  ResultPort() {
    root["AppVar.Result"] = 1.0;
    for (int i = 1; i < kColumns; ++i) {
      CtVar& v = root[("AppVar.Tool" + std::to_string(i)).c_str()];
      v = 1000.0 / (i + 7);
      v.SetOptions(TVAR_OPT_RESULT_VAR);
    }
    dests.SetServerEngine(true);
    port = dests.AddDest(1, kResultPort, nullptr, 0, 0);
    dests.UpdateSysDest(SYS_DEST_RESULT_PORT, port);
    const int fd = ConnectTo(kResultPort);
    if (fd < 0) return;
    drain = std::make_unique<Drain>(fd);
    for (int i = 0; i < 300 && !dests.IsConnected(port); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool Ready() { return drain && dests.IsConnected(port); }

  CtVar root;
  CAppDests dests{&root};
  CtVar* port = nullptr;
  std::unique_ptr<Drain> drain;
};

void BM_SendFormattedAppData(benchmark::State& state) {
  ResultPort rp;
  if (!rp.Ready()) {
    state.SkipWithError("port 5022 is held by another program or cannot be reached");
    return;
  }
  uint32_t frame = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(rp.dests.SendFormattedAppData(++frame, 0, nullptr, 0));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendFormattedAppData)->UseRealTime();

// The same line bytes (the header went out once; every line after it has the same length as
// frame numbers of equal width) through send() on a plain connection.
void BM_RawSendOfTheSameLines(benchmark::State& state) {
  std::string line;
  {
    ResultPort rp;
    if (!rp.Ready()) {
      state.SkipWithError("port 5022 is held by another program or cannot be reached");
      return;
    }
    rp.dests.SendFormattedAppData(1, 0, nullptr, 0);
    // The header and the line each go with their terminating zero.
    const size_t header = rp.dests.GetAppDataFormat(0).size() + 1;
    const std::string seen = rp.drain->First(header + 2 * kColumns);
    const size_t end = seen.find('\0', header);
    if (end == std::string::npos) {
      state.SkipWithError("the result line did not arrive");
      return;
    }
    line = seen.substr(header, end + 1 - header);
  }
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listener, 1);
  socklen_t len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  const int out = ConnectTo(ntohs(a.sin_port));
  int one = 1;
  setsockopt(out, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Drain drain(accept(listener, nullptr, nullptr));
  for (auto _ : state) benchmark::DoNotOptimize(send(out, line.data(), line.size(), MSG_NOSIGNAL));
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(line.size()) + " bytes a line");
  close(out);
  close(listener);
}
BENCHMARK(BM_RawSendOfTheSameLines)->UseRealTime();

// The line alone, built and dropped (quiet): what the manager adds before the socket.
void BM_ResultLineQuiet(benchmark::State& state) {
  ResultPort rp;
  uint32_t frame = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(rp.dests.SendFormattedAppData(++frame, 0, nullptr, 1));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResultLineQuiet);

}  // namespace

BENCHMARK_MAIN();
