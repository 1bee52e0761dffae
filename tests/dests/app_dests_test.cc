#include "dests/app_dests.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "dests/app_dests_link.h"
#include "dests/connection.h"
#include "tests/dests/pty_pair.h"
#include "vartree/tvar.h"

namespace {

// A device link for role 18 that records what the manager does with it. All role-18
// destinations share one connection (their connection name is the same).
struct Recorded {
  int created = 0;
  int destroyed = 0;
  int opens = 0;
  struct Send {
    std::string dest;
    std::string bytes;
    uint32_t index;
  };
  std::vector<Send> sends;
  std::string reply;
  uint32_t last_length = 0;
  std::vector<std::string> watches;  // "what:variable|destination|offset"
};
Recorded g_rec;

class RecordingConnection : public CConnection {
 public:
  RecordingConnection() { ++g_rec.created; }
  ~RecordingConnection() override { ++g_rec.destroyed; }
  int Open(CtVar*, int, DEST_DEF_REC*, CAppDests*) override {
    ++g_rec.opens;
    return 1;
  }
  int GetDest(CtVar* dest, DEST_DEF_REC* rec) override {
    rec->role = 18;
    return 1;
  }
  int SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t index, CtVar*) override {
    g_rec.sends.push_back(
        {std::string(dest->NameView()), std::string(data.begin(), data.end()), index});
    return 1;
  }
  int RecvMessage(CtVar*, std::span<uint8_t> buffer, uint32_t length, uint32_t, CtVar*) override {
    g_rec.last_length = length;
    const size_t n = std::min(buffer.size(), g_rec.reply.size());
    std::copy_n(g_rec.reply.begin(), n, buffer.begin());
    return static_cast<int>(n);
  }
  uint32_t GetRegisterType(CtVar*) override { return OZK_TVAR_STRING; }
  void* CreateVarChangeCallback(const char* var, const char* dest, uint32_t offset,
                                OzkVarChangeCallback, void* context) override {
    g_rec.watches.push_back(std::string("callback:") + var + "|" + dest + "|" +
                            std::to_string(offset));
    return context;
  }
  void DeleteVarChangeCallback(const char* var, void* handle) override {
    g_rec.watches.push_back(std::string("uncallback:") + var + (handle ? "|handle" : "|null"));
  }
  void* CreateVarChangeTrigger(const char* dest, uint32_t offset, int arg) override {
    g_rec.watches.push_back("trigger:" + std::string(dest) + "|" + std::to_string(offset) + "|" +
                            std::to_string(arg));
    return this;
  }
  void DeleteVarChangeTrigger(const char* dest, uint32_t offset, int arg) override {
    g_rec.watches.push_back("untrigger:" + std::string(dest) + "|" + std::to_string(offset));
  }
};

CConnection* CreateRecording() {
  return new RecordingConnection;
}
std::wstring RecordingName(uint32_t, CtVar*) {
  return L"Profinet";
}
int NoDevice(uint32_t) {
  return 0;
}
const OzkAppDestRegistration g_register(18, CreateRecording, RecordingName, NoDevice);

class FakeLink : public XAppDestsLink {
 public:
  int SendMessageRemote(const char* dest, std::span<const uint8_t> data, uint32_t index) override {
    sent.push_back(std::string(dest) + "|" + std::string(data.begin(), data.end()) + "|" +
                   std::to_string(index));
    return 1;
  }
  int QueryKeepDests() override { return keep; }
  int DeleteAppDest(const char* dest, uint32_t flags) override {
    deleted.push_back(std::string(dest) + "|" + std::to_string(flags));
    return 1;
  }
  std::vector<std::string> sent;
  std::vector<std::string> deleted;
  int keep = 0;
};

class FakeClient : public XAppDestsClient {
 public:
  int GetApplianceType() override { return type; }
  bool GetGpioLines(DestGpioLines* out) override {
    *out = lines;
    return reports;
  }
  int type = 1;
  bool reports = true;
  DestGpioLines lines;
};

std::string ChildNames(CtVar* node) {
  std::string names;
  for (CtVar* c = node ? node->GetFirstChild() : nullptr; c; c = c->GetNextSibling())
    names += std::string(c->NameView()) + " ";
  return names;
}

class AppDestsTest : public ::testing::Test {
 protected:
  void SetUp() override { g_rec = Recorded(); }
  CtVar root;
};

std::string Name(CtVar* node) {
  return node ? std::string(node->NameView()) : "(null)";
}

