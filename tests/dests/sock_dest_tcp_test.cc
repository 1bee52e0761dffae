// Socket destinations over real TCP: the network node's sockets against plain peers written
// here, on ports the system chooses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "dests/app_dests.h"
#include "dests/connection.h"
#include "tests/dests/tcp_peer.h"
#include "vartree/tvar.h"

namespace {

using namespace std::chrono_literals;
using testpeer::WaitUntil;

std::span<const uint8_t> Bytes(const std::string& s) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

class SockDestRealTcp : public ::testing::Test {
 protected:
  void SetUp() override { dests.SetServerEngine(true); }
  // The destination's name, for the by-name operations.
  static std::string Name(CtVar* dest) { return std::string(dest->NameView()); }
  // Sends until the destination has a peer and accepts the bytes.
  bool SendWhenReady(CtVar* dest, const std::string& text) {
    return WaitUntil([&] { return dests.SendMessageW(dest, Bytes(text), 0, 0, nullptr) == 1; });
  }

  CtVar root;
  CAppDests dests{&root};
};

TEST_F(SockDestRealTcp, AClientConnectsToAPlainListenerAndTrafficFlowsBothWays) {
  testpeer::Listener peer;
  ASSERT_GE(peer.fd, 0);
  CtVar* dest = dests.AddDest(6, peer.port, "127.0.0.1", 0, 0);
  ASSERT_NE(dest, nullptr);
  dests.SendMessageW(dest, Bytes(""), 0, 0, nullptr);  // opens the connection
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(WaitUntil([&] { return dests.IsConnected(dest) == 1; }));
  ASSERT_EQ(dests.SendMessageW(dest, Bytes("hello\r\n"), 0, 0, nullptr), 1);
  EXPECT_EQ(testpeer::ReadSome(peer.peer, 7), "hello\r\n");

  ASSERT_TRUE(testpeer::SendText(peer.peer, "first\r\nsecond\n"));
  std::string line;
  ASSERT_TRUE(WaitUntil([&] {
    line = dests.RecvQueuedMessage(Name(dest).c_str(), 256, '\r');
    return !line.empty();
  }));
  EXPECT_EQ(line, "first");
  EXPECT_EQ(dests.RecvQueuedMessage(Name(dest).c_str(), 256, '\n'), "second");
}

TEST_F(SockDestRealTcp, AServerAdoptsAPlainClientAndAVanishedPeerIsReplacedByTheNext) {
  const uint16_t port = testpeer::FreePort();
  CtVar* dest = dests.AddDest(1, port, nullptr, 0, 0);
  ASSERT_NE(dest, nullptr);
  EXPECT_EQ(dests.SendMessageW(dest, Bytes("nobody"), 0, 0, nullptr), 0);

  auto first = std::make_unique<testpeer::Client>(port);
  ASSERT_GE(first->fd, 0);
  ASSERT_TRUE(SendWhenReady(dest, "one\n"));
  EXPECT_EQ(testpeer::ReadSome(first->fd, 4), "one\n");
  first.reset();  // connects and vanishes

  ASSERT_TRUE(WaitUntil([&] { return dests.IsConnected(dest) == 0; }));
  EXPECT_EQ(dests.SendMessageW(dest, Bytes("lost"), 0, 0, nullptr), 0);
  testpeer::Client second(port);
  ASSERT_GE(second.fd, 0);
  ASSERT_TRUE(SendWhenReady(dest, "two\n"));
  EXPECT_EQ(testpeer::ReadSome(second.fd, 4), "two\n");
}

TEST_F(SockDestRealTcp, SixtyFourKibWithoutALineEndKeepsTheReaderBoundedAndResponsive) {
  const uint16_t port = testpeer::FreePort();
  CtVar* dest = dests.AddDest(1, port, nullptr, 0, 0);
  testpeer::Client peer(port);
  ASSERT_TRUE(SendWhenReady(dest, ""));
  ASSERT_TRUE(testpeer::SendText(peer.fd, std::string(64 * 1024, 'x')));
  const std::string name = Name(dest);
  // No line yet: nothing comes back, whatever is read stays within the 1024-byte ring.
  for (int i = 0; i < 100; ++i) EXPECT_EQ(dests.RecvQueuedMessage(name.c_str(), 2048, '\n'), "");
  ASSERT_TRUE(testpeer::SendText(peer.fd, "\nok\n"));
  std::string tail;
  ASSERT_TRUE(WaitUntil([&] {
    tail = dests.RecvQueuedMessage(name.c_str(), 2048, '\n');
    return !tail.empty();
  }));
  EXPECT_LT(tail.size(), CConnection::kLineRingSize);
  EXPECT_EQ(tail.find_first_not_of('x'), std::string::npos);
  std::string ok;
  ASSERT_TRUE(WaitUntil([&] {
    ok = dests.RecvQueuedMessage(name.c_str(), 2048, '\n');
    return !ok.empty();
  }));
  EXPECT_EQ(ok, "ok");
}

TEST_F(SockDestRealTcp, APeerThatVanishesEmptiesTheLineRing) {
  testpeer::Listener peer;
  CtVar* dest = dests.AddDest(6, peer.port, "127.0.0.1", 0, 0);
  dests.SendMessageW(dest, Bytes(""), 0, 0, nullptr);
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(SendWhenReady(dest, ""));
  ASSERT_TRUE(testpeer::SendText(peer.peer, "half a li"));
  const std::string name = Name(dest);
  EXPECT_TRUE(WaitUntil([&] {
    dests.RecvQueuedMessage(name.c_str(), 256, '\n');
    return dests.IsConnected(dest) == 1;
  }));
  close(peer.peer);
  peer.peer = -1;
  EXPECT_EQ(dests.RecvQueuedMessage(name.c_str(), 256, '\n'), "");
  // After the next peer the old half line does not prefix the new one.
  ASSERT_TRUE(peer.Accept(4000));
  ASSERT_TRUE(SendWhenReady(dest, ""));
  ASSERT_TRUE(testpeer::SendText(peer.peer, "ne\n"));
  std::string line;
  ASSERT_TRUE(WaitUntil([&] {
    line = dests.RecvQueuedMessage(name.c_str(), 256, '\n');
    return !line.empty();
  }));
  EXPECT_EQ(line, "ne");
}

// A message handler on a server destination, its peer a plain TCP client.
TEST_F(SockDestRealTcp, AFramedHeaderAnnouncingFourGibNeitherHangsNorGrows) {
  const uint16_t port = testpeer::FreePort();
  CtVar* dest = dests.AddDest(1, port, nullptr, 0, 0);
  ASSERT_NE(dests.CreateMessageHandler(dest, 0), nullptr);
  testpeer::Client peer(port);
  uint8_t header[8];
  const uint32_t id = 77, length = 0xFFFFFFFFu;
  std::memcpy(header, &id, 4);
  std::memcpy(header + 4, &length, 4);
  ASSERT_EQ(send(peer.fd, header, sizeof header, MSG_NOSIGNAL), 8);
  ASSERT_TRUE(testpeer::SendText(peer.fd, std::string(100000, 'p')));
  std::this_thread::sleep_for(300ms);
  peer.Close();  // and then the peer vanishes mid-payload
  const auto start = std::chrono::steady_clock::now();
  dests.DeleteMessageHandler(dest);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(dests.GetMessageHandler(dest), nullptr);
}

}  // namespace
