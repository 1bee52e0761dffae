// Named calls served by the engine, made with the client's stubs and with hand-built frames
// that break the served functions' buffer contracts.
#include "engine/engine_rpc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "dests/app_dests.h"
#include "engine/vel_engine.h"
#include "link/app_dests_link.h"
#include "link/device_message_ids.h"
#include "link/rpc_call.h"
#include "link/rpc_stubs.h"
#include "tests/common/temp_dir.h"
#include "tests/dests/pty_pair.h"
#include "vartree/tvar.h"

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
  TempDir tmp_{"vel_engrpc"};
  const std::string& dir_ = tmp_.path();
  std::unique_ptr<CVelEngine> engine_ = std::make_unique<CVelEngine>(dir_, nullptr);
  EngineNode node_{engine_.get()};
  std::unique_ptr<CVelRpc> rpc_ = std::make_unique<CVelRpc>(&node_);
};

TEST_F(EngineRpcTest, StubsReachTheAppliance) {
  EXPECT_EQ(GetServerVersion(rpc_.get()), 1800);
  engine_->Model().SetServerVersion(1750);
  EXPECT_EQ(GetServerVersion(rpc_.get()), 1750);
  EXPECT_EQ(IsEmulatorMode(rpc_.get()), 0);
  EXPECT_EQ(ParamSupported(rpc_.get(), 40), 1);
  EXPECT_EQ(GetFirstParam(rpc_.get(), 2, 0), 3);
  EXPECT_EQ(GetNextParam(rpc_.get(), 2, 3, 0), 4);
  EXPECT_EQ(GetNextParam(rpc_.get(), 2, 4, 0), 6);
  EXPECT_EQ(GetNextParam(rpc_.get(), 2, 6, 0), 0);
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

TEST_F(EngineRpcTest, ArgumentNamesAndValues) {
  char name[32];
  ASSERT_EQ(GetArgName(rpc_.get(), 3, 1, sizeof name, name), 1);
  EXPECT_STREQ(name, "External");
  // "Software" and its terminator need 9 bytes.
  EXPECT_EQ(GetArgName(rpc_.get(), 3, 2, 8, name), 0);
  EXPECT_EQ(GetArgName(rpc_.get(), 3, 2, 9, name), 1);
  EXPECT_STREQ(name, "Software");
  EXPECT_EQ(GetArgName(rpc_.get(), 3, 7, sizeof name, name), 0);
  EXPECT_EQ(GetArgValue(rpc_.get(), 3, "Software"), 2);
  EXPECT_EQ(GetArgValue(rpc_.get(), 5, "On"), 1);
  EXPECT_EQ(GetArgValue(rpc_.get(), 5, "Maybe"), 0);
}

// The plain identity calls run through the client's session tests.
TEST_F(EngineRpcTest, IdentityBuffersWindowBoundsAndRestart) {
  char text[64], tiny[4];
  uint32_t capacity = sizeof tiny;
  EXPECT_EQ(GetDeviceSerialNo(rpc_.get(), tiny, &capacity), 0);
  EXPECT_EQ(capacity, 11u);
  capacity = sizeof text;
  ASSERT_EQ(GetDevicePhysicalAddress(rpc_.get(), text, &capacity), 1);
  EXPECT_STREQ(text, "00-1B-2C-00-00-01");
  EXPECT_EQ(SetDeviceName(rpc_.get(), std::string(64, 'n').c_str()), 0);

  struct Window {
    int x, y, w, h, ok;
  };
  for (const Window& c :
       {Window{0, 0, 640, 480, 1}, Window{10, 20, 1, 1, 1}, Window{-1, 0, 640, 480, 0},
        Window{0, 0, 0, 480, 0}, Window{0, 0, 640, -3, 0}}) {
    EXPECT_EQ(SetWindowGen(rpc_.get(), c.x, c.y, c.w, c.h), c.ok)
        << c.x << "," << c.w << "," << c.h;
  }
  EXPECT_EQ(engine_->Model().WindowGen().x, 10);
  EXPECT_EQ(engine_->Model().WindowGen().height, 1);

  engine_->Model().WriteReg(0x40, 9);
  RestartDevice(rpc_.get());
  EXPECT_EQ(engine_->Model().Restarts(), 1);
  EXPECT_EQ(engine_->Model().ReadReg(0x40), 0u);
}

// Frames built by hand whose buffers do not match what the function will touch.
TEST_F(EngineRpcTest, CapacityBuffersMustMatchTheirCapacity) {
  char name[8];
  uint32_t held = 100;
  uint32_t type = 0;
  uint8_t value[8];
  const uint8_t bytes[4] = {1, 2, 3, 4};
  const char unterminated[3] = {'a', 'b', 'c'};
  struct Case {
    const char* what;
    RpcCall call;
  };
  Case cases[] = {
      {"name capacity larger than its buffer",
       RpcCall("GetArgName", 5).Int(3).Int(1).Int(100).Buffer(name, sizeof name, kRpcOut)},
      {"held capacity larger than the text buffer", RpcCall("GetDeviceName", 3)
                                                        .Buffer(name, sizeof name, kRpcOut)
                                                        .Buffer(&held, sizeof held, kRpcBoth)},
      {"capacity held in two bytes", RpcCall("GetDeviceSerialNo", 3)
                                         .Buffer(name, sizeof name, kRpcOut)
                                         .Buffer(&held, 2, kRpcBoth)},
      {"value capacity larger than the value buffer", RpcCall("ReadRegistery", 7)
                                                          .Int(2)
                                                          .Text("k")
                                                          .Text("n")
                                                          .Buffer(&type, 4, kRpcOut)
                                                          .Buffer(value, sizeof value, kRpcOut)
                                                          .Buffer(&held, 4, kRpcBoth)},
      {"value size larger than the value", RpcCall("WriteRegistery", 7)
                                               .Int(2)
                                               .Text("k")
                                               .Text("n")
                                               .Int(1)
                                               .Buffer(bytes, sizeof bytes, kRpcIn)
                                               .Int(4096)},
      {"unterminated name", RpcCall("SetDeviceName", 2).Buffer(unterminated, 3, kRpcIn)},
      {"a buffer where a number belongs",
       RpcCall("SetWindowGen", 5).Buffer(bytes, 4, kRpcIn).Int(0).Int(8).Int(8)},
  };
  std::memset(name, 0x5A, sizeof name);
  for (auto& c : cases) EXPECT_EQ(c.call.Invoke(rpc_.get()), 0) << c.what;
  EXPECT_EQ(name[0], 0x5A);
  EXPECT_EQ(held, 100u);
  uint32_t size = 8;
  EXPECT_EQ(ReadRegistery(rpc_.get(), 2, "k", "n", &type, value, &size), 0);  // nothing written
  EXPECT_EQ(engine_->Model().DeviceName(), "Zelvin EC");
  EXPECT_EQ(engine_->Model().WindowGen().width, 0);
}

// A client-side manager's remote send reaches the engine's manager, which writes to the
// destination's serial port.
TEST_F(EngineRpcTest, RemoteDestinationDataGoesOutThroughTheEnginesManager) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  setenv("VEL_COM7", pty.First().c_str(), 1);
  const int peer = open(pty.Second().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(peer, 0);
  CAppDests* engine_dests = engine_->AppDests();
  ASSERT_NE(engine_dests, nullptr);
  EXPECT_EQ(rpc_->GetAppDest(), nullptr);  // the client channel has none until it makes one
  ASSERT_NE(engine_dests->AddDest("COM7", 19200, 0, 0, 0), nullptr);

  CtVar client_root;
  CAppDestsRemoteLink link(rpc_.get());
  CAppDests client_dests(&client_root, &link);
  const std::string text = "lot 17 ok\r\n";
  const std::span bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  EXPECT_EQ(client_dests.SendMessageW("1", bytes, 1, 0, nullptr), 1);
  std::string got;
  for (int i = 0; i < 300 && got.size() < text.size(); ++i) {
    char buf[64];
    const ssize_t n = read(peer, buf, sizeof buf);
    if (n > 0)
      got.append(buf, static_cast<size_t>(n));
    else
      usleep(10000);
  }
  EXPECT_EQ(got, text);
  // An unknown destination is dropped on the engine's side without harm.
  EXPECT_EQ(AppDestsSendMessageRmtO(rpc_.get(), "42", bytes, 0), 1);
  EXPECT_EQ(GetServerVersion(rpc_.get()), 1800);
  close(peer);
  unsetenv("VEL_COM7");
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