TEST_F(AppDestsTest, AddWritesKeysAndAppliesEachEqualityRule) {
  CAppDests dests(&root);
  CtVar* server = dests.AddDest(1, 5020, nullptr, 0, 0);
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(Name(server), "1");
  EXPECT_EQ(dests.AddDest(1, 5020, "other", 0, 0), nullptr);  // servers ignore the host
  EXPECT_NE(dests.AddDest(1, kUnsetPort, nullptr, 0, 0), nullptr);
  EXPECT_NE(dests.AddDest(1, kUnsetPort, nullptr, 0, 0), nullptr);  // placeholders never match
  CtVar* client = dests.AddDest(6, 502, "PLC1", 0, 1);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(dests.AddDest(6, 502, "plc1", 0, 0), nullptr);
  EXPECT_NE(dests.AddDest(6, 502, "plc2", 0, 0), nullptr);
  EXPECT_EQ(DestKeyText(client, "IpAddr"), "PLC1");
  EXPECT_EQ(DestKeyU32(client, "UDP"), 1u);

  DEST_MODBUS_REC mb{502, "10.0.0.9", 1, 40001, 2, 3, 4};
  CtVar* modbus = dests.AddModBusDest(&mb, 0, 0);
  ASSERT_NE(modbus, nullptr);
  EXPECT_EQ(dests.AddModBusDest(&mb, 0, 0), modbus);
  EXPECT_EQ(DestKeyU32(modbus, "Role"), 3u);
  EXPECT_EQ(DestKeyU32(modbus, "RegAddr"), 40001u);
  EXPECT_EQ(DestKeyU32(modbus, "NumRegs"), 4u);
  mb.reg_addr = 40002;
  EXPECT_NE(dests.AddModBusDest(&mb, 0, 0), modbus);
  SetFixedText(mb.host, "10.0.0.10");
  CtVar* slave = dests.AddModBusDest(&mb, 1, 0);
  SetFixedText(mb.host, "10.0.0.11");
  EXPECT_EQ(dests.AddModBusDest(&mb, 1, 0), slave);  // slaves ignore the host
  EXPECT_EQ(DestKeyU32(slave, "Role"), 12u);

  DEST_MELSEC_REC plc{7, 5000, "10.0.0.20", 7, 0x3E, 1, 0, 0xFF, 0, 100, 0, 0x3FF, 0};
  CtVar* melsec = dests.AddMelsecDest(&plc, 0);
  ASSERT_NE(melsec, nullptr);
  EXPECT_EQ(DestKeyU32(melsec, "Role"), 7u);
  EXPECT_EQ(DestKeyU32(melsec, "PC"), 0xFFu);
  EXPECT_EQ(DestKeyU32(melsec, "ReqIO"), 0x3FFu);
  SetFixedText(plc.host, "10.0.0.20 ");  // the host is compared as text
  EXPECT_NE(dests.AddMelsecDest(&plc, 0), melsec);
  SetFixedText(plc.host, "10.0.0.20");
  plc.format = 0x11E;  // a different frame format alone is the same PLC link
  EXPECT_EQ(dests.AddMelsecDest(&plc, 0), melsec);
  CtVar* snp = dests.AddSNPDest(1, 8, 19200, 1, 1, "CPU1", "pw", 0);
  ASSERT_NE(snp, nullptr);
  EXPECT_EQ(dests.AddSNPDest(1, 8, 9600, 0, 0, "cpu1", nullptr, 0), snp);
  EXPECT_NE(dests.AddSNPDest(1, 9, 19200, 1, 1, "CPU1", "pw", 0), snp);
  EXPECT_EQ(DestKeyText(snp, "Password"), "pw");
  CtVar* srtp = dests.AddSRTPDest(1, 8, "10.0.0.30", 0);
  ASSERT_NE(srtp, nullptr);
  EXPECT_EQ(dests.AddSRTPDest(1, 8, "10.0.0.30", 0), srtp);
  EXPECT_NE(dests.AddSRTPDest(1, 8, "10.0.0.31", 0), srtp);
  EXPECT_EQ(DestKeyU32(srtp, "Role"), 15u);

  CtVar* gpi = dests.AddGPIODest(10, 0);
  ASSERT_NE(gpi, nullptr);
  EXPECT_EQ(dests.AddGPIODest(10, 0), nullptr);
  EXPECT_EQ(dests.AddGPIODest(7, 0), nullptr);

  CtVar* detected = dests.AddDetectedDest(18, 1);
  EXPECT_EQ(detected->GetRefCount(), 1u);
  EXPECT_EQ(dests.AddDetectedDest(18, 1), detected);
  EXPECT_EQ(detected->GetRefCount(), 1u);  // a reference only when it had none
}

