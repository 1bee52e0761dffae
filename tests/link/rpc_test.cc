#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "link/rpc_call.h"
#include "link/rpc_stubs.h"
#include "tests/link/rpc_peers.h"

namespace {

std::atomic<int> g_calls{0};

// Served functions of the tests. Slot 0 is the serving channel.
OZK_RPC_FUNCTION(TestGetDeviceName) {
  ++g_calls;
  char* buffer = RpcPointer<char>(s1);
  uint32_t* capacity = RpcPointer<uint32_t>(s2);
  const char name[] = "CAM-01";
  if (*capacity < sizeof name) return 0;
  std::memcpy(buffer, name, sizeof name);
  *capacity = sizeof name - 1;
  return 1;
}

OZK_RPC_FUNCTION(TestClosest) {
  ++g_calls;
  return RpcSlot(RpcDouble(s2) * 2 + static_cast<double>(s1));
}

OZK_RPC_FUNCTION(TestNegative) {
  return static_cast<uint64_t>(static_cast<uint32_t>(-5));
}

// Tries to call back on the channel that serves it; the answer must be 0 with nothing sent.
OZK_RPC_FUNCTION(TestReenter) {
  CVelRpc* rpc = RpcPointer<CVelRpc>(s0);
  const bool inside = rpc->InsideInvoke();
  const int nested = GetServerVersion(rpc);
  return inside && nested == 0 ? 7 : 0;
}

}  // namespace

// Found through the library list ("this": the test program exports it).
OZK_RPC_FUNCTION(TestExported) {
  return s1 + 1;
}
namespace {

const OZK_RPC_FUNC_MAP kServerFunctions[] = {
    {"GetDeviceName", &TestGetDeviceName},
    {"ClosestArgSupported", &TestClosest},
    {"GetServerVersion", &TestNegative},
    {"", nullptr},
};
const OZK_RPC_FUNC_MAP kClientFunctions[] = {
    {"TestReenter", &TestReenter},
    {"GetDeviceName", &TestGetDeviceName},
};

class RpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ConnectPeers(&server, &client));
    ASSERT_EQ(server.rpc.AddFunctionMapTable(kServerFunctions, 0), 3);
    ASSERT_EQ(client.rpc.AddFunctionMapTable(kClientFunctions, 2), 2);
    g_calls = 0;
  }
  RpcServer server;
  RpcClient client;
};

TEST_F(RpcTest, OutBuffersComeBack) {
  char name[32] = {};
  uint32_t capacity = sizeof name;
  EXPECT_EQ(GetDeviceName(&client.rpc, name, &capacity), 1);
  EXPECT_STREQ(name, "CAM-01");
  EXPECT_EQ(capacity, 6u);
  EXPECT_EQ(g_calls, 1);
}

TEST_F(RpcTest, DoubleArgumentAndResult) {
  EXPECT_DOUBLE_EQ(ClosestArgSupported(&client.rpc, 3, 1.25), 5.5);
  EXPECT_EQ(GetServerVersion(&client.rpc), -5);  // a 32-bit result keeps its sign
}

TEST_F(RpcTest, NamedCallFromServerServedByClient) {
  char name[16] = {};
  uint32_t capacity = sizeof name;
  EXPECT_EQ(GetDeviceName(&server.rpc, name, &capacity), 1);
  EXPECT_STREQ(name, "CAM-01");
}

TEST_F(RpcTest, InsideInvokeRefusesNestedCallOnSameChannel) {
  std::atomic<int> server_calls{0};
  server.intercept = [&](CLumMsg* req, CLumMsg*) {
    if (req->GetId() == kMsgInvoke) ++server_calls;
    return false;
  };
  EXPECT_FALSE(client.rpc.InsideInvoke());
  EXPECT_EQ(RpcCall("TestReenter", 1).InvokeInt(&server.rpc), 7);
  EXPECT_EQ(server_calls, 0);
}

TEST_F(RpcTest, UnknownFunctionGivesZero) {
  EXPECT_EQ(RpcCall("NoSuchFunction", 2).Int(1).Invoke(&client.rpc), 0);
  EXPECT_EQ(FileOpen(&client.rpc, "a", "r"), 0);
}

TEST_F(RpcTest, DataBlockLayoutOnTheWire) {
  std::string block;
  OZK_RPC_INVOKE_STRUCT frame{};
  server.intercept = [&](CLumMsg* req, CLumMsg* reply) {
    std::memcpy(&frame, req->Get(0).GetBytes(0).data(), sizeof frame);
    block = req->Get(3).GetBytes(0);
    EXPECT_EQ(req->Get(1).GetDataSize(0), 3 * 8);
    EXPECT_EQ(req->Get(4).GetLongLong(0), static_cast<long long>(block.size()));
    return false;
  };
  FileOpen(&client.rpc, "abcde", "rb");
  EXPECT_STREQ(frame.function, "FileOpen");
  EXPECT_EQ(frame.slot_count, 3u);
  EXPECT_EQ(frame.args, 0u);
  EXPECT_EQ(frame.buffers[0].offset, 0u);
  EXPECT_EQ(frame.buffers[0].size, 6u);
  EXPECT_EQ(frame.buffers[1].offset, 8u);
  EXPECT_EQ(frame.buffers[2].flags, 0u);
  ASSERT_EQ(block.size(), 4u + 8 + 4);
  EXPECT_EQ(block.substr(0, 6), std::string("abcde\0", 6));
  EXPECT_EQ(block.substr(8, 3), std::string("rb\0", 3));
}

