#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netmsg/net_node.h"
#include "netmsg/net_socket.h"

namespace {

using Handler = std::function<void(CLumMsg*, CLumMsg*)>;

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  for (int i = 0; i < ms / 5; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

class TestServer : public CNetServerNode {
 public:
  ~TestServer() override { Close(); }
  int OnNetMessage(int client, CLumMsg* request, CLumMsg* reply) override {
    if (handler) handler(request, reply);
    return 0;
  }
  void OnClientDisconnect(int client, int reason) override {
    last_reason = reason;
    ++disconnects;
  }
  // Answers a stream with its bytes reversed.
  int OnRcvStreamStart(int client, int id, int length) override {
    std::vector<unsigned char> bytes(length);
    if (StreamRead(length, bytes.data()) != 0) return 0;
    std::vector<unsigned char> answer(bytes.rbegin(), bytes.rend());
    SendStreamStart(id, length, 0);
    StreamWrite(length, answer.data());
    return 0;
  }
  Handler handler;
  std::atomic<int> disconnects{0};
  std::atomic<int> last_reason{-1};
};

class TestClient : public CNetClientNode {
 public:
  ~TestClient() override { Disconnect(); }
  int OnNetMessage(CLumMsg* request, CLumMsg* reply) override {
    if (handler) handler(request, reply);
    return 0;
  }
  void OnDisconnect(int reason) override { ++disconnects; }
  Handler handler;
  std::atomic<int> disconnects{0};
};

// A server and a connected client on an ephemeral loopback port.
class NetNodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(server.Listen(0), 0);
    ASSERT_EQ(client.Connect("127.0.0.1", server.GetPort()), 0);
    ASSERT_TRUE(WaitFor([&] { return server.GetClientCount() == 1; }));
    client_id = server.GetClientId(0);
  }
  TestServer server;
  TestClient client;
  int client_id = -1;
};

CLumMsg Numbered(int32_t id, int n) {
  CLumMsg m(id);
  m.Add(CLumVariant(n));
  return m;
}

TEST(NetNodeConnect, RefusedAndUnknownHost) {
  int fd, port;
  ASSERT_EQ(netio::TcpListen(0, &fd, &port), 0);
  close(fd);  // nothing listens there now
  TestClient client;
  EXPECT_EQ(client.Connect("127.0.0.1", port), 10061);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(client.Connect("no-such-host.invalid", 5005), kNetErrHostNotFound);
  CLumMsg m(1);
  EXPECT_EQ(client.SendNetMessage(&m, &m), kNetErrNotConnected);
}

TEST_F(NetNodeTest, OneWayRequestIsDelivered) {
  std::atomic<int> seen{0};
  server.handler = [&](CLumMsg* req, CLumMsg*) { seen = static_cast<int>(req->Get(0)); };
  CLumMsg m = Numbered(20668, 42);
  EXPECT_EQ(client.SendNetMessage(&m, nullptr), 0);
  EXPECT_TRUE(WaitFor([&] { return seen == 42; }));
}

TEST_F(NetNodeTest, BurstOfLargeAndSmallFramesArrivesIntactInOrder) {
  // Block sizes around the read chunk and past the kept read buffer, between small frames, and a
  // frame of more large blocks than one send call takes. The receiver keeps every message whole:
  // a read buffer written again under a message that still shares it would show.
  struct Frame {
    size_t blocks, size;
  };
  const std::vector<Frame> frames = {
      {1, 10},      {1, 640 * 480}, {1, 3}, {1, 64 * 1024 - 20}, {1, 5u << 20}, {1, 7},
      {1200, 4096}, {1, 640 * 480}, {1, 1}};
  std::mutex mu;
  std::vector<CLumMsg> seen;
  server.handler = [&](CLumMsg* req, CLumMsg*) {
    std::lock_guard lock(mu);
    seen.push_back(*req);
  };
  std::vector<CLumMsg> sent;
  for (size_t i = 0; i < frames.size(); ++i) {
    CLumVariant blocks(LUM_VT_DATA);
    for (size_t b = 0; b < frames[i].blocks; ++b) {
      std::string bytes(frames[i].size, static_cast<char>('a' + i));
      bytes[bytes.size() / 2] = static_cast<char>(b);
      blocks.AddData(bytes.data(), static_cast<long>(bytes.size()), true);
    }
    CLumMsg m(20500);
    m.Add(std::move(blocks));
    ASSERT_EQ(client.SendNetMessage(&m, nullptr), 0);
    sent.push_back(std::move(m));
  }
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard lock(mu);
    return seen.size() == sent.size();
  }));
  std::lock_guard lock(mu);
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_TRUE(seen[i] == sent[i]) << i;
}