TEST_F(AppDestsTest, ASerialPortAddedAgainIsRewrittenInPlace) {
  CAppDests dests(&root);
  CtVar* com = dests.AddDestEx("COM4", 9600, 0, 0, 8, OZK_HANDSHAKE_NONE, 0);
  ASSERT_NE(com, nullptr);
  EXPECT_EQ(DestKeyU32(com, "Change"), 65535u);
  (*com)["Change"] = 0.0;
  EXPECT_EQ(dests.AddDest("com4", 19200, 2, 2, 0), com);
  EXPECT_EQ(DestKeyU32(com, "BaudRate"), 19200u);
  EXPECT_EQ(DestKeyU32(com, "Parity"), 2u);
  EXPECT_EQ(DestKeyU32(com, "ByteSize"), 8u);
  EXPECT_EQ(DestKeyU32(com, "Change"), 65535u);
  EXPECT_TRUE(dests.SerialSettingsChanged());
  EXPECT_EQ(dests.GetNumDests(), 1);
  const DEST_COM_BODY body = GetRecBody<DEST_COM_BODY>(*dests.GetSlotRecord(1));
  EXPECT_EQ(FixedText(body.port_name), "com4");
  EXPECT_EQ(body.baud_rate, 19200u);
}

TEST_F(AppDestsTest, NinetyNineSlotsAndNoMore) {
  CAppDests dests(&root);
  for (uint32_t port = 1; port <= 99; ++port) {
    ASSERT_NE(dests.AddDest(6, port, "h", 0, 0), nullptr) << port;
  }
  EXPECT_EQ(dests.GetFreeIndex(), 100);
  EXPECT_EQ(dests.AddDest(6, 100, "h", 0, 0), nullptr);
  EXPECT_EQ(dests.GetNumDests(), 99);
  EXPECT_EQ(dests.GetDestID("99"), root.GetChild("Destinations.99"));
  for (const char* bad : {"0", "100", "1.PortNum", "", "x"}) {
    EXPECT_EQ(dests.GetDestID(bad), nullptr) << bad;
  }
}

TEST_F(AppDestsTest, DestinationsOfOneDeviceShareAConnection) {
  CAppDests dests(&root);
  CtVar* a = dests.AddProfinetDest(1, 0, 1, "a", "h", 1);
  CtVar* b = dests.AddProfinetDest(2, 0, 1, "b", "h", 1);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  CConnection* conn = dests.GetConn(a, nullptr);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(dests.GetConn(b, nullptr), conn);
  EXPECT_EQ(conn->RefCount(), 2u);
  EXPECT_EQ(g_rec.created, 1);
  EXPECT_EQ(g_rec.opens, 2);  // once per slot

  EXPECT_EQ(dests.DeleteDest(a, 0, 1), 1);
  EXPECT_EQ(conn->RefCount(), 1u);
  EXPECT_EQ(dests.SendMessageW("2", std::span<const uint8_t>(), 0, 0, nullptr), 1);
  EXPECT_EQ(g_rec.destroyed, 0);
  dests.DeleteDest(b, 0, 1);
  EXPECT_EQ(g_rec.destroyed, 1);
  EXPECT_EQ(dests.GetNumDests(), 0);
}

TEST_F(AppDestsTest, ADestinationWithoutAConnectionClassAnswersZero) {
  CAppDests dests(&root);
  CtVar* eip = dests.AddEthernetIpDest(5, 1, 2, 0x0A000001, 0xFFFFFF00, "node", 0);
  ASSERT_NE(eip, nullptr);
  EXPECT_EQ(dests.GetSlotRecord(1)->role, 9u);  // the slot is still taken
  const uint8_t data[] = {'x'};
  EXPECT_EQ(dests.SendMessageW(eip, data, 0, 0, nullptr), 0);
  EXPECT_EQ(dests.ReadRegister("1", 0, nullptr), 0);
  EXPECT_EQ(dests.WriteRegister("1", 0, 2.0, nullptr), 0);
  EXPECT_EQ(dests.IsConnected(eip), 0);
  EXPECT_EQ(dests.GetDestDescription(eip, 0), L"");
  EXPECT_EQ(dests.GetDest(eip, nullptr), 0);
  EXPECT_EQ(dests.SendMessageW("42", data, 0, 0, nullptr), 0);
  EXPECT_EQ(dests.GetFreeIndex(), 2);
}

TEST(AttachKeyTest, EncodesAndDecodesBothWays) {
  struct Case {
    const char* full;
    const char* key;
    const char* decoded;
  };
  const Case cases[] = {
      {"AppVar.Global.My_Var", "Global_My#Var", "Global.My_Var"},
      {"AppVar.X", "X", "X"},
      {"AppVar.a_b_c.d", "a#b#c_d", "a_b_c.d"},
      {"Plain", "Plain", "Plain"},
  };
  for (const Case& tc : cases) {
    EXPECT_EQ(CAppDests::EncodeAttachKey(tc.full), tc.key) << tc.full;
    EXPECT_EQ(CAppDests::DecodeAttachKey(tc.key), tc.decoded) << tc.key;
  }
}