TEST_F(RpcTest, ReplyWithoutDataLeavesOutBuffersAlone) {
  server.intercept = [](CLumMsg* req, CLumMsg* reply) {
    reply->Add(CLumVariant(123));
    reply->Add(CLumVariant(9.0));
    return true;
  };
  char name[8] = "keep";
  uint32_t capacity = sizeof name;
  EXPECT_EQ(GetDeviceName(&client.rpc, name, &capacity), 0);
  EXPECT_STREQ(name, "keep");
  EXPECT_EQ(capacity, 8u);
}

TEST_F(RpcTest, LibraryListThenMap) {
  EXPECT_EQ(RpcCall("TestExported", 2).Int(41).InvokeInt(&server.rpc), 0);  // no library yet
  client.rpc.AddRpcDll("this");
  client.rpc.AddRpcDll("this");
  EXPECT_EQ(RpcCall("TestExported", 2).Int(41).InvokeInt(&server.rpc), 42);
  // The hit joined the map: fill the map up to its capacity and it still counts.
  std::vector<OZK_RPC_FUNC_MAP> filler(kRpcMapCapacity);
  for (size_t i = 0; i < filler.size(); ++i) {
    std::snprintf(filler[i].name, sizeof filler[i].name, "Filler%03zu", i);
    filler[i].address = &TestNegative;
  }
  EXPECT_EQ(client.rpc.AddFunctionMapTable(filler.data(), static_cast<int>(filler.size())),
            static_cast<int>(kRpcMapCapacity) - 3);
  EXPECT_EQ(RpcCall("Filler000", 1).InvokeInt(&server.rpc), -5);
}

TEST_F(RpcTest, ServerChannelWithoutClientFails) {
  RpcServer lonely;
  ASSERT_EQ(lonely.Listen(0), 0);
  CLumMsg m(1), reply;
  EXPECT_NE(lonely.rpc.SendNetMessage(&m, &reply), 0);
  EXPECT_EQ(GetServerVersion(&lonely.rpc), 0);
}

// Served calls are untrusted: each malformed frame is refused before anything runs.
TEST(InvokeRpc, MalformedFramesAreRefused) {
  CVelRpc rpc(static_cast<CNetClientNode*>(nullptr));
  rpc.AddFunctionMapTable(kServerFunctions, 0);
  auto good = [] {
    OZK_RPC_INVOKE_STRUCT f{};
    f.kind = 1;
    f.slot_count = 3;
    std::strcpy(f.function, "GetDeviceName");
    f.buffers[0] = {1, 16, kRpcOut, 0};
    f.buffers[1] = {2, 4, kRpcBoth, 16};
    return f;
  };
  struct Case {
    const char* what;
    std::function<void(OZK_RPC_INVOKE_STRUCT&)> spoil;
    uint32_t slot_count = 3;
    uint32_t data_size = 24;
  };
  const std::vector<Case> cases = {
      {"wrong kind", [](auto& f) { f.kind = 2; }},
      {"unterminated name", [](auto& f) { std::memset(f.function, 'A', kRpcNameSize); }},
      {"empty name", [](auto& f) { f.function[0] = 0; }},
      {"slot count zero", [](auto& f) { f.slot_count = 0; }, 0},
      {"slot count nine", [](auto& f) { f.slot_count = 9; }, 9},
      {"slot count mismatch", [](auto&) {}, 2},
      {"descriptor past data", [](auto& f) { f.buffers[1].offset = 24; }},
      {"size past data", [](auto& f) { f.buffers[0].size = 1u << 31; }},
      {"offset overflow", [](auto& f) { f.buffers[1].offset = 0xfffffffc; }},
      {"unaligned offset", [](auto& f) { f.buffers[1].offset = 17; }},
      {"descriptor on slot 0", [](auto& f) { f.buffers[0].slot = 0; }},
      {"two buffers on one slot", [](auto& f) { f.buffers[1].slot = 1; }},
      {"descriptor beyond slots", [](auto& f) { f.buffers[0].slot = 3; }},
      {"unknown direction", [](auto& f) { f.buffers[0].flags = 4; }},
      {"short data block", [](auto&) {}, 3, 19},
  };
  for (const Case& c : cases) {
    OZK_RPC_INVOKE_STRUCT f = good();
    c.spoil(f);
    uint64_t slots[9] = {};
    std::vector<uint8_t> data(32, 0);
    double result = -1;
    g_calls = 0;
    EXPECT_EQ(rpc.InvokeRpc(&f, slots, c.slot_count, data.data(), c.data_size, &result), 0)
        << c.what;
    EXPECT_EQ(result, 0) << c.what;
    EXPECT_EQ(g_calls, 0) << c.what;
  }
  OZK_RPC_INVOKE_STRUCT f = good();
  uint64_t slots[3] = {};
  std::vector<uint8_t> data(24, 0);
  *reinterpret_cast<uint32_t*>(data.data() + 16) = 16;
  double result = 0;
  EXPECT_EQ(rpc.InvokeRpc(&f, slots, 3, data.data(), 24, &result), 1);
  EXPECT_EQ(result, 1);
  EXPECT_STREQ(reinterpret_cast<char*>(data.data()), "CAM-01");
}

}  // namespace
