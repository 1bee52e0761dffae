// Server-link costs: a remote variable read round trip over loopback TCP beside a raw TCP
// ping-pong of the same byte counts, and message encode+decode throughput beside memcpy.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/tvar_remote_ops.h"
#include "link/vel_rpc.h"
#include "netmsg/lum_wire.h"
#include "netmsg/net_node.h"
#include "netmsg/net_socket.h"
#include "vartree/tvar.h"

namespace {

class Server : public CNetServerNode {
 public:
  ~Server() override { Close(); }
  int OnNetMessage(int, CLumMsg* request, CLumMsg* reply) override {
    return rpc.OnNetMessage(request, reply);
  }
  CVelRpc rpc{this};
};

class Client : public CNetClientNode {
 public:
  ~Client() override { Disconnect(); }
  CVelRpc rpc{this};
};

constexpr char kName[] = "AppVar.Speed";
constexpr size_t kFrameHeader = 9;  // length, kind, sequence

// Bytes on the wire for one read request and its reply.
std::pair<size_t, size_t> ReadRoundTripBytes() {
  CLumMsg request(kMsgVarRead);
  request.Add(CLumVariant(kName));
  request.Add(CLumVariant(0));
  CLumMsg reply(kMsgVarRead);
  CLumVariant texts(LUM_VT_EMPTY);
  texts.SetString("", 0);
  texts.SetString("", 1);
  reply.Add(CLumVariant(0));
  reply.Add(CLumVariant(12.5));
  reply.Add(CLumVariant(0u));
  reply.Add(texts);
  reply.Add(CLumVariant(1));
  std::string a, b;
  EncodeLumMsg(request, &a);
  EncodeLumMsg(reply, &b);
  return {a.size() + kFrameHeader, b.size() + kFrameHeader};
}

void BM_RemoteVarRead(benchmark::State& state) {
  CtVar tree;
  tree[kName] = 12.5;
  Server server;
  server.rpc.SetRootTVar(&tree);
  Client client;
  if (server.Listen(0) != 0 || client.Connect("127.0.0.1", server.GetPort()) != 0) {
    state.SkipWithError("no loopback link");
    return;
  }
  TVarRemoteValue value;
  for (auto _ : state) {
    if (tVarReadRmtO(&client.rpc, kName, 0, &value) != 1 || value.number != 12.5) {
      state.SkipWithError("read failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RemoteVarRead)->UseRealTime();

void BM_RawTcpPingPong(benchmark::State& state) {
  const auto [request_bytes, reply_bytes] = ReadRoundTripBytes();
  state.counters["request_bytes"] = static_cast<double>(request_bytes);
  state.counters["reply_bytes"] = static_cast<double>(reply_bytes);
  int listen_fd, port, client_fd;
  if (netio::TcpListen(0, &listen_fd, &port) != 0 ||
      netio::TcpConnect("127.0.0.1", port, 1000, nullptr, &client_fd) != 0) {
    state.SkipWithError("no loopback link");
    return;
  }
  const int server_fd = accept(listen_fd, nullptr, nullptr);
  std::thread echo([&, server_fd] {
    std::vector<char> in(request_bytes), out(reply_bytes, 'r');
    while (netio::RecvAll(server_fd, in.data(), in.size()) &&
           netio::SendAll(server_fd, out.data(), out.size())) {
    }
  });
  std::vector<char> out(request_bytes, 'q'), in(reply_bytes);
  for (auto _ : state) {
    netio::SendAll(client_fd, out.data(), out.size());
    netio::RecvAll(client_fd, in.data(), in.size());
  }
  shutdown(client_fd, SHUT_RDWR);
  echo.join();
  close(client_fd);
  close(server_fd);
  close(listen_fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawTcpPingPong)->UseRealTime();

CLumMsg ResultLikeMessage() {
  CLumMsg m(20500);
  for (int i = 0; i < 13; ++i) m.Add(CLumVariant(i * 1.5));
  const std::vector<uint8_t> block(32, 0xab);
  for (int i = 0; i < 3; ++i) m.Add(CLumVariant(block.data(), 32, true));
  m.Add(CLumVariant("Passed"));
  m.Add(CLumVariant("Camera 01"));
  m.Add(CLumVariant("solution03"));
  const std::vector<uint8_t> pixels(640 * 480, 0x40);
  CLumVariant image(LUM_VT_EMPTY);
  image.AddImage(pixels.data(), static_cast<long>(pixels.size()), 640, 480, 8, 1);
  m.Add(image);
  return m;
}

void BM_ResultEncodeDecode(benchmark::State& state) {
  const CLumMsg m = ResultLikeMessage();
  std::string bytes;
  CLumMsg back;
  for (auto _ : state) {
    bytes.clear();
    EncodeLumMsg(m, &bytes);
    if (!DecodeLumMsg(bytes, &back)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(back);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ResultEncodeDecode);

void BM_ResultMemcpy(benchmark::State& state) {
  std::string encoded;
  EncodeLumMsg(ResultLikeMessage(), &encoded);
  std::vector<char> src(encoded.begin(), encoded.end()), dst(encoded.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_ResultMemcpy);

}  // namespace
