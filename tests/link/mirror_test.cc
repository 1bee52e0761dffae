#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "link/rpc_stubs.h"
#include "link/tvar_access.h"
#include "link/tvar_remote_ops.h"
#include "tests/link/rpc_peers.h"
#include "vartree/tvar.h"

namespace {

std::vector<std::string> ChildNames(CtVar& node) {
  std::vector<std::string> names;
  for (CtVar* c = node.GetFirstChild(); c; c = c->GetNextSibling())
    names.emplace_back(c->NameView());
  return names;
}

// The sending functions against a server tree in this process. (A CtVar mirror holds the
// process-wide tree lock across its round trips, so a mirror and its server tree live in
// different processes; see the cross-process test below.)
class RemoteOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.rpc.SetRootTVar(&tree);
    tree["AppVar.Num"] = 2.5;
    tree["AppVar.Text"] = "hello";
    tree["AppVar.List.A"] = 1.0;
    tree["AppVar.List.B"] = 2.0;
    tree["AppVar.List.C"] = 3.0;
    ASSERT_TRUE(ConnectPeers(&server, &client));
  }
  CVelRpc* rpc() { return &client.rpc; }
  CtVar tree;
  RpcServer server;
  RpcClient client;
};

TEST_F(RemoteOpsTest, ReadReportsAndCopiesByCapacity) {
  TVarRemoteValue v;
  ASSERT_EQ(tVarReadRmtO(rpc(), "AppVar.Num", 0, &v), 1);
  EXPECT_EQ(v.type, 0u);
  EXPECT_EQ(v.number, 2.5);
  v = TVarRemoteValue();
  ASSERT_EQ(tVarReadRmtO(rpc(), "AppVar.Text", 2, &v), 1);
  EXPECT_EQ(v.type, 1u);
  EXPECT_EQ(v.size, 7u);         // length + 2
  EXPECT_TRUE(v.value.empty());  // capacity too small: not copied
  ASSERT_EQ(tVarReadRmtO(rpc(), "AppVar.Text", 7, &v), 1);
  EXPECT_EQ(std::string(v.value.begin(), v.value.end()), "hello");
  const uint8_t bytes[3] = {0, 9, 0};
  tree["AppVar.Data"].SetData(bytes, 3);
  ASSERT_EQ(tVarReadRmtO(rpc(), "AppVar.Data", 3, &v), 1);
  EXPECT_EQ(v.value, std::vector<uint8_t>(bytes, bytes + 3));
  ASSERT_EQ(tVarReadRmtO(rpc(), "AppVar.Data", 4, &v), 1);
  EXPECT_TRUE(v.value.empty());  // data only at exactly its size
}

TEST_F(RemoteOpsTest, WriteIsAppliedInOrderBeforeALaterRead) {
  const std::string text = "abc";
  ASSERT_EQ(tVarWriteRmtO(rpc(), "AppVar.New", 1, 0,
                          std::span(reinterpret_cast<const uint8_t*>(text.c_str()), 4), "%s"),
            1);
  ASSERT_EQ(tVarWriteRmtO(rpc(), "AppVar.Num", 0, 7.25, {}, "%5.1f"), 1);
  TVarRemoteValue v;
  ASSERT_EQ(tVarReadRmtO(rpc(), "AppVar.Num", 0, &v), 1);
  EXPECT_EQ(v.number, 7.25);
  EXPECT_EQ(v.format, "%5.1f");
  CtVarLock lock;
  EXPECT_STREQ(static_cast<const char*>(tree["AppVar.New"]), "abc");
}

TEST_F(RemoteOpsTest, ChildEnumerationAndCounts) {
  std::string name;
  EXPECT_EQ(tVarGetNextChildNameRmtO(rpc(), "AppVar.List", "", &name), 1);
  EXPECT_EQ(name, "A");
  EXPECT_EQ(tVarGetNextChildNameRmtO(rpc(), "AppVar.List", "a", &name), 1);
  EXPECT_EQ(name, "B");
  EXPECT_EQ(tVarGetNextChildNameRmtO(rpc(), "AppVar.List", "C", &name), 1);
  EXPECT_EQ(name, "");
  EXPECT_EQ(tVarGetNextChildNameRmtO(rpc(), "AppVar.List", "Nope", &name), 1);
  EXPECT_EQ(name, "");
  EXPECT_EQ(tVarGetNumChildrenRmtO(rpc(), "AppVar.List"), 3u);
  tree["AppVar.List.A"].AddRef();
  EXPECT_EQ(tVarGetRefCountRmtO(rpc(), "AppVar.List.A"), 1u);
}