TEST_F(AppDestsTest, AttachedVariablesReadAndWriteThroughTheirDestination) {
  CAppDests dests(&root);
  CtVar* dest = dests.AddProfinetDest(1, 0, 1, "a", "h", 0);
  ASSERT_EQ(Name(dest), "1");
  CtVar& var = root["AppVar.Global.My_Var"];
  ASSERT_EQ(var.AttachToDestination("1", 5, 1), 1);
  ASSERT_NE(root.GetChild("Destinations.1.AttachVar.Global_My#Var"), nullptr);

  g_rec.sends.clear();
  EXPECT_EQ(var.WriteAttachedDest(2.5), 1);
  ASSERT_EQ(g_rec.sends.size(), 1u);
  EXPECT_EQ(g_rec.sends[0].bytes, std::string("2.500000\0", 9));
  EXPECT_EQ(g_rec.sends[0].index, 5u);

  g_rec.reply = "7.25";
  EXPECT_DOUBLE_EQ(var.ReadAttachedDest(), 7.25);
  EXPECT_EQ(g_rec.last_length, kRecvOneValue);
  EXPECT_EQ(dests.GetRegisterType(&var), static_cast<uint32_t>(OZK_TVAR_STRING));
  EXPECT_EQ(dests.GetRegisterType(&root["AppVar.Other"]), 0u);

  CtVar* it = nullptr;
  std::string name;
  ASSERT_TRUE(dests.GetAttachedVarName(dest, &name, it));
  EXPECT_EQ(name, "Global.My_Var");
  EXPECT_FALSE(dests.GetAttachedVarName(dest, &name, it));
  EXPECT_EQ(dests.DetachVar("1", &var, 0), 1);
  it = nullptr;
  EXPECT_FALSE(dests.GetAttachedVarName(dest, &name, it));
}

TEST_F(AppDestsTest, OpenClassifiesAndCreatesTheSystemDestinations) {
  root["Destinations.5.Role"] = 18.0;
  root["Destinations.7.Role"] = 1.0;
  root["Destinations.7.PortNum"] = 5022.0;
  root["Destinations.8.Role"] = 2.0;
  root["Destinations.8.PortName"] = "COM9";
  CAppDests dests(&root, nullptr, 0, 1);
  EXPECT_EQ(dests.GetSysDest(SYS_DEST_RESULT_PORT), root.GetChild("Destinations.7"));
  EXPECT_EQ(dests.GetSysDest(SYS_DEST_OTHER_COM), root.GetChild("Destinations.8"));
  CtVar* com = dests.GetSysDest(SYS_DEST_COM);
  ASSERT_NE(com, nullptr);
  EXPECT_EQ(DestKeyText(com, "PortName"), "COM3");
  EXPECT_EQ(DestKeyU32(com, "BaudRate"), 38400u);
  for (int id : {1, 2, 7, 8, 9}) {
    CtVar* placeholder = dests.GetSysDest(id);
    ASSERT_NE(placeholder, nullptr) << id;
    EXPECT_EQ(DestKeyU32(placeholder, "PortNum"), kUnsetPort) << id;
  }
  EXPECT_EQ(DestKeyU32(dests.GetSysDest(SYS_DEST_GPI), "Role"), 10u);
  EXPECT_EQ(DestKeyU32(dests.GetSysDest(SYS_DEST_GPO), "Role"), 11u);
  EXPECT_EQ(dests.GetSysDest(10), nullptr);
  EXPECT_EQ(dests.GetNumDests(), 3 + 1 + 5 + 2);
  EXPECT_EQ(g_rec.opens, 1);
  ASSERT_FALSE(g_rec.sends.empty());
  EXPECT_EQ(g_rec.sends[0].dest, "5");  // opened with an empty message
  EXPECT_TRUE(g_rec.sends[0].bytes.empty());
  EXPECT_TRUE(dests.IsSysDest(7));
  EXPECT_FALSE(dests.IsSysDest(5));
  EXPECT_TRUE(dests.IsSysDest(root.GetChild("Destinations.8")));  // every serial port
  CtVar* tcp = root.GetChild("AppVar.TcpP5024");
  ASSERT_NE(tcp, nullptr);
  std::string attached_to;
  EXPECT_TRUE(tcp->IsAttachedToDest(&attached_to));
  EXPECT_EQ(attached_to, Name(dests.GetSysDest(SYS_DEST_SOCK_5024)));
}

TEST_F(AppDestsTest, ASolutionChangeRecyclesConnectionsThatRecur) {
  CAppDests dests(&root, nullptr, 0, 1);
  CtVar* dest = dests.AddProfinetDest(1, 0, 1, "a", "h", 0);
  ASSERT_NE(dest, nullptr);
  const int sys_count = dests.GetNumDests() - 1;
  EXPECT_EQ(g_rec.created, 1);
  dests.ResetSolution();
  EXPECT_EQ(dests.GetNumDests(), sys_count);  // system destinations survive
  EXPECT_EQ(g_rec.destroyed, 0);              // the connection waits in the recycle list
  root["Destinations.50.Role"] = 18.0;        // the new solution has the same device
  dests.Open();
  EXPECT_EQ(g_rec.created, 1);
  EXPECT_EQ(g_rec.destroyed, 0);
  dests.ResetSolution();
  dests.Open();  // this time it does not recur
  EXPECT_EQ(g_rec.destroyed, 1);
}

