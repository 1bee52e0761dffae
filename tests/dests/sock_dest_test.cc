#include "dests/sock_dest.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
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

using namespace std::chrono_literals;

std::span<const uint8_t> Text(const std::string& s) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// A plain UDP socket on a loopback port chosen by the system.
struct UdpPeer {
  UdpPeer() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    timeval tv{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  }
  ~UdpPeer() { close(fd); }
  uint16_t Port() const { return ntohs(addr.sin_port); }
  void SendTo(uint16_t port, const std::string& s) {
    sockaddr_in to = addr;
    to.sin_port = htons(port);
    sendto(fd, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
  }
  std::string Receive(sockaddr_in* from = nullptr) {
    char buf[2000];
    sockaddr_in sender{};
    socklen_t len = sizeof(sender);
    const ssize_t n = recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&sender), &len);
    if (from) *from = sender;
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
  int fd;
  sockaddr_in addr{};
};

uint16_t FreeUdpPort() {
  UdpPeer probe;
  return probe.Port();
}

TEST(SockDestUdpTest, ServerAnswersOnlyAPeerThatHasSpoken) {
  CtVar root;
  CAppDests dests(&root);
  const uint16_t port = FreeUdpPort();
  CtVar* server = dests.AddDest(1, port, nullptr, 0, 1);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(dests.SendMessageW(server, Text("early"), 0, 0, nullptr), 0);

  UdpPeer peer;
  peer.SendTo(port, "hello\nwor");
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(dests.RecvQueuedMessage("1", 100, '\n'), "hello");
  EXPECT_EQ(dests.RecvQueuedMessage("1", 100, '\n'), "");
  EXPECT_EQ(dests.SendMessageW(server, Text("reply"), 0, 0, nullptr), 1);
  EXPECT_EQ(peer.Receive(), "reply");
}

TEST(SockDestUdpTest, ClientSendsToItsHostAndReadsWholeDatagrams) {
  CtVar root;
  CAppDests dests(&root);
  UdpPeer peer;
  CtVar* client = dests.AddDest(6, peer.Port(), "127.0.0.1", 0, 1);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(dests.GetDestDescription(client, 0),
            L"Client 127.0.0.1:" + std::to_wstring(peer.Port()));
  EXPECT_EQ(dests.SendMessageW(client, Text("abc"), 0, 0, nullptr), 1);
  sockaddr_in from{};
  EXPECT_EQ(peer.Receive(&from), "abc");
  sendto(peer.fd, "xyz", 3, 0, reinterpret_cast<sockaddr*>(&from), sizeof(from));
  std::this_thread::sleep_for(50ms);
  uint8_t buf[16] = {};
  EXPECT_EQ(
      dests.RecvMessage(client, std::span<uint8_t>(buf, sizeof(buf)), sizeof(buf), 0, 0, nullptr),
      3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "xyz");
}

// Network node sockets that record the calls; the platform socket is one end of a socket pair
// whose other end the test holds.
class FakeNet : public XNetSockets {
 public:
  FakeNet() { socketpair(AF_UNIX, SOCK_STREAM, 0, pair); }
  ~FakeNet() override {
    close(pair[0]);
    if (pair[1] >= 0) close(pair[1]);
  }
  NetSockHandle NetCreateServerSocket() override { return this; }
  NetSockHandle NetCreateClientSocket() override { return this; }
  int NetListen(NetSockHandle, int port) override { return listened = port; }
  int NetIsListening(NetSockHandle) override { return connected; }
  int NetConnect(NetSockHandle, const char*, int) override {
    ++connects;
    return 0;
  }
  int NetIsConnected(NetSockHandle) override { return connected; }
  int NetSend(NetSockHandle, std::span<const uint8_t> data) override {
    std::lock_guard<std::mutex> guard(mu);
    sent.append(data.begin(), data.end());
    return static_cast<int>(data.size());
  }
  int NetRecv(NetSockHandle, std::span<uint8_t>, uint32_t) override { return 0; }
  int NetGetSocket(NetSockHandle) override { return pair[0]; }
  void NetDisconnect(NetSockHandle) override {
    ++disconnects;
    connected = 0;
  }
  void NetDeleteSocket(NetSockHandle) override {}

  int pair[2];
  std::atomic<int> connected{0};
  std::atomic<int> connects{0};
  std::atomic<int> disconnects{0};
  int listened = 0;
  std::mutex mu;
  std::string sent;
};

class SockDestTcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installed = GetNetSockets();
    SetNetSockets(&net);
  }
  void TearDown() override { SetNetSockets(installed); }
  XNetSockets* installed = nullptr;
  FakeNet net;
  CtVar root;
};

TEST_F(SockDestTcpTest, WithoutANetworkNodeNothingIsConnected) {
  SetNetSockets(nullptr);
  CAppDests dests(&root);
  CtVar* client = dests.AddDest(6, 7000, "127.0.0.1", 0, 0);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(dests.SendMessageW(client, Text("x"), 0, 0, nullptr), 0);
  EXPECT_EQ(dests.IsConnected(client), 0);
}

TEST_F(SockDestTcpTest, AClientRetriesOnceASecondAndSendsNothingWhileDown) {
  CAppDests dests(&root);
  dests.SetServerEngine(true);
  CtVar* client = dests.AddDest(6, 7001, "127.0.0.1", 0, 0);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(dests.SendMessageW(client, Text("x"), 0, 0, nullptr), 0);
  std::this_thread::sleep_for(2300ms);
  EXPECT_GE(net.connects.load(), 2);
  EXPECT_LE(net.connects.load(), 4);
  EXPECT_TRUE(net.sent.empty());
}

TEST_F(SockDestTcpTest, TheLinkCheckDropsAFloodAndNoticesAClosedPeer) {
  CAppDests dests(&root);
  dests.SetServerEngine(true);
  net.connected = 1;
  CtVar* client = dests.AddDest(6, 7002, "127.0.0.1", 0, 0);
  ASSERT_NE(client, nullptr);
  ASSERT_EQ(dests.SendMessageW(client, Text("hi"), 0, 0, nullptr), 1);
  const std::string flood(1500, 'f');
  ASSERT_EQ(write(net.pair[1], flood.data(), flood.size()), 1500);
  std::this_thread::sleep_for(1300ms);
  int waiting = -1;
  ioctl(net.pair[0], FIONREAD, &waiting);
  EXPECT_EQ(waiting, 0);
  EXPECT_EQ(net.disconnects.load(), 0);
  close(net.pair[1]);
  net.pair[1] = -1;
  std::this_thread::sleep_for(1300ms);
  EXPECT_GE(net.disconnects.load(), 1);
}

TEST_F(SockDestTcpTest, The5020ServerHoldsItsPendingTextForTheNextPeer) {
  CAppDests dests(&root);
  dests.SetServerEngine(true);
  CtVar* server = dests.AddDest(1, 5020, nullptr, 0, 0);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(net.listened, 5020);
  dests.UpdateSysDest(SYS_DEST_SOCK_5020, server);
  dests.SetPendingText("welcome");
  EXPECT_EQ(dests.SendMessageW(server, Text("lost"), 0, 0, nullptr), 0);
  net.connected = 1;
  EXPECT_EQ(dests.SendMessageW(server, Text("data"), 0, 0, nullptr), 1);
  EXPECT_EQ(dests.SendMessageW(server, Text("more"), 0, 0, nullptr), 1);
  EXPECT_EQ(net.sent, std::string("welcome\0datamore", 16));
}

}  // namespace
