// The client session against the real server: in-process on "loopback", over TCP to a velserver
// this test starts, and through the "localhost" auto-start.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "dests/app_dests.h"
#include "link/device_message_ids.h"
#include "link/vel_app_client.h"
#include "link/vel_os.h"
#include "link/vel_rpc.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "tests/common/test_sandbox.h"
#include "vartree/tvar.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Shown {
  std::wstring text, title;
  port::MessageKind kind;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    port::SetMessageBoxHandler(
        [this](const std::wstring& text, const std::wstring& title, port::MessageKind kind) {
          shown_.push_back({text, title, kind});
          return answer_;
        });
  }
  void TearDown() override { port::SetMessageBoxHandler(nullptr); }

  void StartServer(std::vector<std::string> extra = {}) {
    box_.StartServer(VEL_SERVER_BIN, std::move(extra));
  }
  void StopServer() { box_.StopServer(); }

  std::unique_ptr<CVelAppClient, void (*)(CVelAppClient*)> Connect(const wchar_t* host, int mode) {
    return {OzkConnectToVelServer(host, mode), [](CVelAppClient* c) { OzkDeleteAppClient(c, 0); }};
  }
  std::wstring Local(const char* name) { return fs::path(dir_ + "/" + name).wstring(); }

  TestSandbox box_{"vel_session", 21000};
  const std::string& dir_ = box_.dir();
  const int port_ = box_.port();
  std::vector<Shown> shown_;
  port::MessageAnswer answer_ = port::MessageAnswer::kNo;
};

TEST_F(SessionTest, LoopbackRunsTheEngineInProcess) {
  auto client = Connect(L"loopback", 0);
  ASSERT_NE(client, nullptr);
  EXPECT_TRUE(client->IsLoopback());
  EXPECT_TRUE(client->IsConnected());
  EXPECT_FALSE(client->IsConnectionDropped());
  EXPECT_EQ(client->GetClientDllName(), "ZelvinEC.dll");
  EXPECT_NE(client->GetAppliance(), nullptr);
  EXPECT_EQ(client->GetServerVersion(), client->GetClientVersion());
  EXPECT_EQ(client->GetConnectStatus(), L"Connection made, ...Loading App Data");
  // The engine's own tree is shared, not mirrored.
  CtVar* root = client->GetRootTVar();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetRpc(), nullptr);
  EXPECT_EQ(static_cast<double>((*root)["AppVar.Global.Version"]), client->GetServerVersion());
  EXPECT_EQ(client->GetParam(1), 2000);
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(fs::is_directory(dir_ + "/engine/files"));
}