TEST_F(AppDestsTest, TheServerDecidesWhetherDestinationsOutliveASolutionChange) {
  FakeLink link;
  CAppDests dests(&root, &link, 0, 1);
  ASSERT_NE(dests.AddProfinetDest(1, 0, 1, "a", "h", 0), nullptr);
  const int all = dests.GetNumDests();
  link.keep = 1;
  EXPECT_EQ(dests.ResetSolution(), 1);
  EXPECT_EQ(dests.GetNumDests(), all);
  link.keep = 0;
  EXPECT_EQ(dests.ResetSolution(), 1);
  EXPECT_EQ(dests.GetNumDests(), all - 1);
}

TEST_F(AppDestsTest, ARemoteDeleteAlsoDeletesOnTheServerAndReleasesAttachedVariables) {
  FakeLink link;
  CAppDests dests(&root, &link);
  CtVar* kept = dests.AddProfinetDest(1, 0, 1, "a", "h", 0);
  CtVar* gone = dests.AddProfinetDest(2, 0, 1, "a", "h", 0);
  ASSERT_NE(gone, nullptr);
  CtVar& var = root["AppVar.Speed"];
  var.AddRef();
  var.AddRef();  // the test's own, so that the release below leaves the node alive
  ASSERT_EQ(var.AttachToDestination("2", 0, 1), 1);
  const uint32_t refs = var.GetRefCount();
  EXPECT_EQ(dests.DeleteDest(kept, 0, 1), 1);
  EXPECT_TRUE(link.deleted.empty());  // a local delete stays local
  EXPECT_EQ(dests.DeleteDest(gone, 1, 1), 1);
  EXPECT_EQ(link.deleted, (std::vector<std::string>{"2|1"}));
  EXPECT_EQ(var.GetRefCount(), refs - 1);
  EXPECT_EQ(dests.GetDestID("2"), nullptr);
}

TEST_F(AppDestsTest, DiscreteLinesFollowWhatTheClientReports) {
  struct Case {
    int type;
    bool reports;
    DestGpioLines lines;
    std::string inputs, outputs;
    bool outputs_attached;
  };
  const Case cases[] = {
      {1, true, {3, 4, 0, 2}, "3 4 5 6 ", "", false},  // type 1 has no outputs
      {5, true, {1, 2, 10, 3}, "1 2 ", "10 11 12 ", true},
      {0, true, {0, 0, 0, 1}, "99 ", "0 ", true},  // no inputs reported: left as they were
      {7, false, {1, 2, 1, 2}, "99 ", "", true},   // nothing reported: nothing rebuilt
  };
  for (const Case& c : cases) {
    CtVar tree;
    tree["AppVar.Global.GPI.99"] = 1.0;  // a line the appliance no longer has
    FakeClient client;
    client.type = c.type;
    client.reports = c.reports;
    client.lines = c.lines;
    CAppDests dests(&tree);
    dests.SetAppClient(&client);
    dests.Open();
    CtVar* gpi = tree.GetChild("AppVar.Global.GPI");
    ASSERT_NE(gpi, nullptr);
    EXPECT_TRUE(gpi->IsAttachedToDest());
    EXPECT_EQ(ChildNames(gpi), c.inputs) << c.type;
    CtVar* gpo = tree.GetChild("AppVar.Global.GPO");
    EXPECT_EQ(gpo != nullptr && gpo != &tree && gpo->IsAttachedToDest(), c.outputs_attached)
        << c.type;
    if (c.outputs_attached) {
      EXPECT_EQ(ChildNames(gpo), c.outputs) << c.type;
    }
  }
}

TEST_F(AppDestsTest, ChangeWatchesGoToTheConnectionOfTheAttachedVariable) {
  CAppDests dests(&root);
  ASSERT_NE(dests.AddProfinetDest(1, 0, 1, "a", "h", 0), nullptr);
  ASSERT_EQ(root["AppVar.Level"].AttachToDestination("1", 12, 1), 1);
  int context = 0;
  EXPECT_EQ(dests.CreateVarChangeCallback("Level", nullptr, &context), &context);
  dests.DeleteVarChangeCallback("Level", &context);
  EXPECT_NE(dests.CreateVarChangeTrigger("Level", 3), nullptr);
  dests.DeleteVarChangeTrigger("Level", 3);
  EXPECT_EQ(g_rec.watches,
            (std::vector<std::string>{"callback:Level|1|12", "uncallback:Level|handle",
                                      "trigger:1|12|3", "untrigger:1|12"}));
  g_rec.watches.clear();
  root["AppVar.Loose"] = 1.0;  // attached nowhere
  EXPECT_EQ(dests.CreateVarChangeCallback("Loose", nullptr, &context), nullptr);
  EXPECT_EQ(dests.CreateVarChangeTrigger("Missing", 1), nullptr);
  EXPECT_TRUE(g_rec.watches.empty());
}