TEST_F(NetNodeTest, NestedCallsInBothDirectionsDoNotDeadlock) {
  // client -> server -> client -> server: every side waits inside a handler.
  server.handler = [&](CLumMsg* req, CLumMsg* reply) {
    const int n = static_cast<int>(req->Get(0));
    if (n == 0) {
      reply->Add(CLumVariant(100));
      return;
    }
    CLumMsg ask = Numbered(1, n - 1), answer;
    ASSERT_EQ(server.SendNetMessage(client_id, &ask, &answer), 0);
    reply->Add(CLumVariant(static_cast<int>(answer.Get(0)) + 1));
  };
  client.handler = [&](CLumMsg* req, CLumMsg* reply) {
    CLumMsg ask = Numbered(1, static_cast<int>(req->Get(0))), answer;
    ASSERT_EQ(client.SendNetMessage(&ask, &answer), 0);
    reply->Add(CLumVariant(static_cast<int>(answer.Get(0)) + 1));
  };
  CLumMsg m = Numbered(1, 3), reply;
  ASSERT_EQ(client.SendNetMessage(&m, &reply), 0);
  EXPECT_EQ(static_cast<int>(reply.Get(0)), 106);
}

TEST_F(NetNodeTest, InterleavedRequestsKeepTheirReplies) {
  server.handler = [](CLumMsg* req, CLumMsg* reply) { *reply = *req; };
  client.handler = [](CLumMsg* req, CLumMsg* reply) { *reply = *req; };
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const int n = t * 1000 + i;
        CLumMsg m = Numbered(n, n), reply;
        const int err = (t % 2) ? server.SendNetMessage(client_id, &m, &reply)
                                : client.SendNetMessage(&m, &reply);
        if (err || reply.GetId() != n || static_cast<int>(reply.Get(0)) != n) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches, 0);
}

TEST_F(NetNodeTest, PeerLossReleasesWaiterAndReportsOnce) {
  server.handler = [&](CLumMsg*, CLumMsg*) { server.DisconnectClient(client_id); };
  CLumMsg m(5), reply;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(client.SendNetMessage(&m, &reply), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(WaitFor([&] { return client.disconnects == 1; }));
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(client.SendNetMessage(&m, &reply), kNetErrNotConnected);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(client.disconnects, 1);
  EXPECT_EQ(server.disconnects, 0);  // the server ended it itself
}

TEST_F(NetNodeTest, LocalDisconnectReportsToPeerOnly) {
  client.Disconnect();
  EXPECT_TRUE(WaitFor([&] { return server.disconnects == 1; }));
  EXPECT_EQ(server.GetClientCount(), 0);
  EXPECT_EQ(client.disconnects, 0);
}

TEST_F(NetNodeTest, BadFrameEndsOnlyThatConnection) {
  server.handler = [](CLumMsg* req, CLumMsg* reply) { *reply = *req; };
  const std::vector<std::string> frames = {
      std::string("\xff\xff\xff\xff", 4),                                 // beyond the size limit
      std::string("\x06\0\0\0\x01\0\0\0\0\x07", 10),                      // a message cut short
      std::string("\x0d\0\0\0\x01\x01\0\0\0\0\0\0\0\x01\0\0\0\x0f", 18),  // unknown type
  };
  for (const std::string& frame : frames) {
    const int before = server.disconnects;
    int fd;
    ASSERT_EQ(netio::TcpConnect("127.0.0.1", server.GetPort(), 1000, nullptr, &fd), 0);
    ASSERT_TRUE(netio::SendAll(fd, frame.data(), frame.size()));
    EXPECT_TRUE(WaitFor([&] { return server.disconnects == before + 1; }));
    EXPECT_EQ(server.last_reason, kNetErrBadFrame);
    close(fd);
  }
  CLumMsg m = Numbered(9, 9), reply;
  ASSERT_EQ(client.SendNetMessage(&m, &reply), 0);
  EXPECT_EQ(reply, m);
}

TEST_F(NetNodeTest, StreamEndToEnd) {
  std::vector<unsigned char> bytes(100);
  for (int i = 0; i < 100; ++i) bytes[i] = static_cast<unsigned char>(i);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(client.SendStreamStart(20629, 100, 0), 0);
    ASSERT_EQ(client.StreamWrite(60, bytes.data()), 0);
    ASSERT_EQ(client.StreamWrite(40, bytes.data() + 60), 0);
    int length = -1;
    ASSERT_EQ(client.ResponseStreamStart(&length), 0);
    EXPECT_EQ(length, 100);
    std::vector<unsigned char> answer(100);
    ASSERT_EQ(client.StreamRead(100, answer.data()), 0);
    EXPECT_EQ(answer, std::vector<unsigned char>(bytes.rbegin(), bytes.rend()));
    EXPECT_EQ(client.StreamEnd(), 0);
  }
}

