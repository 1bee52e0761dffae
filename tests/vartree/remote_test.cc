// A client mirror against a "server" that is a second, local tree behind a fake remote link:
// reads, writes, subtree reloads, forwarding on and off, and forwarded structure changes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vartree/tvar.h"

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class LocalServer : public XTVarRemote {
 public:
  CtVar* Find(const std::string& name) { return tree.GetChild(name.c_str()); }

  int ReadVar(const std::string& name, uint32_t capacity, TVarRemoteValue* out) override {
    read_capacities.push_back(capacity);
    CtVar* node = Find(name);
    if (!node) return 0;
    uint32_t size = 0;
    const uint8_t* value = node->GetData(&size);
    out->type = node->GetStoredType();
    out->number = static_cast<double>(*node);
    out->size = size;
    if (value && capacity >= size) out->value.assign(value, value + size);
    out->format = std::string(node->FormatView());
    return 1;
  }
  int WriteVar(const std::string& name, uint32_t type, double number,
               std::span<const uint8_t> value, const std::string& format) override {
    log.push_back("write " + name);
    CtVar& node = tree[name.c_str()];
    if (type == OZK_TVAR_STRING) {
      node = std::string(value.begin(), value.end()).c_str();
    } else if (type == OZK_TVAR_DATA) {
      node.SetData(value.data(), static_cast<uint32_t>(value.size()));
    } else {
      node = number;
    }
    node.SetFormat(format.c_str());
    return 1;
  }
  int GetNextChildName(const std::string& name, const std::string& prev,
                       std::string* out) override {
    CtVar* node = Find(name);
    if (!node) return 0;
    CtVar* next = node->GetNextChild(prev.empty() ? nullptr : node->GetChild(prev.c_str()));
    if (!next) return 0;
    *out = std::string(next->NameView());
    return 1;
  }
  uint32_t GetNumChildren(const std::string& name) override {
    CtVar* node = Find(name);
    return node ? node->GetNumChildren() : 0;
  }
  uint32_t Release(const std::string& name, int count) override {
    log.push_back("release " + name + " " + std::to_string(count));
    return release_answer;
  }
  uint32_t ReadTreeSize(const std::string& name) override {
    CtVar* node = Find(name);
    return node ? node->SerializeTreeSize() : 0;
  }
  int ReadTree(const std::string& name, uint32_t size, std::vector<uint8_t>* out) override {
    CtVar* node = Find(name);
    if (!node) return 0;
    *out = node->SerializeTree();
    return 1;
  }
  int Lock(const std::string& name, uint32_t timeout_ms) override {
    log.push_back("lock " + name + " " + std::to_string(timeout_ms));
    return 1;
  }
  int UnLock(const std::string& name) override {
    log.push_back("unlock " + name);
    return 1;
  }
  int MoveUp(const std::string& name) override {
    log.push_back("moveup " + name);
    return Find(name)->MoveUp();
  }
  int MoveDown(const std::string& name) override {
    log.push_back("movedown " + name);
    return Find(name)->MoveDown();
  }
  uint32_t GetRefCount(const std::string&) override { return 5; }
  int Rename(const std::string& name, const std::string& new_name) override {
    log.push_back("rename " + name + " " + new_name);
    return Find(name)->Rename(new_name.c_str()) ? 7 : 0;
  }
  int PlaceAfter(const std::string& name, const std::string& after) override {
    log.push_back("placeafter " + name + " " + after);
    return 1;
  }
  XTVarDests* GetAppDest() override { return nullptr; }

  CtVar tree;
  std::vector<std::string> log;
  std::vector<uint32_t> read_capacities;
  uint32_t release_answer = 0;
};

class Mirror : public ::testing::Test {
 protected:
  Mirror() { mirror.SetRpc(&server); }
  // A mirror node created without asking the server.
  CtVar& Local(const char* path) { return mirror[path]; }

  LocalServer server;
  CtVar mirror;
};