TEST_F(SessionTest, ParameterNavigationThroughNamedCalls) {
  auto client = Connect(L"loopback", 2);
  ASSERT_NE(client, nullptr);
  std::vector<int> groups;
  for (int g = client->GetFirstParamGroup(0); g; g = client->GetNextParamGroup(g))
    groups.push_back(g);
  EXPECT_EQ(groups, (std::vector<int>{1, 2, 3}));
  VelGroupProperties group;
  ASSERT_EQ(client->GetGroupProperties(2, &group), 1);
  EXPECT_EQ(group.name, "Trigger");
  EXPECT_EQ(client->GetGroupProperties(9, &group), 0);
  EXPECT_EQ(client->GetParentGroup(2), 1);
  EXPECT_EQ(client->GetFirstParam(2, 0), 3);
  EXPECT_EQ(client->GetNextParam(2, 3, 0), 4);
  EXPECT_EQ(client->ParamSupported(40), 1);
  EXPECT_EQ(client->IsArgSupported(3, 7, 0), 0);
  EXPECT_EQ(client->ClosestArgSupported(1, 5.0), 10);
  EXPECT_EQ(client->GetParamByName("Exposure"), 2000);
  VelEnumArg arg;
  std::vector<std::string> names;
  for (int ok = client->GetFirstEnumArg(3, &arg); ok; ok = client->GetNextEnumArg(3, arg, &arg))
    names.push_back(arg.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Free Run", "External", "Software"}));
}

// The registry, parameter file and identity calls, the same through either transport.
void ExpectDeviceNamedCalls(CVelAppClient* client, const std::string& device_files) {
  const std::vector<uint8_t> big(1000, 0x42);  // larger than the first offer: asked again
  ASSERT_EQ(client->WriteRegistery(2, "Software\\Zelvin", "Recipe", 3, big), 1);
  ASSERT_EQ(client->WriteRegistery(2, "Software\\Zelvin", "Empty", 1, {}), 1);
  uint32_t type = 0;
  std::vector<uint8_t> value;
  ASSERT_EQ(client->ReadRegistery(2, "Software\\Zelvin", "Recipe", &type, &value), 1);
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(value, big);
  ASSERT_EQ(client->ReadRegistery(2, "Software\\Zelvin", "Empty", &type, &value), 1);
  EXPECT_EQ(type, 1u);
  EXPECT_TRUE(value.empty());
  EXPECT_EQ(client->ReadRegistery(2, "Software\\Zelvin", "Nothing", &type, &value), 0);
  EXPECT_EQ(client->FlushRegistery(2), 1);

  EXPECT_EQ(client->GetArgName(3, 0), "Free Run");
  EXPECT_EQ(client->GetArgName(3, 9), "");
  EXPECT_EQ(client->GetArgValue(3, "External"), 1);

  ASSERT_EQ(client->SetParam(2, 3.5), 1);
  ASSERT_EQ(client->WriteParamFile("\\gain.ini"), 1);
  EXPECT_TRUE(fs::exists(device_files + "/gain.ini"));
  ASSERT_EQ(client->SetParam(2, 0.5), 1);
  ASSERT_EQ(client->ReadParamFile("\\gain.ini"), 1);
  EXPECT_EQ(client->GetParam(2), 3.5);
  EXPECT_EQ(client->ReadParamFile("\\..\\..\\x.ini"), 0);

  EXPECT_EQ(client->GetDeviceSerialNo(), "ZEC-180042");
  ASSERT_EQ(client->SetDeviceName("Cell 7"), 1);
  EXPECT_EQ(client->GetDeviceName(), "Cell 7");
  EXPECT_EQ(client->SetDeviceName(""), 0);
  const std::string long_name(50, 'L');  // more than the first offer: asked again
  ASSERT_EQ(client->SetDeviceName(long_name.c_str()), 1);
  EXPECT_EQ(client->GetDeviceName(), long_name);
  ASSERT_EQ(client->SetDeviceName("Cell 7"), 1);
  EXPECT_EQ(client->SetWindowGen(0, 0, 320, 240), 1);
  EXPECT_EQ(client->SetWindowGen(0, 0, -320, 240), 0);
  client->WriteReg(0x10, 77);
  client->RestartDevice();
  EXPECT_EQ(client->ReadReg(0x10), 0u);
  EXPECT_EQ(client->GetDeviceName(), "Cell 7");  // a restart keeps the identity
}

TEST_F(SessionTest, DeviceNamedCallsInProcessAndOverTcp) {
  {
    auto client = Connect(L"loopback", 2);
    ASSERT_NE(client, nullptr);
    ExpectDeviceNamedCalls(client.get(), dir_ + "/engine/files");
  }
  StartServer();
  auto client = Connect(L"127.0.0.1", 2);
  ASSERT_NE(client, nullptr);
  ExpectDeviceNamedCalls(client.get(), dir_ + "/server/files");
}

TEST_F(SessionTest, DestinationManagerIsTheEnginesInProcessAndOwnOverTcp) {
  {
    auto client = Connect(L"loopback", 2);
    ASSERT_NE(client, nullptr);
    ASSERT_NE(client->GetAppDest(), nullptr);
    EXPECT_EQ(client->GetAppDest(), XTVarDests::Current());  // adopted: the engine's own
    EXPECT_EQ(client->GetRpc()->GetAppDest(), client->GetAppDest());
    auto* dests = dynamic_cast<CAppDests*>(client->GetAppDest());
    ASSERT_NE(dests, nullptr);
    EXPECT_EQ(dests->Root(), client->GetRootTVar());
    EXPECT_TRUE(dests->HasServerEngine());
  }
  EXPECT_EQ(XTVarDests::Current(), nullptr);  // went with the engine
  StartServer();
  auto client = Connect(L"127.0.0.1", 2);
  ASSERT_NE(client, nullptr);
  auto* dests = dynamic_cast<CAppDests*>(client->GetAppDest());
  ASSERT_NE(dests, nullptr);
  EXPECT_EQ(dests, XTVarDests::Current());
  EXPECT_EQ(dests->Root(), client->GetRootTVar());
  EXPECT_FALSE(dests->HasServerEngine());
  EXPECT_EQ(client->GetRpc()->GetAppDest(), dests);
  client->Close(0);
  EXPECT_EQ(client->GetAppDest(), nullptr);
  EXPECT_EQ(XTVarDests::Current(), nullptr);
}

// Counts the clock updates the client sends.
class ClockCountingClient : public CVelAppClient {
 public:
  int SendNetMessage(CLumMsg* request, CLumMsg* reply) override {
    if (request->GetId() == kMsgUpdateServerTime) ++updates;
    return CVelAppClient::SendNetMessage(request, reply);
  }
  int updates = 0;
};

TEST_F(SessionTest, ServerClockIsSetAtConnectThenAtMostHourly) {
  StartServer();
  constexpr uint64_t kMinute = 60 * port::kFileTimeTicksPerSecond;
  uint64_t now = port::UnixToFileTime(1'800'000'000);
  ClockCountingClient client;
  client.SetClock([&] { return now; });
  ASSERT_EQ(client.Open("127.0.0.1", CVelAppClient::ServerPort()), 0);
  EXPECT_EQ(client.updates, 1);  // at connect
  now += 59 * kMinute;
  client.UpdateServerTime(0);
  EXPECT_EQ(client.updates, 1);
  now += kMinute;  // exactly an hour: not yet
  client.UpdateServerTime(0);
  EXPECT_EQ(client.updates, 1);
  now += 1;
  client.UpdateServerTime(0);
  EXPECT_EQ(client.updates, 2);
  client.UpdateServerTime(1);  // forced
  EXPECT_EQ(client.updates, 3);
  now += 10 * kMinute;
  client.UpdateServerTime(0);
  EXPECT_EQ(client.updates, 3);
  client.CloseAppClient(0);  // a network close sets the clock once more
  EXPECT_EQ(client.updates, 4);
}

// A stream of a few hundred kilobytes, written in pieces and read back whole.
void ExpectStreamEcho(CVelAppClient* client) {
  constexpr int kLength = 300 * 1024;
  std::vector<unsigned char> sent(kLength);
  for (int i = 0; i < kLength; ++i) sent[i] = static_cast<unsigned char>(i * 7 + i / 256);
  ASSERT_EQ(client->SendStreamStart(kMsgStreamTest, kLength, 0), 0);
  constexpr int kPiece = 65536;
  for (int at = 0; at < kLength; at += kPiece)
    ASSERT_EQ(client->StreamWrite(std::min(kPiece, kLength - at), sent.data() + at), 0) << at;
  int length = -1;
  ASSERT_EQ(client->ResponseStreamStart(&length), 0);
  ASSERT_EQ(length, kLength);
  std::vector<unsigned char> got(kLength);
  ASSERT_EQ(client->StreamRead(kLength, got.data()), 0);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(client->StreamEnd(), 0);
  EXPECT_EQ(client->SendStreamTest(), 1);
}

TEST_F(SessionTest, StreamsReachTheEngineInProcessAndTheServerOverTcp) {
  {
    auto client = Connect(L"loopback", 2);
    ASSERT_NE(client, nullptr);
    ExpectStreamEcho(client.get());
    // In process, a write past the announced length is refused.
    unsigned char byte = 1;
    ASSERT_EQ(client->SendStreamStart(kMsgStreamTest, 0, 0), 0);
    EXPECT_NE(client->StreamWrite(1, &byte), 0);
    EXPECT_EQ(client->StreamEnd(), 0);
  }
  StartServer();
  auto client = Connect(L"127.0.0.1", 2);
  ASSERT_NE(client, nullptr);
  ExpectStreamEcho(client.get());
  EXPECT_EQ(client->GetServerVersion(), client->GetClientVersion());  // the link still works
}

// Records the solution-change permissions the client sends.
class PermissionRecordingClient : public CVelAppClient {
 public:
  int SendNetMessage(CLumMsg* request, CLumMsg* reply) override {
    if (request->GetId() == kMsgEnableChangeSolution)
      flags.push_back(static_cast<int>(request->Get(0).GetLongLong(0)));
    return CVelAppClient::SendNetMessage(request, reply);
  }
  std::vector<int> flags;
};

TEST_F(SessionTest, ConnectWithdrawsAndRestoresSolutionChangesAndLearnsTheServer) {
  StartServer();
  {
    PermissionRecordingClient client;
    ASSERT_EQ(client.ConnectToVelServer(L"127.0.0.1", 2), 1);
    EXPECT_EQ(client.flags, (std::vector<int>{0, 1}));  // withdrawn while connecting
    EXPECT_EQ(client.IsChangeSolutionEnabled(), 1);
    EXPECT_EQ(client.GetCachedGrabType(), 8);
    EXPECT_EQ(client.GetServerOEMName(), L"Parvane Korin");
    EXPECT_EQ(client.GetServerOEMFolderName(), L"Zelvin");
    // A server that forbade changes before the client came keeps forbidding them.
    client.EnableChangeSolution(0);
    client.CloseAppClient(0);
    EXPECT_EQ(client.flags, (std::vector<int>{0, 1, 0}));  // nothing left to restore
  }
  PermissionRecordingClient second;
  ASSERT_EQ(second.ConnectToVelServer(L"127.0.0.1", 2), 1);
  EXPECT_EQ(second.flags, (std::vector<int>{0, 0}));
  EXPECT_EQ(second.IsChangeSolutionEnabled(), 0);
  second.CloseAppClient(0);

  PermissionRecordingClient in_process;
  ASSERT_EQ(in_process.ConnectToVelServer(L"loopback", 2), 1);
  EXPECT_TRUE(in_process.flags.empty());  // only a network connect withdraws the permission
  EXPECT_EQ(in_process.GetCachedGrabType(), 8);
  in_process.CloseAppClient(0);
}

TEST_F(SessionTest, HistoryFoldersFollowTheServersLogSettings) {
  StartServer();
  const std::string history = port::MapLocalPath(L"C:\\QRV\\History");
  {
    auto client = Connect(L"127.0.0.1", 2);
    ASSERT_NE(client, nullptr);
    VelLogFileAttrib attrib;
    EXPECT_EQ(client->IsLogHistoryToFile(&attrib), 0);
    EXPECT_EQ(client->GetHistoryFolder(CVelAppClient::kHistoryFail), L"C:\\QRV\\History");
    EXPECT_FALSE(fs::exists(history));  // nothing is logged, nothing is made
    attrib.to_file = 1;
    attrib.sub_folders = 1;
    attrib.prefix = L"Img";
    client->SetLogHistoryToFile(attrib);
    EXPECT_EQ(client->GetHistoryFolder(CVelAppClient::kHistoryRecycle),
              L"C:\\QRV\\History\\Recycle");
    EXPECT_TRUE(fs::is_directory(history + "/Fail"));
  }
  fs::remove_all(history);
  auto client = Connect(L"127.0.0.1", 2);  // the server kept the settings
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->GetHistoryFolder(CVelAppClient::kHistoryPass), L"C:\\QRV\\History\\Pass");
  for (const char* folder : {"/Pass", "/Recycle", "/Fail"})
    EXPECT_TRUE(fs::is_directory(history + folder)) << folder;
  VelLogFileAttrib attrib;
  ASSERT_EQ(client->IsLogHistoryToFile(&attrib), 1);
  EXPECT_EQ(attrib.prefix, L"Img");
}

TEST_F(SessionTest, TcpSessionTransfersFiles) {
  StartServer();
  auto client = Connect(L"127.0.0.1", 0);
  ASSERT_NE(client, nullptr);
  EXPECT_FALSE(client->IsLoopback());
  EXPECT_EQ(client->GetRootTVar()->GetRpc(), static_cast<XTVarRemote*>(client->GetRpc()));
  EXPECT_EQ(client->GetExpressMode(), 1);  // "ZelvinEC.dll"

  std::ofstream(dir_ + "/big", std::ios::binary) << std::string(70000, 'v');
  std::vector<int> percents;
  auto progress = [&](int, int pct, int, int) { percents.push_back(pct); };
  EXPECT_EQ(client->FileTransfer(kTransferToDevice, Local("big"), L"\\No Card\\big", progress),
            0);                                              // no such folder
  ASSERT_EQ(client->DirectoryCreate(L"\\Storage Card"), 0);  // a fresh device has it
  ASSERT_EQ(client->FileTransfer(kTransferToDevice, Local("big"), L"\\Storage Card\\big", progress),
            1);
  EXPECT_EQ(percents, (std::vector<int>{93, 100}));
  EXPECT_EQ(fs::file_size(dir_ + "/server/files/Storage Card/big"), 70000u);
  ASSERT_EQ(
      client->FileTransfer(kTransferFromDevice, Local("back"), L"\\Storage Card\\big", nullptr), 1);
  EXPECT_EQ(fs::file_size(dir_ + "/back"), 70000u);

  std::ofstream(dir_ + "/empty", std::ios::binary);
  EXPECT_EQ(client->FileTransfer(kTransferToDevice, Local("empty"), L"\\empty", nullptr), 0);
  EXPECT_EQ(client->FileTransfer(kTransferToDevice, Local("none"), L"\\none", nullptr), 0);
  EXPECT_EQ(client->FileTransfer(kTransferFromDevice, Local("x"), L"\\none", nullptr), 0);
  EXPECT_EQ(client->FileTransfer(kTransferToDevice, Local("big"), L"\\..\\..\\escaped", nullptr),
            0);
  EXPECT_FALSE(fs::exists(dir_ + "/escaped"));
  EXPECT_TRUE(shown_.empty());
}

TEST_F(SessionTest, InvalidHostOrPortIsRefusedBeforeConnecting) {
  EXPECT_EQ(OzkConnectToVelServer(nullptr, 0), nullptr);
  CVelAppClient client;
  EXPECT_EQ(client.Connect("", 5005), -1);
  EXPECT_EQ(client.Connect("127.0.0.1", 0), -1);
  EXPECT_EQ(client.Connect(static_cast<const char*>(nullptr), 5005), -1);
  ASSERT_EQ(shown_.size(), 3u);  // mode 0 shows each
  EXPECT_EQ(shown_[0].text, L"Failed to Connect, Invalid IP adress or port number");
  EXPECT_EQ(shown_[0].title, L"Connection Error");
  EXPECT_EQ(Connect(L"", 2), nullptr);
  EXPECT_EQ(shown_.size(), 3u);  // other modes show nothing
}

TEST_F(SessionTest, RefusedConnectionShowsTheHintInModeZeroOnly) {
  EXPECT_EQ(Connect(L"127.0.0.1", 2), nullptr);
  EXPECT_TRUE(shown_.empty());
  EXPECT_EQ(Connect(L"127.0.0.1", 0), nullptr);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text,
            L"Failed to Connect\t\tError:  0x274D\nCould not establish a connection. Check your "
            L"network connection, or reboot the target machine.");
  EXPECT_EQ(shown_[0].title, L"Connection Error");
  shown_.clear();
  EXPECT_EQ(Connect(L"no-such-host.invalid", 0), nullptr);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text.find(L"Could not establish"), std::wstring::npos);
}