TEST(NetSocketFunctions, ServerAdoptsPeerAndBytesFlow) {
  NetSocket* server = NetCreateServerSocket();
  NetSocket* client = NetCreateClientSocket();
  ASSERT_EQ(NetListen(server, 0), 0);
  EXPECT_EQ(NetIsListening(server), 1);
  EXPECT_EQ(NetIsConnected(server), 0);
  ASSERT_EQ(NetConnect(client, "127.0.0.1", NetGetListenPort(server)), 0);
  EXPECT_TRUE(WaitFor([&] { return NetIsConnected(server) == 1; }));
  EXPECT_GE(NetGetSocket(server), 0);
  EXPECT_EQ(NetSend(client, "hello", 5), 5);
  char buf[16] = {};
  EXPECT_EQ(NetRecv(server, buf, sizeof buf, 1), 5);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(NetRecv(server, buf, sizeof buf, 0), -1);  // nothing waiting
  NetDisconnect(client);
  EXPECT_TRUE(WaitFor([&] { return NetIsConnected(server) == 0; }));
  EXPECT_EQ(NetSend(client, "x", 1), -1);
  NetDeleteSocket(client);
  NetDeleteSocket(server);
}

TEST(NetSocketFunctions, AWaitingReaderHoldsUpNeitherSendsNorADisconnect) {
  NetSocket* server = NetCreateServerSocket();
  NetSocket* client = NetCreateClientSocket();
  ASSERT_EQ(NetListen(server, 0), 0);
  ASSERT_EQ(NetConnect(client, "127.0.0.1", NetGetListenPort(server)), 0);
  ASSERT_TRUE(WaitFor([&] { return NetIsConnected(server) == 1; }));
  ASSERT_EQ(NetSetEventWaiting(client, 1), 0);  // the reader below waits without limit
  std::atomic<int> got{-2};
  std::thread reader([&] {
    char buf[8];
    got = NetRecv(client, buf, sizeof buf, 1);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NetSend(client, "ping", 4), 4);
  EXPECT_EQ(NetDisconnect(client), 0);
  reader.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(got.load(), -1);
  char buf[8] = {};
  EXPECT_EQ(NetRecv(server, buf, sizeof buf, 1), 4);
  EXPECT_EQ(NetIsListening(server), 1);
  EXPECT_TRUE(WaitFor([&] { return NetIsConnected(server) == 0; }));
  NetDeleteSocket(client);
  NetDeleteSocket(server);
}

TEST(NetSocketFunctions, ListeningOnAHeldPortReportsAddressInUse) {
  NetSocket* first = NetCreateServerSocket();
  NetSocket* second = NetCreateServerSocket();
  ASSERT_EQ(NetListen(first, 0), 0);
  EXPECT_EQ(NetListen(second, NetGetListenPort(first)), kNetErrAddrInUse);
  EXPECT_EQ(NetIsListening(second), 0);
  NetDeleteSocket(first);
  NetDeleteSocket(second);
}

}  // namespace
