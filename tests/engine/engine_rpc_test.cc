// Named calls served by the engine, made with the client's stubs and with hand-built frames
// that break the served functions' buffer contracts.
#include "engine/engine_rpc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "engine/vel_engine.h"
#include "link/device_message_ids.h"
#include "link/rpc_call.h"
#include "link/rpc_stubs.h"

namespace {

// A client node whose every request is answered by the engine on the calling thread.
class EngineNode : public CNetClientNode {
 public:
  explicit EngineNode(CVelEngine* engine) : engine_(engine) {}
  int SendNetMessage(CLumMsg* request, CLumMsg* reply) override {
    CLumMsg scratch;
    return engine_->OnNetMessage(7, request, reply ? reply : &scratch);
  }

 private:
  CVelEngine* engine_;
};

class EngineRpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vel_engrpc_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    engine_ = std::make_unique<CVelEngine>(dir_, nullptr);
    node_ = std::make_unique<EngineNode>(engine_.get());
    rpc_ = std::make_unique<CVelRpc>(static_cast<CNetClientNode*>(node_.get()));
  }
  void TearDown() override {
    rpc_.reset();
    node_.reset();
    engine_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
  std::unique_ptr<CVelEngine> engine_;
  std::unique_ptr<EngineNode> node_;
  std::unique_ptr<CVelRpc> rpc_;
};

TEST_F(EngineRpcTest, StubsReachTheAppliance) {
  EXPECT_EQ(GetServerVersion(rpc_.get()), 1800);
  engine_->Model().SetServerVersion(1750);
  EXPECT_EQ(GetServerVersion(rpc_.get()), 1750);
  EXPECT_EQ(IsEmulatorMode(rpc_.get()), 0);
  EXPECT_EQ(ParamSupported(rpc_.get(), 40), 1);
  EXPECT_EQ(GetFirstParam(rpc_.get(), 2, 0), 3);
  EXPECT_EQ(GetNextParam(rpc_.get(), 2, 3, 0), 4);
  EXPECT_EQ(GetNextParam(rpc_.get(), 2, 4, 0), 0);
  EXPECT_EQ(GetParentGroup(rpc_.get(), 2), 1);
  EXPECT_EQ(GetParamByName(rpc_.get(), "exposure", 0), 2000);
  SetParam(rpc_.get(), 0, 2, 12.5);
  EXPECT_EQ(GetParam(rpc_.get(), 0, 2), 12.5);
  EXPECT_EQ(ClosestArgSupported(rpc_.get(), 3, 1.8), 2);

  uint8_t caps[kParamCapsRecordSize];
  GetParamCaps(rpc_.get(), 3, caps);
  VelParamCaps decoded;
  ASSERT_TRUE(DecodeParamCaps(caps, &decoded));
  EXPECT_EQ(decoded.name, "TriggerMode");

  std::vector<std::string> names;
  uint8_t arg[kEnumArgRecordSize] = {};
  VelEnumArg a;
  for (int ok = GetFirstEnumArg(rpc_.get(), 3, arg); ok; ok = GetNextEnumArg(rpc_.get(), 3, arg)) {
    ASSERT_TRUE(DecodeEnumArg(arg, &a));
    names.push_back(a.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Free Run", "External", "Software"}));

  uint8_t attr[kAppAttrSize];
  ASSERT_EQ(GetAppAttributes(rpc_.get(), attr), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(attr), "ZelvinEC.dll");
}

TEST_F(EngineRpcTest, CallsBreakingABufferContractAreRefused) {
  uint8_t small[16];
  std::memset(small, 0xAB, sizeof small);
  // A capability record needs 664 bytes; 16 would let the function write past the block.
  EXPECT_EQ(
      RpcCall("GetParamCaps", 3).Int(3).Buffer(small, sizeof small, kRpcBoth).Invoke(rpc_.get()),
      0);
  EXPECT_EQ(small[0], 0xAB);
  // The buffer is missing altogether.
  EXPECT_EQ(RpcCall("GetAppAttributes", 2).Int(0).Invoke(rpc_.get()), 0);
  // A name without its terminator.
  const char name[4] = {'G', 'a', 'i', 'n'};
  EXPECT_EQ(RpcCall("GetParamByName", 3, kRpcReturnDouble)
                .Buffer(name, sizeof name, kRpcIn)
                .Int(0)
                .Invoke(rpc_.get()),
            0);
  // A slot count other than the function's, and a function the engine does not serve.
  EXPECT_EQ(RpcCall("GetServerVersion", 2).Int(0).Invoke(rpc_.get()), 0);
  EXPECT_EQ(RpcCall("FormatDisk", 1).Invoke(rpc_.get()), 0);
  // The engine still answers well-formed calls.
  EXPECT_EQ(GetServerVersion(rpc_.get()), 1800);
}

TEST_F(EngineRpcTest, InUseFollowsTheHoldersOfTheServer) {
  auto ask = [&](uint32_t client, int32_t id) {
    CLumMsg request(id), reply;
    engine_->OnNetMessage(client, &request, &reply);
    return reply.Get(0).GetLongLong(0);
  };
  std::vector<uint32_t> dropped;
  engine_->SetDropClient([&](uint32_t id) { dropped.push_back(id); });
  EXPECT_EQ(ask(1, kMsgIsServerInUse), 0);
  ask(1, kMsgApplianceReady);
  EXPECT_EQ(ask(1, kMsgIsServerInUse), 0);  // only itself
  EXPECT_EQ(ask(2, kMsgIsServerInUse), 1);
  EXPECT_EQ(ask(2, kMsgDisconnectOther), 1);
  EXPECT_EQ(dropped, (std::vector<uint32_t>{1}));
  EXPECT_EQ(ask(2, kMsgIsServerInUse), 0);
  ask(3, kMsgApplianceReady);
  engine_->OnClientDisconnect(3);
  EXPECT_EQ(ask(2, kMsgIsServerInUse), 0);
}

}  // namespace
