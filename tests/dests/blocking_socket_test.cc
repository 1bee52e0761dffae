#include "dests/blocking_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/dests/tcp_peer.h"

namespace {

using Clock = std::chrono::steady_clock;
using testpeer::Listener;
using testpeer::Loopback;

TEST(BlockingSocketExceptionTest, TextAndCutting) {
  EXPECT_EQ(CBlockingSocketException("Bind", 10048).GetErrorMessage(), "Bind error #10048");
  char small[8];
  ASSERT_TRUE(CBlockingSocketException("Bind", 10048).GetErrorMessage(small));
  EXPECT_STREQ(small, "Bind er");
  EXPECT_FALSE(CBlockingSocketException("Bind", 1).GetErrorMessage(std::span<char>()));
  errno = 0;
  EXPECT_EQ(CBlockingSocketException("GetSockName").GetErrorMessage(), "GetSockName error");
}

TEST(BlockingSocketTest, BindingATakenPortThrowsWithTheSystemCode) {
  Listener taken;
  CBlockingSocket s;
  s.Create(SOCK_STREAM);
  ASSERT_TRUE(s.IsOpen());
  try {
    s.Bind(Loopback(taken.port));
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.GetErrorCode(), EADDRINUSE);
    EXPECT_EQ(e.GetErrorMessage(), "Bind error #" + std::to_string(EADDRINUSE));
  }
}

TEST(BlockingSocketTest, HostNamesResolveOrThrow) {
  const sockaddr_in a = CBlockingSocket::GetHostByName("127.0.0.1", 502);
  EXPECT_EQ(ntohl(a.sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(ntohs(a.sin_port), 502);
  EXPECT_THROW(CBlockingSocket::GetHostByName("no-such-host.invalid", 1), CBlockingSocketException);
}

TEST(BlockingSocketTest, ConnectToAClosedPortReturnsZero) {
  uint16_t port;
  {
    Listener gone;
    port = gone.port;
  }
  CBlockingSocket s;
  s.Create(SOCK_STREAM);
  EXPECT_EQ(s.Connect(Loopback(port), 2), 0);
}

TEST(BlockingSocketTest, WriteDeliversEverythingToASlowReader) {
  Listener listener;
  CBlockingSocket s;
  s.Create(SOCK_STREAM);
  // Small buffers, set before the connection exists, so the data goes out in many pieces.
  int small = 4096;
  setsockopt(s.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
  ASSERT_EQ(s.Connect(Loopback(listener.port)), 1);
  ASSERT_TRUE(listener.Accept());
  const int peer = listener.peer;

  // Enough that the socket buffers cannot take it in one send.
  std::vector<uint8_t> data(4 * 1024 * 1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  auto reader = std::async(std::launch::async, [peer, n = data.size()] {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buf(1000);
    while (got.size() < n) {
      const ssize_t r = read(peer, buf.data(), buf.size());
      if (r <= 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + r);
    }
    return got;
  });
  EXPECT_EQ(s.Write(data, 5), static_cast<int>(data.size()));
  s.Close();  // a short write must not leave the reader waiting
  EXPECT_EQ(reader.get(), data);
}

TEST(BlockingSocketTest, ReceiveTimesOutWithZeroAndSeesAVanishedPeerAsZero) {
  Listener listener;
  CBlockingSocket s;
  s.Create(SOCK_STREAM);
  ASSERT_EQ(s.Connect(Loopback(listener.port)), 1);
  ASSERT_TRUE(listener.Accept());
  const int peer = std::exchange(listener.peer, -1);
  uint8_t buf[16];
  const auto t0 = Clock::now();
  EXPECT_EQ(s.Receive(buf, 1), 0);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(900));

  ASSERT_EQ(write(peer, "hi", 2), 2);
  EXPECT_EQ(s.Receive(buf, 1), 2);
  close(peer);  // the peer vanishes: reads give 0, sends fail without a signal
  EXPECT_EQ(s.Receive(buf, 1), 0);
  const uint8_t out[] = {1};
  int sent = 1;
  for (int i = 0; i < 5 && sent > 0; ++i) sent = s.Send(out, 1);
  EXPECT_EQ(sent, 0);
}

TEST(BlockingSocketTest, OperationsOnNoSocketReturnZero) {
  CBlockingSocket s;
  uint8_t buf[4] = {};
  EXPECT_EQ(s.Receive(buf, 1), 0);
  EXPECT_EQ(s.Send(buf, 1), 0);
  EXPECT_EQ(s.Write(buf, 1), 0);
  EXPECT_EQ(s.Connect(Loopback(1)), 0);
  sockaddr_in out;
  EXPECT_THROW(s.GetSockName(&out), CBlockingSocketException);
}

}  // namespace