TEST_F(Mirror, ValuesAreWrittenToAndReadFromTheServer) {
  Local("AppVar.N") = 2.5;
  Local("AppVar.T") = "hi";
  Local("AppVar.N").SetFormat("%5.2f");
  EXPECT_EQ(static_cast<double>(server.tree["AppVar.N"]), 2.5);
  EXPECT_EQ(server.tree["AppVar.N"].FormatView(), "%5.2f");
  EXPECT_EQ(server.tree["AppVar.T"].GetValueStr(), "hi");

  server.tree["AppVar.N"] = 4.0;
  server.tree["AppVar.N"].SetFormat("%d");
  EXPECT_EQ(static_cast<double>(Local("AppVar.N")), 4.0);
  EXPECT_EQ(Local("AppVar.N").GetFormat(), "%d");
  EXPECT_EQ(Local("AppVar.N").GetRpc(), &server);
  EXPECT_EQ(Local("AppVar").GetNumChildren(), 2u);
  std::string next;
  EXPECT_EQ(Local("AppVar").GetNextChildNameRemote("N", &next), 1);
  EXPECT_EQ(next, "T");
}

TEST_F(Mirror, ReadGrowsTheTextBufferAndRepeats) {
  const std::string text(40, 't');
  server.tree["AppVar.T"] = text.c_str();
  CtVar& t = Local("AppVar.T");
  EXPECT_EQ(std::string(static_cast<const char*>(t)), text);
  EXPECT_THAT(server.read_capacities, ElementsAre(0u, 42u));
  uint32_t size = 0;
  server.read_capacities.clear();
  t.GetData(&size);
  EXPECT_EQ(size, 42u);
  EXPECT_THAT(server.read_capacities, ElementsAre(42u));

  // The server's text shrank in a fresh buffer: the larger local buffer is kept, read once.
  server.tree["AppVar.T"].Release(1);
  server.tree["AppVar.T"] = "ab";
  server.read_capacities.clear();
  EXPECT_EQ(t.GetValueStr(), std::string(text));  // GetValueStr does not refresh
  EXPECT_STREQ(static_cast<const char*>(t), "ab");
  t.GetData(&size);
  EXPECT_EQ(size, 42u);
  EXPECT_THAT(server.read_capacities, ElementsAre(42u, 42u));
}

TEST_F(Mirror, DataOfAnotherSizeIsReadAgain) {
  CtVar& d = Local("AppVar.D");
  d.SetRemoteConnectState(0);
  const std::vector<uint8_t> local(16, 1);
  d.SetData(local.data(), 16);
  d.SetRemoteConnectState(1);
  const uint8_t remote[] = {9, 8, 7, 6, 5, 4, 3, 2};
  server.tree["AppVar.D"].SetData(remote, 8);
  uint32_t size = 0;
  const uint8_t* got = d.GetData(&size);
  ASSERT_EQ(size, 8u);
  EXPECT_EQ(std::vector<uint8_t>(got, got + 8), std::vector<uint8_t>(remote, remote + 8));
  EXPECT_THAT(server.read_capacities, ElementsAre(16u, 8u));
  EXPECT_THAT(server.log, Not(Contains("write AppVar.D")));
}

TEST_F(Mirror, UnlinkedNodesDoNotForward) {
  CtVar plain;
  EXPECT_EQ(plain["x"].ReadRemote(), 0);
  EXPECT_EQ(plain["x"].WriteRemote(&plain["x"]), 0);
  EXPECT_EQ(plain["x"].ReadTreeRemote(), 1);
  EXPECT_EQ(plain["x"].ResyncWithBase(1), 0);
  // A linked node whose server counterpart is missing keeps its value.
  CtVar& gone = Local("AppVar.Gone");
  gone.SetRemoteConnectState(0);
  gone = 3.0;
  gone.SetRemoteConnectState(1);
  EXPECT_EQ(gone.ReadRemote(), 0);
  EXPECT_EQ(static_cast<double>(gone), 3.0);
}

TEST_F(Mirror, SubtreeReloadDoesNotEchoWrites) {
  server.tree["AppVar.Cam.X"] = 1.0;
  server.tree["AppVar.Cam.Y"] = "y";
  server.tree["AppVar.Cam.Z.Deep"] = 2.0;
  CtVar& app = Local("AppVar");
  ASSERT_EQ(app.ReadTreeRemote(), 1);
  EXPECT_TRUE(app.IsSameTreeStructureAs(&server.tree["AppVar"]));
  EXPECT_TRUE(server.log.empty());
  EXPECT_EQ(app["Cam.Z.Deep"].GetRpc(), &server);
  EXPECT_EQ(app["Cam.Y"].GetValueStr(), "y");
  EXPECT_EQ(Local("Nowhere").ReadTreeRemote(), 0);  // the server has no such node
}

