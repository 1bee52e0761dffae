#include "dests/connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <string>
#include <vector>

#include "dests/conn_factory.h"
#include "dests/conn_names.h"
#include "vartree/tvar.h"

namespace {

// A link that hands out scripted bytes one receive at a time and records what is sent.
class ScriptedConnection : public CConnection {
 public:
  explicit ScriptedConnection(bool* deleted = nullptr) : deleted_(deleted) {}
  ~ScriptedConnection() override {
    if (deleted_) *deleted_ = true;
  }

  void Feed(const std::string& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

  int RecvMessage(CtVar*, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                  CtVar*) override {
    ++receives;
    last_length = length;
    last_index = index;
    if (!reply.empty()) {
      const size_t n = std::min(reply.size(), buffer.size());
      std::memcpy(buffer.data(), reply.data(), n);
      return static_cast<int>(n);
    }
    if (input.empty()) return broken ? -1 : 0;
    buffer[0] = static_cast<uint8_t>(input.front());
    input.pop_front();
    return 1;
  }
  int SendMessageW(CtVar*, std::span<const uint8_t> data, uint32_t index, CtVar*) override {
    sent.assign(data.begin(), data.end());
    last_index = index;
    return 1;
  }

  std::deque<char> input;
  std::string reply;
  bool broken = false;
  int receives = 0;
  uint32_t last_length = 0;
  uint32_t last_index = 0;
  std::vector<uint8_t> sent;

 private:
  bool* deleted_;
};

TEST(LineReaderTest, KeepsAPartialOrOverlongLineUntilItCanBeTaken) {
  ScriptedConnection c;
  c.Feed("HEL");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, '\n'), "");
  c.Feed("LO\nNEXT\n");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, '\n'), "HELLO");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, '\n'), "NEXT");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, '\n'), "");
  EXPECT_EQ(c.last_length, kRecvBufferedFlag | 1);
  c.Feed("0123456789\n");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 5, '\n'), "");  // longer than the maximum: kept
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 11, '\n'), "0123456789");
  const int receives = c.receives;
  c.Feed("abc\n");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, 0), "");  // no terminator: nothing is read
  EXPECT_EQ(c.receives, receives);
}

TEST(LineReaderTest, TerminatorHandling) {
  struct Case {
    const char* input;
    char terminator;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"A\r\nB\r\n", '\r', {"A", "B", ""}},  // CR LF is one terminator after CR
      {"A\r\rB\r", '\r', {"A", "", "B"}},
      {"A\r\nB\n", '\n', {"A\r", "B", ""}},  // LF lines keep their CR
      {"x;y;", ';', {"x", "y"}},
  };
  for (const Case& tc : cases) {
    ScriptedConnection c;
    c.Feed(tc.input);
    for (const std::string& want : tc.lines) {
      EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, tc.terminator), want) << tc.input;
    }
  }
}

TEST(LineReaderTest, AFloodWithoutLineEndKeepsOnlyTheNewestBytes) {
  ScriptedConnection c;
  c.Feed(std::string(64 * 1024, 'x'));
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 4096, '\n'), "");
  c.Feed("END\n");
  const std::string line = c.RecvQueuedMessage(nullptr, 4096, '\n');
  EXPECT_LT(line.size(), CConnection::kLineRingSize);
  EXPECT_EQ(line.substr(line.size() - 3), "END");
}

TEST(LineReaderTest, ABrokenLinkEmptiesTheRing) {
  ScriptedConnection c;
  c.Feed("partial");
  c.broken = true;
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, '\n'), "");
  c.broken = false;
  c.Feed("\n");
  EXPECT_EQ(c.RecvQueuedMessage(nullptr, 100, '\n'), "");
}

TEST(RegisterBlockTest, WriteSendsCommaSeparatedTextWithItsZero) {
  ScriptedConnection c;
  const double values[] = {1, 2.5, -3};
  EXPECT_EQ(c.WriteRegisters(nullptr, 7, values, nullptr), 1);
  const std::string want = "1.000000,2.500000,-3.000000";
  ASSERT_EQ(c.sent.size(), want.size() + 1);
  EXPECT_EQ(std::string(c.sent.begin(), c.sent.end() - 1), want);
  EXPECT_EQ(c.sent.back(), 0);
  EXPECT_EQ(c.last_index, 7u);
}

TEST(RegisterBlockTest, WriteLeavesOutValuesBeyond240Bytes) {
  ScriptedConnection c;
  const std::vector<double> values(100, 12345.5);  // "12345.500000," is 13 bytes
  c.WriteRegisters(nullptr, 0, values, nullptr);
  EXPECT_EQ(c.sent.size(), 18u * 13u);  // 18 values fit; comma dropped, zero added
}

TEST(RegisterBlockTest, ReadParsesUpToCountAndZeroesTheRest) {
  ScriptedConnection c;
  c.reply = "1.5,2,-3,9,9";
  double values[5] = {7, 7, 7, 7, 7};
  EXPECT_EQ(c.ReadRegisters(nullptr, 4, std::span<double>(values, 3), nullptr), 1);
  EXPECT_DOUBLE_EQ(values[0], 1.5);
  EXPECT_DOUBLE_EQ(values[1], 2);
  EXPECT_DOUBLE_EQ(values[2], -3);
  EXPECT_DOUBLE_EQ(values[3], 7);
  EXPECT_EQ(c.last_length, 3u);
  EXPECT_EQ(c.last_index, 4u);
  c.reply = "4";
  EXPECT_EQ(c.ReadRegisters(nullptr, 0, values, nullptr), 1);
  EXPECT_DOUBLE_EQ(values[0], 4);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(values[i], 0) << i;
}