TEST_F(AppDestsTest, MergeReusesAnEqualDestinationOrCopiesTheOther) {
  CAppDests dests(&root);
  CtVar* com = dests.AddDest("COM5", 9600, 0, 0, 0);
  ASSERT_NE(com, nullptr);
  CtVar other;
  other["Destinations.4.Role"] = 2.0;
  other["Destinations.4.PortName"] = "COM5";
  other["Destinations.4.BaudRate"] = 9600.0;
  other["Destinations.4.ByteSize"] = 8.0;
  other["Destinations.6.Role"] = 2.0;
  other["Destinations.6.PortName"] = "COM6";
  other["Destinations.6.BaudRate"] = 4800.0;
  std::string name;
  ASSERT_EQ(dests.MergeDest(other, "4", &name), 1);
  EXPECT_EQ(name, "1");
  ASSERT_EQ(dests.MergeDest(other, "6", &name), 1);
  EXPECT_EQ(name, "2");
  CtVar* copy = dests.GetDestID("2");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(DestKeyText(copy, "PortName"), "COM6");
  EXPECT_EQ(DestKeyU32(copy, "BaudRate"), 4800u);
  EXPECT_EQ(dests.MergeDest(other, "9", &name), 0);
  EXPECT_EQ(dests.MergeDest(other, "6.Role", &name), 0);
}

TEST_F(AppDestsTest, AddressRewritesApplyOnlyToTheirRole) {
  CAppDests dests(&root);
  CtVar* eip = dests.AddEthernetIpDest(1, 0, 1, 0, 0, "", 0);
  CtVar* clx = dests.AddControlLogixDest("10.1.1.1", 0, 0);
  ASSERT_NE(eip, nullptr);
  ASSERT_NE(clx, nullptr);
  EXPECT_EQ(dests.PlcSetIPAddress(0x0A000002, 0xFFFF0000, 0, "cell", "1"), 1);
  EXPECT_EQ(DestKeyU32(eip, "IpAddr"), 0x0A000002u);
  EXPECT_EQ(DestKeyText(eip, "NodeName"), "cell");
  EXPECT_EQ(dests.PlcSetIPAddress(1, 2, 0, "x", "2"), 1);  // not role 9: unchanged
  EXPECT_EQ(DestKeyText(clx, "IpAddr"), "10.1.1.1");
  EXPECT_EQ(dests.SetControlLogixDest(clx, "10.1.1.9", 3), 1);
  EXPECT_EQ(DestKeyText(clx, "IpAddr"), "10.1.1.9");
  EXPECT_EQ(DestKeyU32(clx, "Slot"), 3u);
  EXPECT_EQ(dests.SetControlLogixDest(eip, "h", 1), 0);
}

// ---- Result lines ----

class ResultLineTest : public AppDestsTest {
 protected:
  void SetUp() override {
    AppDestsTest::SetUp();
    root["AppVar.Result"] = 2.0;
    root["AppVar.A"] = 1.5;
    root["AppVar.A"].SetOptions(TVAR_OPT_RESULT_VAR);
    root["AppVar.Global.G"] = 9.0;  // skipped branches, even when marked
    root["AppVar.Global.G"].SetOptions(TVAR_OPT_RESULT_VAR);
    root["AppVar.prog.P"].SetOptions(TVAR_OPT_RESULT_VAR);
    root["AppVar.Com1.C"].SetOptions(TVAR_OPT_RESULT_VAR);
    root["AppVar.Tool.Result"] = 0.0;
    root["AppVar.Tool"].SetOptions(TVAR_OPT_RESULT_VAR);
    root["AppVar.Tool.Text"] = "ok";
    root["AppVar.Tool.Text"].SetOptions(TVAR_OPT_RESULT_VAR);
  }
};

TEST_F(ResultLineTest, HeaderNamesTheColumnsInWalkOrder) {
  CAppDests dests(&root);
  EXPECT_EQ(dests.GetAppDataFormat(6),
            "\"Frame Number\",\"TimeStamp\",\"Result\",\"A\",\"Tool\",\"Tool.Text\",\r\n");
  EXPECT_EQ(dests.GetAppDataFormat(0), "\"Result\",\"A\",\"Tool\",\"Tool.Text\",\r\n");
  CtVar* port = dests.AddProfinetDest(1, 0, 1, "a", "h", 0);
  g_rec.sends.clear();
  dests.SendAppDataFormat(port, 0, 0x2);  // the second column is left out
  ASSERT_EQ(g_rec.sends.size(), 1u);
  EXPECT_EQ(g_rec.sends[0].bytes, std::string("\"Result\",\"Tool\",\"Tool.Text\",\r\n\0", 31));
}