TEST_F(Mirror, ConnectStateParksAndRestoresTheLink) {
  CtVar& a = Local("AppVar.A");
  Local("AppVar.A.B");
  Local("AppVar").SetRemoteConnectState(0);
  EXPECT_EQ(a.GetRpc(), nullptr);
  EXPECT_EQ(a["B"].GetRpc(), nullptr);
  a = 5.0;  // not forwarded while parked
  EXPECT_TRUE(server.log.empty());
  Local("AppVar").SetRemoteConnectState(1);
  EXPECT_EQ(a["B"].GetRpc(), &server);

  // A link installed while parked wins; the parked one stays parked.
  LocalServer other;
  a.SetRemoteConnectState(0);
  a.SetRpc(&other);
  EXPECT_EQ(a.SetRemoteConnectState(1), 1);
  EXPECT_EQ(a.GetRpc(), &other);
  a.SetRemoteConnectState(0);
  EXPECT_EQ(a.GetRpc(), &other);
}

TEST_F(Mirror, ResyncDropsUnreferencedChildrenAndReloads) {
  server.tree["AppVar.Fresh"] = 1.0;
  Local("AppVar.Stale");
  Local("AppVar.Held.Inner").AddRef();
  Local("AppVar.Counted").AddRef();
  ASSERT_EQ(Local("AppVar").ResyncWithBase(1), 1);
  std::vector<std::string> names;
  for (CtVar* c = Local("AppVar").GetFirstChild(); c; c = c->GetNextSibling())
    names.emplace_back(c->NameView());
  EXPECT_THAT(names, ElementsAre("Held", "Counted", "Fresh"));
  EXPECT_TRUE(server.log.empty());  // no remote release
}

TEST_F(Mirror, FirstChildWithRefreshReloadsATopBranch) {
  server.tree["AppVar.S1"] = 1.0;
  Local("AppVar.Old");
  CtVar* first = Local("AppVar").GetNextChild(nullptr, 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->NameView(), "S1");
  EXPECT_EQ(first->GetNextSibling(), nullptr);
}

TEST_F(Mirror, ReleaseAsksTheServer) {
  CtVar& r = Local("AppVar.R");
  server.release_answer = 2;
  EXPECT_EQ(r.Release(1, 1, 1), 2u);
  EXPECT_EQ(Local("AppVar").GetChild("R"), &r);
  EXPECT_EQ(r.GetRefCount(1), 5u);
  EXPECT_EQ(r.GetRefCount(0), 0u);
  server.release_answer = 0;
  EXPECT_EQ(r.Release(1, 1, 1), 0u);
  EXPECT_EQ(Local("AppVar").GetChild("R"), nullptr);
  EXPECT_THAT(server.log, ElementsAre("release AppVar.R 0", "release AppVar.R 0"));
}

TEST_F(Mirror, StructureChangesAreForwardedByTheOldName) {
  server.tree["AppVar.a"];
  server.tree["AppVar.b"];
  Local("AppVar.a");
  Local("AppVar.b");
  Local("AppVar.b").MoveUp();
  Local("AppVar.b").MoveDown();
  EXPECT_EQ(Local("AppVar.a").Rename("c"), 7);
  Local("AppVar.c").PlaceAfter(nullptr);
  Local("AppVar.b").PlaceAfter(&Local("AppVar.c"));
  Local("AppVar").Lock(1234, 1);
  Local("AppVar").UnLock(1);
  EXPECT_THAT(server.log, ElementsAre("moveup AppVar.b", "movedown AppVar.b", "rename AppVar.a c",
                                      "placeafter AppVar.c ", "placeafter AppVar.b AppVar.c",
                                      "lock AppVar 1234", "unlock AppVar"));
  EXPECT_EQ(server.tree.GetChild("AppVar.c"), server.tree["AppVar"].GetFirstChild());
}

}  // namespace
