// The manager's system destinations on their fixed TCP ports, against plain peers: what Open
// builds from the tree, the result lines on port 5022 byte for byte, and a port that another
// program holds.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "dests/app_dests.h"
#include "dests/connection.h"
#include "tests/dests/tcp_peer.h"
#include "vartree/tvar.h"

namespace {

using namespace std::chrono_literals;
using testpeer::WaitUntil;

// Fails at once, naming the port, when another program holds it.
::testing::AssertionResult PortFree(uint16_t port) {
  testpeer::Listener probe(port);
  if (probe.fd >= 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "port " << port << " is held by another program; these tests need it free";
}

class SysPortsTest : public ::testing::Test {
 protected:
  void AddServer(int index, int port) {
    const std::string base = "Destinations." + std::to_string(index);
    root[(base + ".Role").c_str()] = 1.0;
    root[(base + ".PortNum").c_str()] = static_cast<double>(port);
  }
  // Opens a manager that plays the in-process engine, so its servers listen.
  std::unique_ptr<CAppDests> OpenManager() {
    auto dests = std::make_unique<CAppDests>(&root);
    dests->SetServerEngine(true);
    dests->Open();
    return dests;
  }
  CtVar root;
};

TEST_F(SysPortsTest, OpenListensOnTheSystemPortsFoundInTheTree) {
  for (uint16_t port : {5020, 5021, 5022, 5023, 5024, 5085}) ASSERT_TRUE(PortFree(port));
  AddServer(1, 5020);
  AddServer(2, 5022);
  AddServer(3, 5085);
  auto dests = OpenManager();
  EXPECT_EQ(dests->GetSysDest(SYS_DEST_SOCK_5020), root.GetChild("Destinations.1"));
  EXPECT_EQ(dests->GetSysDest(SYS_DEST_RESULT_PORT), root.GetChild("Destinations.2"));
  EXPECT_EQ(dests->GetSysDest(SYS_DEST_SOCK_5085), root.GetChild("Destinations.3"));
  // The others are placeholders that listen nowhere.
  EXPECT_EQ(DestKeyU32(dests->GetSysDest(SYS_DEST_SOCK_5021), "PortNum"), kUnsetPort);
  for (uint16_t port : {5020, 5022, 5085}) {
    testpeer::Client peer(port);
    EXPECT_GE(peer.fd, 0) << port;
  }
  testpeer::Client none(5021);
  EXPECT_LT(none.fd, 0);
}

TEST_F(SysPortsTest, ResultLinesReachAPeerOnPort5022ByteForByte) {
  ASSERT_TRUE(PortFree(5022));
  AddServer(1, 5022);
  root["AppVar.Result"] = 1.0;
  root["AppVar.Width"] = 12.25;
  root["AppVar.Width"].SetOptions(TVAR_OPT_RESULT_VAR);
  root["AppVar.Code"] = "A7";
  root["AppVar.Code"].SetOptions(TVAR_OPT_RESULT_VAR);
  auto dests = OpenManager();
  CtVar* port = dests->GetSysDest(SYS_DEST_RESULT_PORT);
  ASSERT_NE(port, nullptr);
  testpeer::Client peer(5022);
  ASSERT_GE(peer.fd, 0);
  ASSERT_TRUE(WaitUntil([&] { return dests->IsConnected(port) == 1; }));

  dests->SendAppDataFormat(port, CAppDests::kLineOnChange | CAppDests::kLineFrame, 0);
  const std::string header = "\"Frame Number\",\"Result\",\"Width\",\"Code\",\r\n";
  EXPECT_EQ(testpeer::ReadSome(peer.fd, header.size() + 1), header + '\0');

  ASSERT_EQ(dests->SendFormattedAppData(41, 0, nullptr, 0), 1);
  ASSERT_EQ(dests->SendFormattedAppData(42, 0, nullptr, 0), 0);  // unchanged: nothing sent
  root["AppVar.Width"] = 3.0;
  ASSERT_EQ(dests->SendFormattedAppData(43, 0, nullptr, 0), 1);
  const std::string line1 = "41, 1.000, 12.250, A7, \r\n";
  const std::string line2 = "43, 1.000, 3.000, A7, \r\n";
  // The header already went out by SendAppDataFormat's own send, but the manager remembers
  // only what the result lines sent: the first line brings it once more, the second not.
  const std::string expected = header + '\0' + line1 + '\0' + line2 + '\0';
  EXPECT_EQ(testpeer::ReadSome(peer.fd, expected.size(), 1000), expected);
  EXPECT_FALSE(testpeer::Readable(peer.fd, 100));
}

TEST_F(SysPortsTest, ASystemPortHeldByAnotherProgramFailsFastAndClearly) {
  testpeer::Listener holder(5021);
  ASSERT_GE(holder.fd, 0) << "port 5021 is held by another program; these tests need it free";
  AddServer(1, 5021);
  const auto start = std::chrono::steady_clock::now();
  auto dests = OpenManager();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  CtVar* dest = dests->GetSysDest(SYS_DEST_SOCK_5021);
  ASSERT_EQ(dest, root.GetChild("Destinations.1"));
  CConnection* conn = dests->GetConn(dest, nullptr);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(conn->GetLastError(), 10048);
  EXPECT_EQ(dests->IsConnected(dest), 0);
  // The holder's peers never reach the destination.
  testpeer::Client peer(5021);
  EXPECT_EQ(dests->SendMessageW(dest, std::span<const uint8_t>(), 0, 0, nullptr), 0);
}

}  // namespace