TEST_F(ResultLineTest, LinesGoToTheResultPortWithTheHeaderOnlyWhenItChanged) {
  CAppDests dests(&root);
  CtVar* port = dests.AddProfinetDest(1, 0, 1, "a", "h", 0);
  dests.UpdateSysDest(SYS_DEST_RESULT_PORT, port);
  dests.SendAppDataFormat(port, CAppDests::kLineOnChange | CAppDests::kLineFrame, 0);
  g_rec.sends.clear();
  EXPECT_EQ(dests.SendFormattedAppData(7, 123, nullptr, 0), 1);
  ASSERT_EQ(g_rec.sends.size(), 2u);
  EXPECT_EQ(g_rec.sends[0].bytes.substr(0, 15), "\"Frame Number\",");
  EXPECT_EQ(g_rec.sends[1].bytes, std::string("7, 2.000, 1.500, ?, ok, \r\n\0", 27));
  EXPECT_EQ(dests.SendFormattedAppData(8, 124, nullptr, 0), 0);  // unchanged values
  root["AppVar.A"] = 2.5;
  EXPECT_EQ(dests.SendFormattedAppData(9, 125, nullptr, 0), 1);
  ASSERT_EQ(g_rec.sends.size(), 3u);  // same header, not sent again
  EXPECT_EQ(g_rec.sends[2].bytes.substr(0, 10), "9, 2.000, ");
  root["AppVar.B"] = -0.0005;  // a column marked later: a new header, then its value
  root["AppVar.B"].SetOptions(TVAR_OPT_RESULT_VAR);
  root["AppVar.Tool.Result"] = 1.0;
  EXPECT_EQ(dests.SendFormattedAppData(10, 126, nullptr, 0), 1);
  ASSERT_EQ(g_rec.sends.size(), 5u);
  EXPECT_NE(g_rec.sends[3].bytes.find("\"Tool.Text\",\"B\",\r\n"), std::string::npos);
  EXPECT_EQ(g_rec.sends[4].bytes, std::string("10, 2.000, 2.500, 0.000, ok, -0.001, \r\n\0", 40));
}

TEST_F(ResultLineTest, AFileGetsTheHeaderOnceAndNamedResults) {
  CAppDests dests(&root);
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(dests.SendFormattedAppData(1, 0, file, 0), 1);
  root["AppVar.Result"] = 7.0;  // out of range reads as "Ignore"
  EXPECT_EQ(dests.SendFormattedAppData(2, 0, file, 0), 1);
  std::rewind(file);
  char buf[512] = {};
  const size_t n = std::fread(buf, 1, sizeof(buf) - 1, file);
  std::fclose(file);
  const std::string text(buf, n);
  const size_t first = text.find("\r\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(text.substr(0, first),
            "\"Frame Number\",\"TimeStamp\",\"Result\",\"A\",\"Tool\",\"Tool.Text\",");
  const std::string lines = text.substr(first + 2);
  // "1, HH:MM:SS, Recycle, 1.500, ?, ok\n2, HH:MM:SS, Ignore, ..."
  ASSERT_EQ(lines.size(), 2 * std::string("1, 00:00:00, Recycle, 1.500, ?, ok\n").size() - 1);
  EXPECT_EQ(lines.substr(0, 3), "1, ");
  EXPECT_EQ(lines.substr(11, 25), ", Recycle, 1.500, ?, ok\n2");
  EXPECT_NE(lines.find(", Ignore, 1.500, ?, ok\n"), std::string::npos);
}

TEST_F(ResultLineTest, AHandleGetsTheLineAloneAndTheWriteResult) {
  CAppDests dests(&root);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string expected_tail = ", Recycle, 1.500, ?, ok\n";
  const int written = dests.SendFormattedAppData(4, 0, nullptr, 0, fds[1]);
  close(fds[1]);
  char buf[256] = {};
  const ssize_t n = read(fds[0], buf, sizeof(buf));
  close(fds[0]);
  ASSERT_GT(n, 0);
  EXPECT_EQ(written, n);
  const std::string line(buf, static_cast<size_t>(n));
  // "4, HH:MM:SS, Recycle, ...": no header, the frame and the time of day first.
  EXPECT_EQ(line.substr(0, 3), "4, ");
  EXPECT_EQ(line.size(), std::string("4, 00:00:00").size() + expected_tail.size());
  EXPECT_EQ(line.substr(11), expected_tail);
}