TEST(ConnectionTest, SendLockIsRecursiveForItsHolderAndTimesOutForOthers) {
  ScriptedConnection c;
  ASSERT_EQ(c.LockSend(1), 1);
  ASSERT_EQ(c.LockSend(1), 1);
  c.LockSend(0);  // still held once
  const uint64_t before = CConnection::SendLockTimeouts();
  auto other = std::async(std::launch::async, [&c] {
    const auto t0 = std::chrono::steady_clock::now();
    const int got = c.LockSend(1);
    return std::make_pair(got, std::chrono::steady_clock::now() - t0);
  });
  const auto [got, waited] = other.get();
  EXPECT_EQ(got, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_EQ(CConnection::SendLockTimeouts(), before + 1);
  c.LockSend(0);
  auto after = std::async(std::launch::async, [&c] {
    const int r = c.LockSend(1);
    c.LockSend(0);
    return r;
  });
  EXPECT_EQ(after.get(), 1);
}

// ---- Registry ----

CConnection* CreateScripted() {
  return new ScriptedConnection;
}
std::wstring ScriptedName(uint32_t role, CtVar*) {
  return L"scripted" + std::to_wstring(role);
}
int DetectPresent(uint32_t) {
  return 1;
}
int DetectAbsent(uint32_t) {
  return 0;
}

TEST(RegistryTest, UnregisteredRolesCreateAndNameNothing) {
  for (uint32_t role : {0u, 5u, 9u, 21u, 0xFFFFFFFFu}) {
    EXPECT_EQ(OzkCreateAppDest(role), nullptr) << role;
    EXPECT_EQ(OzkDetectDevice(role), 0) << role;
    EXPECT_EQ(OzkGetConnName(role, nullptr), L"") << role;
  }
}

TEST(RegistryTest, TheNewestRecordForARoleWins) {
  static f_appd older, newer;
  OzkAddAppDestClass(CreateScripted, ScriptedName, DetectAbsent, 16, &older);
  EXPECT_EQ(OzkDetectDevice(16), 0);
  OzkAddAppDestClass(CreateScripted, ScriptedName, DetectPresent, 16, &newer);
  EXPECT_EQ(OzkDetectDevice(16), 1);
  EXPECT_EQ(OzkGetConnName(16, nullptr), L"scripted16");
  CConnection* c = OzkCreateAppDest(16);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->RefCount(), 1u);
  c->Release();
}

TEST(ConnNamesTest, NamesAndDescriptionsFromTheNode) {
  CtVar root;
  CtVar& d = root["Destinations.1"];
  d["PortNum"] = 502.0;
  d["IpAddr"] = "10.0.0.7";
  d["PortName"] = "COM4";
  d["BaudRate"] = 19200.0;
  d["Slot"] = 2.0;
  struct Case {
    uint32_t role;
    const wchar_t* name;
  };
  const Case names[] = {
      {1, L"SockServer:502"},    {6, L"SockClient10.0.0.7:502"},
      {2, L"COMPortCOM4"},       {3, L"ModBus@10.0.0.7:502"},
      {4, L"ModBusCOM"},         {7, L"MELSEC@10.0.0.7:502"},
      {12, L"MBSlave:502"},      {13, L"MBSlaveCOM"},
      {15, L"SrtpCOM@10.0.0.7"}, {10, L"GPInput"},
      {11, L"GPOutput"},         {0, L""},
  };
  for (const Case& tc : names) EXPECT_EQ(DestConnName(tc.role, &d), tc.name) << tc.role;
  d["UDP"] = 1.0;
  EXPECT_EQ(DestConnName(1, &d), L"SockUDPServer:502");
  EXPECT_EQ(DestConnName(6, &d), L"SockUDPClient10.0.0.7:502");

  EXPECT_EQ(DestBasicDescription(1, &d, 0), L"Server on port 502");
  EXPECT_EQ(DestBasicDescription(2, &d, 0), L"Com port on COM4 Baud:19200");
  EXPECT_EQ(DestBasicDescription(6, &d, 0), L"Client 10.0.0.7:502");
  EXPECT_EQ(DestBasicDescription(5, &d, 0), L"Control Logix @10.0.0.7 Slot 2");
  d["PortNum"] = 5022.0;
  EXPECT_EQ(DestBasicDescription(1, &d, kDescHideResultPorts), L"");
  EXPECT_EQ(DestBasicDescription(1, &d, 0), L"Server on port 5022");
}

TEST(DestRecTest, FixedTextIsCutAndTerminated) {
  DEST_COM_BODY body{};
  SetFixedText(body.port_name, "a-very-long-port-name-indeed");
  EXPECT_EQ(FixedText(body.port_name), "a-very-long-port-na");
  DEST_DEF_REC rec{};
  SetRecBody(&rec, body);
  EXPECT_EQ(FixedText(GetRecBody<DEST_COM_BODY>(rec).port_name), "a-very-long-port-na");
  CtVar root;
  root["Num"] = 1e30;
  root["Neg"] = -1.0;
  EXPECT_EQ(DestKeyU32(&root, "Num"), 0u);
  EXPECT_EQ(DestKeyU32(&root, "Neg"), 0xFFFFFFFFu);
  EXPECT_EQ(DestKeyU32(&root, "Missing"), 0u);
}

}  // namespace