TEST_F(SessionTest, VersionMismatchRefusesTheSession) {
  StartServer({"--server-version", "1750"});
  EXPECT_EQ(Connect(L"127.0.0.1", 0), nullptr);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text,
            L"Client has different version from the Server\nRun VelAssistant to cleanup , "
            L"Disconnecting...");
  EXPECT_EQ(shown_[0].title, L"Connection Error");
}

TEST_F(SessionTest, ServerInUseAsksInModeZeroAndRefusesInModeOne) {
  StartServer();
  auto first = Connect(L"127.0.0.1", 1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Connect(L"127.0.0.1", 1), nullptr);
  EXPECT_TRUE(shown_.empty());

  EXPECT_EQ(Connect(L"127.0.0.1", 0), nullptr);  // answered No
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text,
            L"Device already in use, Do you want us to close other connection to continue?");
  EXPECT_EQ(shown_[0].kind, port::MessageKind::kQuestion);

  answer_ = port::MessageAnswer::kYes;
  auto second = Connect(L"127.0.0.1", 0);
  ASSERT_NE(second, nullptr);
  for (int i = 0; i < 200 && !first->IsConnectionDropped(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(first->IsConnectionDropped());
  EXPECT_FALSE(second->IsConnectionDropped());
}

TEST_F(SessionTest, KilledServerIsNoticedWithoutHanging) {
  StartServer();
  auto client = Connect(L"127.0.0.1", 2);
  ASSERT_NE(client, nullptr);
  EXPECT_FALSE(client->IsConnectionDropped());
  StopServer();
  for (int i = 0; i < 200 && !client->IsConnectionDropped(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(client->IsConnectionDropped());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client->FileOpen(L"\\x", L"rb"), 0u);
  EXPECT_EQ(client->GetParam(1), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SessionTest, LocalhostStartsTheServerAndStopsItOnClose) {
  if (port::NamedMutex::Exists("VelWorksServerRunning"))
    GTEST_SKIP() << "another server runs on this machine";
  auto client = Connect(L"localhost", 2);
  ASSERT_NE(client, nullptr);
  EXPECT_TRUE(port::NamedMutex::Exists("VelWorksServerRunning"));
  EXPECT_EQ(client->GetParam(2), 0);
  client.reset();  // sends the close to the server it started
  for (int i = 0; i < 300 && port::PortAccepts("127.0.0.1", port_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(port::PortAccepts("127.0.0.1", port_));
}

TEST_F(SessionTest, PerServerSettingsComeFromClientIni) {
  const std::string ini = CVelOS::AppDataPathOnce(std::string("ZelvinClient"), "Client.ini");
  fs::create_directories(fs::path(ini).parent_path());
  const std::string section = "Software\\Halbern Imaging, Inc.\\QRV\\User Settings\\10.0.0.9";
  ASSERT_TRUE(port::WriteProfileString(ini, section, "MaxLogImageCount", "250"));
  ASSERT_TRUE(port::WriteProfileString(ini, section, "LogHistoryPath", "D:\\Logs"));
  CVelAppClient client;
  client.UpdateClientSettingsForServer("other");
  EXPECT_EQ(client.GetMaxLogImageCount(), 100);
  EXPECT_EQ(client.GetLogHistoryPath(), L"C:\\QRV\\History");
  client.UpdateClientSettingsForServer("10.0.0.9");
  EXPECT_EQ(client.GetMaxLogImageCount(), 250);
  EXPECT_EQ(client.GetLogHistoryPath(), L"D:\\Logs");
}

TEST(ExpressFlagTest, LibraryNameThenGrabTypeThenSetting) {
  struct Case {
    const char* library;
    int grab_type;
    uint32_t lines;
    int setting, expected;
  } cases[] = {
      {"ZelvinEC.dll", 0, 0, 0, 1}, {"ZelvinLC.dll", 8, 16, 1, 0},
      {"zelvinec.dll", 0, 0, 0, 1}, {"ZelvinXC.dll", 8, 16, 0, 1},
      {"ZelvinXC.dll", 8, 8, 0, 0}, {"ZelvinXC.dll", 7, 16, 1, 1},
      {"E.dll", 0, 0, 0, 0},        {"", 8, 9, 0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CVelAppClient::DecideExpressFlag(c.library, c.grab_type, c.lines, c.setting),
              c.expected)
        << c.library << " " << c.grab_type << " " << c.lines;
  }
}

}  // namespace