// ---- Serial port destinations over a pseudo-terminal pair ----

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok());
    setenv("VEL_COM7", pty.First().c_str(), 1);
    peer = open(pty.Second().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(peer, 0);
  }
  void TearDown() override {
    if (peer >= 0) close(peer);
    unsetenv("VEL_COM7");
  }
  std::string ReadPeer(size_t want) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
      char buf[256];
      const ssize_t n = read(peer, buf, sizeof(buf));
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      if (n <= 0) usleep(2000);
    }
    return got;
  }

  PtyPair pty;
  int peer = -1;
  CtVar root;
};

TEST_F(ComPortTest, SendsAndReadsLines) {
  CAppDests dests(&root);
  CtVar* com = dests.AddDest("COM7", 19200, 0, 0, 0);
  ASSERT_NE(com, nullptr);
  EXPECT_EQ(dests.GetDestDescription(com, 0), L"Com port on COM7 Baud:19200");
  const std::string text = "result 42\r\n";
  EXPECT_EQ(
      dests.SendMessageW(
          "1", std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
          0, 0, nullptr),
      1);
  EXPECT_EQ(ReadPeer(text.size()), text);

  ASSERT_EQ(write(peer, "GO 1\rGO", 7), 7);
  usleep(50000);
  EXPECT_EQ(dests.RecvQueuedMessage("1", 100, '\r'), "GO 1");
  EXPECT_EQ(dests.RecvQueuedMessage("1", 100, '\r'), "");
  ASSERT_EQ(write(peer, " 2\r", 3), 3);
  usleep(50000);
  EXPECT_EQ(dests.RecvQueuedMessage("1", 100, '\r'), "GO 2");
}

TEST_F(ComPortTest, ChangeBitReopensWithNewSettingsAndBaudZeroMeans9600) {
  CAppDests dests(&root);
  CtVar* com = dests.AddDest("COM7", 0, 0, 0, 0);
  ASSERT_NE(com, nullptr);
  EXPECT_EQ(dests.SendMessageW(com, std::span<const uint8_t>(), 0, 0, nullptr), 1);
  EXPECT_EQ(DestKeyU32(com, "Change"), 65534u);  // bit 0 cleared, the rest kept
  port::SerialSettings now;
  port::SerialPort* serial = dests.InitCOMPort(1, *dests.GetSlotRecord(1));
  ASSERT_NE(serial, nullptr);
  ASSERT_TRUE(serial->GetSettings(&now));
  EXPECT_EQ(now.baud_rate, 9600u);

  (*com)["BaudRate"] = 57600.0;
  (*com)["Change"] = 1.0;
  EXPECT_EQ(dests.SendMessageW(com, std::span<const uint8_t>(), 0, 0, nullptr), 1);
  EXPECT_EQ(DestKeyU32(com, "Change"), 0u);
  serial = dests.InitCOMPort(1, *dests.GetSlotRecord(1));
  ASSERT_NE(serial, nullptr);
  ASSERT_TRUE(serial->GetSettings(&now));
  EXPECT_EQ(now.baud_rate, 57600u);
}

TEST_F(ComPortTest, BufferedReadsAndASerialProtocolOwningTheLine) {
  CAppDests dests(&root);
  CtVar* com = dests.AddDest("COM7", 9600, 0, 0, 0);
  ASSERT_NE(com, nullptr);
  uint8_t byte = 0;
  EXPECT_EQ(dests.RecvMessage(com, std::span<uint8_t>(&byte, 1), 1, 0, 1, nullptr), 0);
  ASSERT_EQ(write(peer, "Z", 1), 1);
  usleep(50000);
  EXPECT_EQ(dests.RecvMessage(com, std::span<uint8_t>(&byte, 1), 1, 0, 0, nullptr), 1);
  byte = 0;
  EXPECT_EQ(dests.RecvMessage(com, std::span<uint8_t>(&byte, 1), 1, 0, 1, nullptr), 1);
  EXPECT_EQ(byte, 'Z');  // kept in the ring

  ASSERT_NE(dests.AddModBusSerialDest(1, 0, 0, 3, 1, 1, 0), nullptr);
  const uint8_t data[] = {'x'};
  EXPECT_EQ(dests.SendMessageW(com, data, 0, 0, nullptr), 0);
}

TEST_F(ComPortTest, ADeviceThatDisappearsGivesZeroNotAHang) {
  CAppDests dests(&root);
  CtVar* com = dests.AddDest("COM7", 9600, 0, 0, 0);
  ASSERT_NE(com, nullptr);
  const uint8_t data[] = {'a'};
  EXPECT_EQ(dests.SendMessageW(com, data, 0, 0, nullptr), 1);
  close(peer);
  peer = -1;
  pty.Stop();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(dests.RecvQueuedMessage("1", 100, '\n'), "");
  EXPECT_EQ(dests.SendMessageW(com, data, 0, 0, nullptr), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
}

}  // namespace
