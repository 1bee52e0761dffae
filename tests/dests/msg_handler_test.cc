#include "dests/msg_handler.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dests/app_dests.h"
#include "vartree/tvar.h"

namespace {

using namespace std::chrono_literals;

// Calls seen by the callbacks, with a way to wait for the next one.
struct Calls {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<std::string> seen;

  void Add(std::string s) {
    std::lock_guard<std::mutex> guard(mu);
    seen.push_back(std::move(s));
    cv.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> guard(mu);
    return cv.wait_for(guard, 3s, [&] { return seen.size() >= count; });
  }
};

void Record(CAppDests*, CtVar*, const void* arg, void* context) {
  static_cast<Calls*>(context)->Add(static_cast<const char*>(arg));
}

// A plain UDP peer talking to a UDP server destination of the manager.
class MsgHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(peer, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    timeval tv{2, 0};
    setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    // A port for the server: bind, read, release.
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(server);
    getsockname(probe, reinterpret_cast<sockaddr*>(&server), &len);
    close(probe);
    dests = std::make_unique<CAppDests>(&root);
    dest = dests->AddDest(1, ntohs(server.sin_port), nullptr, 0, 1);
    ASSERT_NE(dest, nullptr);
  }
  void TearDown() override {
    dests.reset();
    close(peer);
  }
  void Send(const std::string& s) {
    sendto(peer, s.data(), s.size(), 0, reinterpret_cast<sockaddr*>(&server), sizeof(server));
  }
  std::string Receive() {
    char buf[512];
    const ssize_t n = recv(peer, buf, sizeof(buf), 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

  CtVar root;
  std::unique_ptr<CAppDests> dests;
  CtVar* dest = nullptr;
  int peer = -1;
  sockaddr_in server{};
  Calls calls;
};

TEST_F(MsgHandlerTest, TextCommandsMatchByNameOrPrefixAndBangRepeats) {
  CMsgHandler* h = dests->CreateMessageHandler(dest, '\n');
  ASSERT_NE(h, nullptr);
  ASSERT_NE(h->AddMessageFunc("TRIG", Record, &calls, 0), nullptr);
  ASSERT_NE(h->AddMessageFunc("SET", Record, &calls, 1), nullptr);
  Send("trig now  \r\n");
  ASSERT_TRUE(calls.WaitFor(1));
  Send("!\n");
  ASSERT_TRUE(calls.WaitFor(2));
  Send("SETX=5\n");
  ASSERT_TRUE(calls.WaitFor(3));
  Send("OTHER 1\n");
  Send("TRIG last\n");
  ASSERT_TRUE(calls.WaitFor(4));
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"now", "now", "X=5", "last"}));
  EXPECT_EQ(h->LastCommand(), "TRIG last");
}

TEST_F(MsgHandlerTest, AnEmptyLineIsAnsweredAndEventsGoOutWhenIdle) {
  CMsgHandler* h = dests->CreateMessageHandler(dest, '\n');
  Send("\n");
  EXPECT_EQ(Receive(), "\r\n");
  ASSERT_EQ(h->AddEventMsg("event 1"), 1);
  EXPECT_EQ(Receive(), "event 1");
}

TEST_F(MsgHandlerTest, AFloodWithoutLineEndIsCutAndLaterCommandsStillWork) {
  CMsgHandler* h = dests->CreateMessageHandler(dest, '\n');
  h->AddMessageFunc("PING", Record, &calls, 0);
  Send(std::string(60000, 'x'));
  std::this_thread::sleep_for(300ms);
  Send("PING 1\n");
  ASSERT_TRUE(calls.WaitFor(1));
  EXPECT_EQ(calls.seen[0], "1");
  EXPECT_EQ(h->LastCommand(), "PING 1");
}

TEST_F(MsgHandlerTest, EventRingHoldsThreeTextsOfAtMost258Characters) {
  // Framed handlers never send events, so the ring stays as filled.
  CMsgHandler* h = dests->CreateMessageHandler(dest, 0);
  EXPECT_EQ(h->AddEventMsg(std::string(259, 'a').c_str()), 0);
  EXPECT_EQ(h->AddEventMsg(std::string(258, 'a').c_str()), 1);
  EXPECT_EQ(h->AddEventMsg("b"), 1);
  EXPECT_EQ(h->AddEventMsg("c"), 1);
  EXPECT_EQ(h->AddEventMsg("d"), 0);
}

void ReadPayload(CAppDests* dests, CtVar* dest, const void* arg, void* context) {
  uint32_t length;
  std::memcpy(&length, arg, 4);
  std::string payload(length, '\0');
  const int n = dests->RecvMessage(
      dest, std::span<uint8_t>(reinterpret_cast<uint8_t*>(payload.data()), payload.size()), length,
      0, 0, nullptr);
  static_cast<Calls*>(context)->Add(payload.substr(0, n > 0 ? static_cast<size_t>(n) : 0));
}

std::string Header(uint32_t id, uint32_t length) {
  std::string h(8, '\0');
  std::memcpy(h.data(), &id, 4);
  std::memcpy(h.data() + 4, &length, 4);
  return h;
}

TEST_F(MsgHandlerTest, FramedMessagesReachTheirEntryAndAHugeLengthStopsPromptly) {
  CMsgHandler* h = dests->CreateMessageHandler(dest, 0);
  h->AddMessageFunc(7, ReadPayload, &calls);
  Send(Header(7, 4));
  Send("abcd");
  ASSERT_TRUE(calls.WaitFor(1));
  EXPECT_EQ(calls.seen[0], "abcd");

  Send(Header(99, 0xFFFFFFFFu));  // nobody's: its 4 GiB are being dropped as they come
  Send("some");
  std::this_thread::sleep_for(300ms);
  const auto t0 = std::chrono::steady_clock::now();
  dests->DeleteMessageHandler(dest);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_EQ(dests->GetMessageHandler(dest), nullptr);
}

TEST_F(MsgHandlerTest, ConditionsCommandsFollowTheAttachedVariable) {
  root["AppVar.Cmd"].AttachToDestination(std::string(dest->NameView()).c_str(), 0, 0);
  EXPECT_EQ(dests->CreateFunctionMsgHand("Cmd", "_GO"), 1);
  CMsgHandler* h = dests->GetMessageHandler(dest);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Terminator(), '\n');
  EXPECT_EQ(h->GetAttachVarName(), "Cmd");
  EXPECT_EQ(dests->CreateFunctionMsgHand("Missing", "X"), 0);
  EXPECT_EQ(dests->DeleteFunctionMsgHand("Cmd", "_GO"), 1);
  EXPECT_EQ(dests->DeleteFunctionMsgHand("Cmd", "_GO"), 0);
}

}  // namespace