TEST_F(RemoteOpsTest, StructureChanges) {
  EXPECT_EQ(tVarRenameRmtO(rpc(), "AppVar.List.A", "Z"), 1);
  EXPECT_EQ(tVarMoveDownRmtO(rpc(), "AppVar.List.Z"), 1);
  EXPECT_EQ(tVarPlaceAfterRmtO(rpc(), "AppVar.List.C", ""), 1);
  EXPECT_EQ(tVarMoveUpRmtO(rpc(), "AppVar.List.Z"), 1);
  EXPECT_EQ(tVarReleaseRmtO(rpc(), "AppVar.List.B", 0), 0u);  // the last round trip orders all
  CtVarLock lock;
  EXPECT_EQ(ChildNames(tree["AppVar.List"]), (std::vector<std::string>{"C", "Z"}));
}

TEST_F(RemoteOpsTest, SubtreeTravelsAsRecord) {
  const uint32_t size = tVarReadTreeSizeRmtO(rpc(), "AppVar.List");
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> record;
  ASSERT_EQ(tVarReadTreeRmtO(rpc(), "AppVar.List", size, &record), 1);
  EXPECT_EQ(record.size(), size);
  CtVar copy;
  ASSERT_EQ(copy.UnSerializeTree(record.data(), size), 1);
  EXPECT_TRUE(copy.IsSameTreeStructureAs(&tree["AppVar.List"]) ||
              ChildNames(copy) == (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(tVarReadTreeRmtO(rpc(), "AppVar.List", size - 1, &record), 0);  // too small
}

TEST_F(RemoteOpsTest, ReadCountsAnswersZeroAndSendToDestReachesHandler) {
  client.rpc.AddFunctionMapTable(
      std::vector<OZK_RPC_FUNC_MAP>{{"tVarReadCounts", &tVarReadCounts}}.data(), 1);
  server.rpc.AddFunctionMapTable(
      std::vector<OZK_RPC_FUNC_MAP>{{"tVarReadCounts", &tVarReadCounts}}.data(), 1);
  uint8_t flag = 1;
  uint32_t a = 5, b = 6;
  EXPECT_EQ(tVarReadCountsRmtO(rpc(), &flag, &a, &b), 0);
  std::atomic<int> sent{0};
  std::string dest;
  server.rpc.SetDestSender([&](const char* d, std::span<const uint8_t> data, uint32_t flag) {
    dest = d;
    sent = static_cast<int>(data.size() + flag);
    return 1;
  });
  const uint8_t line[4] = {'1', '2', '3', '\n'};
  EXPECT_EQ(AppDestsSendMessageRmtO(rpc(), "Plc1", line, 10), 1);
  EXPECT_EQ(tVarGetNumChildrenRmtO(rpc(), "AppVar"), 3u);  // a round trip after the send
  EXPECT_EQ(sent, 14);
  EXPECT_EQ(dest, "Plc1");
}

TEST_F(RemoteOpsTest, PeerGoneGivesZero) {
  server.Close();
  TVarRemoteValue v;
  for (int i = 0; i < 200 && client.IsConnected(); ++i) usleep(5000);
  EXPECT_EQ(tVarReadRmtO(rpc(), "AppVar.Num", 0, &v), 0);
  EXPECT_EQ(tVarWriteRmtO(rpc(), "AppVar.Num", 0, 1, {}, ""), 0);
  EXPECT_EQ(tVarGetNumChildrenRmtO(rpc(), "AppVar"), 0u);
}

// ---- A client mirror kept in step with a server tree in another process ----

class ServerProcess {
 public:
  // Forks a server holding a small tree; the child serves until its client leaves.
  ServerProcess() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      RunChild(fds[1]);
    }
    close(fds[1]);
    if (read(fds[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    close(fds[0]);
  }
  ~ServerProcess() {
    if (pid_ > 0) waitpid(pid_, &status_, 0);
  }
  int port() const { return port_; }
  int Wait() {
    waitpid(pid_, &status_, 0);
    pid_ = -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

 private:
  class Server : public RpcServer {
   public:
    void OnClientDisconnect(int, int) override { gone = true; }
    std::atomic<bool> gone{false};
  };

  [[noreturn]] static void RunChild(int fd) {
    CtVar tree;
    tree["AppVar.Speed"] = 12.5;
    tree["AppVar.Label"] = "line 1";
    tree["AppVar.Note"] = std::string(300, 'n').c_str();  // more than a first read offers
    tree["AppVar.Cam.X"] = 1.0;
    tree["AppVar.Cam.Y"] = 2.0;
    tree["AppVar.Cam.Z"] = 3.0;
    {
      Server server;
      server.rpc.SetRootTVar(&tree);
      int port = server.Listen(0) == 0 ? server.GetPort() : 0;
      (void)!write(fd, &port, sizeof port);
      for (int i = 0; i < 3000 && !server.gone; ++i) usleep(10000);
      // The state the client left behind, checked by exit status.
      const bool ok = static_cast<double>(tree["AppVar.Speed"]) == 99 &&
                      tree.GetChild("AppVar.Cam.W") && !tree.GetChild("AppVar.Cam.X");
      server.Close();
      _exit(ok ? 0 : 3);
    }
  }

  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = 0;
};

TEST(MirrorAcrossProcesses, MirrorStaysInStepWithServerTree) {
  ServerProcess server;
  ASSERT_GT(server.port(), 0);
  {
    RpcClient client;
    ASSERT_EQ(client.Connect("127.0.0.1", server.port()), 0);
    CtVar mirror;
    mirror.SetRpc(&client.rpc);
    CtVar& app = mirror["AppVar"];

    EXPECT_EQ(static_cast<double>(app["Speed"]), 12.5);
    EXPECT_STREQ(static_cast<const char*>(app["Label"]), "line 1");
    EXPECT_EQ(std::string(static_cast<const char*>(app["Note"])), std::string(300, 'n'));
    app["Speed"] = 99.0;
    EXPECT_EQ(app["Speed"].GetRefCount(1), 0u);  // a round trip: the write is applied

    // Reload the subtree, then enumerate children from the server.
    CtVar* first = app["Cam"].GetNextChild(nullptr, 0);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(app["Cam"].ReadTreeRemote(), 1);
    EXPECT_EQ(ChildNames(app["Cam"]), (std::vector<std::string>{"X", "Y", "Z"}));
    EXPECT_EQ(app["Cam"].GetNumChildren(), 3u);
    std::string next;
    EXPECT_EQ(app["Cam"].GetNextChildNameRemote("Y", &next), 1);
    EXPECT_EQ(next, "Z");
    EXPECT_EQ(static_cast<double>(app["Cam"]["Z"]), 3.0);

    EXPECT_EQ(app["Cam"]["Z"].Rename("W"), 1);
    EXPECT_EQ(app["Cam"]["W"].MoveUp(), 1);
    EXPECT_EQ(app["Cam"].GetNextChildNameRemote("X", &next), 1);
    EXPECT_EQ(next, "W");
    EXPECT_EQ(app["Cam"]["Y"].Lock(4000, 1), 1);
    EXPECT_EQ(app["Cam"]["Y"].UnLock(1), 1);

    EXPECT_EQ(app["Cam"]["X"].Release(1, 1, 1), 0u);  // released on both sides
    EXPECT_EQ(app["Cam"].GetNumChildren(), 2u);
    EXPECT_EQ(app["Cam"].ResyncWithBase(1), 1);
    EXPECT_EQ(ChildNames(app["Cam"]), (std::vector<std::string>{"W", "Y"}));

    EXPECT_EQ(mirror.SetRemoteConnectState(0), 1);
    EXPECT_EQ(static_cast<double>(app["Speed"]), 99.0);  // the local copy, no round trip
    EXPECT_EQ(app["Speed"].GetRpc(), nullptr);
    mirror.SetRemoteConnectState(1);
    EXPECT_EQ(app["Speed"].GetRpc(), &client.rpc);
    ASSERT_NE(app.GetNextChild(nullptr, 1), nullptr);  // a top branch reloads when asked
    EXPECT_EQ(app.GetFirstChild()->NameView(), "Speed");
  }
  EXPECT_EQ(server.Wait(), 0);
}

}  // namespace
