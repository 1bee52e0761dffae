#include "link/vel_app_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "dests/app_dests.h"
#include "link/app_dests_link.h"
#include "link/device_message_ids.h"
#include "link/result_csv_log.h"
#include "link/rpc_stubs.h"
#include "link/vel_os.h"
#include "link/vel_rpc.h"
#include "link/versions.h"
#include "netmsg/net_socket.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shared_library.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

constexpr int kDefaultServerPort = 5005;
constexpr char kServerRunningMutex[] = "VelWorksServerRunning";
constexpr char kServerProgram[] = "velserver";
constexpr char kSettingsRoot[] = "Software\\Halbern Imaging, Inc.\\QRV\\User Settings";
constexpr uint64_t kServerTimeInterval = 36'000'000'001;  // one hour in 100-ns units, and one
constexpr int kLocalServerWaitMs = 2000;
constexpr int kDisconnectReasonFatal = 0x1005;

// The user-visible texts, by the ids of the user-interface library's string table.
const wchar_t* Text(int id) {
  switch (id) {
    case 1:
      return L"Error";
    case 2:
      return L"Connection Error";
    case 3:
      return L"Invalid Pointer";
    case 4:
      return L"Failed to Connect";
    case 5:
      return L"Could not establish a connection. Check your network connection, or reboot the "
             L"target machine.";
    case 6:
      return L"Device already in use";
    case 7:
      return L"Failed to Load Client DLL";
    case 8:
      return L"Invalid IP adress or port number";
    case 9:
      return L"Load Error";
    case 11:
      return L"Unable to launch VelServer";
    case 12:
      return L"Unable to locate VelServer";
    case 14:
      return L"Client has different version from the Server\nRun VelAssistant to cleanup ";
    case 15:
      return L"Disconnecting...";
    case 440:
      return L"Connection made, ...Loading App Data";
    case 574:
      return L"Do you want us to close other connection to continue?";
    default:
      return L"";
  }
}

std::wstring Hex(const wchar_t* format, const std::wstring& text, long value) {
  wchar_t buffer[256];
  std::swprintf(buffer, 256, format, text.c_str(), static_cast<unsigned long>(value));
  return buffer;
}

// The 172-byte time-zone record: bias, standard name, date and bias, daylight name, date and
// bias (minutes west of UTC; names as UTF-16, 32 units).
std::array<uint8_t, 172> TimeZoneRecord() {
  std::array<uint8_t, 172> record{};
  const time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  const int32_t bias = static_cast<int32_t>(-local.tm_gmtoff / 60);
  std::memcpy(record.data(), &bias, 4);
  auto put_name = [&](size_t offset, const char* name) {
    const std::u16string wide = port::Utf8ToUtf16(name ? name : "");
    for (size_t i = 0; i < wide.size() && i < 31; ++i) {
      record[offset + 2 * i] = static_cast<uint8_t>(wide[i]);
      record[offset + 2 * i + 1] = static_cast<uint8_t>(wide[i] >> 8);
    }
  };
  tzset();
  put_name(4, tzname[0]);
  put_name(88, tzname[1]);
  return record;
}

std::string FindServerProgram() {
  for (const std::string& folder :
       {port::ExecutableDir(), port::LibraryDir() + "/../bin", std::string(".")}) {
    const std::string path = folder + "/" + kServerProgram;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

}  // namespace

int CVelAppClient::ServerPort() {
  const char* env = std::getenv("VEL_SERVER_PORT");
  const int port = env ? std::atoi(env) : 0;
  return port > 0 && port < 65536 ? port : kDefaultServerPort;
}

CVelAppClient::CVelAppClient()
    : rpc_(std::make_unique<CVelRpc>(static_cast<CNetClientNode*>(this))),
      disp_cfg_(std::make_unique<CtVar>()),
      local_root_(std::make_unique<CtVar>()),
      creator_(std::this_thread::get_id()) {
  rpc_->AddRpcDll("VelAppClient.dll");
  // A creating thread that runs a message loop takes the results on its own thread.
  if (port::HasMessageLoop()) {
    panel_window_ = std::make_unique<port::Window>(
        [this](uint32_t message, uintptr_t wparam, intptr_t lparam) -> intptr_t {
          if (message == kWmRunResults)
            return ProcessRunResultsMessage(reinterpret_cast<CLumMsg*>(wparam),
                                            reinterpret_cast<CLumMsg*>(lparam));
          return OnWndMessage(message, wparam, lparam);
        });
  }
}

CVelAppClient::~CVelAppClient() {
  panel_window_.reset();
  // No callback of the node may reach this object once it is being destroyed.
  CNetClientNode::Disconnect();
  DisconnectEngine();
  delete appliance_;
}

// ---- Connect sequence ----

int CVelAppClient::ConnectToVelServer(const wchar_t* host, OZK_CONNECT_MODE mode) {
  mode_ = mode;
  if (!host) return 0;
  if (Open(host, ServerPort()) != 0) return 0;

  // Step 9: a server that already serves another client.
  if (!loopback_ && IsServerInUse()) {
    const bool close_other =
        Interactive() &&
        port::ShowMessage(std::wstring(Text(6)) + L", " + Text(574),
                          port::Utf8ToWide(attr_.solution_name),
                          port::MessageKind::kQuestion) == port::MessageAnswer::kYes;
    if (!close_other) {
      RestoreChangeSolution();
      connected_ = 0;
      Disconnect();
      return 0;
    }
    SendServerDisconnectCommand();
  }

  // Steps 10 and 11: versions and the appliance library.
  const int server_version = GetServerVersion();
  if (!LoadApplianceLibrary(server_version)) {
    if (server_version != GetClientVersion()) {
      ShowError(std::wstring(Text(14)) + L", " + Text(15), 2);
      return 0;
    }
  }
  SetConnectDialogStatus(Text(440));

  // Step 13.
  if (!appliance_lib_) {
    CloseAppClient(0);
    if (Interactive()) {
      port::ShowMessage(std::wstring(Text(3)) + L", " + Text(7),
                        port::Utf8ToWide(attr_.library) + L" " + Text(9),
                        port::MessageKind::kError);
    }
    return 0;
  }
  return CreateAppliance();
}

int CVelAppClient::Open(const char* host, int port) {
  return Open(port::Utf8ToWide(host ? host : "").c_str(), port);
}

int CVelAppClient::Open(const wchar_t* host, int port) {
  const uint32_t ms = port::TickCountMs();
  char node_name[16];
  std::snprintf(node_name, sizeof node_name, "T%3.d", static_cast<int>(ms & 0xFF));
  std::srand(ms);
  Initialize(node_name);

  const std::wstring wide_host = host ? host : L"";
  int result;
  if (port == ServerPort() && port::EqualsNoCase(port::WideToUtf8(wide_host), "localhost")) {
    if (!StartVelServer()) {
      result = kNetErrRefused;
    } else {
      started_here_ = 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(kLocalServerWaitMs));
      char name[256] = {};
      gethostname(name, sizeof name - 1);
      result = Connect(name, port);
      // A machine whose own name does not resolve still reaches itself.
      if (result == kNetErrHostNotFound) result = Connect("127.0.0.1", port);
    }
  } else {
    result = Connect(wide_host.c_str(), port);
  }

  if (connected_ && port == ServerPort()) {
    CLumMsg reply;
    if (!Light()) {
      CLumMsg request(kMsgStartupStatus);
      SendNetMessage(&request, &reply);
    }
    {
      CLumMsg request(kMsgCameraSetup);
      reply.Clear();
      if (SendNetMessage(&request, &reply) == 0 && reply.Size() >= 3)
        camera_count_ = static_cast<int>(reply.Get(2).GetDouble(0));
    }
    if (Light()) {
      startup_value_ = 1400;
    } else {
      CLumMsg request(kMsgStartupValue);
      reply.Clear();
      if (SendNetMessage(&request, &reply) == 0 && reply.Size() >= 1)
        startup_value_ = static_cast<int>(reply.Get(0).GetLongLong(0));
    }
    if (!Light()) IsLogHistoryToFile(&log_attrib_);
    CreateHistorySubFolders();
    GetAppAttributes(&attr_);
    grab_type_ = GetGrabType();
    VelGpioAttributes gpio;
    const uint32_t lines = GetGpioAttr(&gpio) ? gpio.num_inputs + gpio.num_outputs : 0;
    express_ = DecideExpressFlag(attr_.library, grab_type_, lines, express_);

    // Step 6: the tree.
    if (engine_) {
      root_ = reinterpret_cast<OzkServerEngineGetRootTVarFn>(
          engine_lib_->Symbol("ozkServerEngineGetRootTVar"))(engine_);
    } else {
      root_ = local_root_.get();
      root_->SetRpc(rpc_.get());
    }
    rpc_->SetRootTVar(root_);
    // Step 7: the destination manager.
    if (engine_) {
      if (auto get = reinterpret_cast<OzkServerEngineGetAppDestFn>(
              engine_lib_->Symbol("ozkServerEngineGetAppDest")))
        app_dest_ = get(engine_);
    }
    if (!app_dest_) {
      dests_link_ = std::make_unique<CAppDestsRemoteLink>(rpc_.get());
      own_dests_ = std::make_unique<CAppDests>(root_, engine_ ? nullptr : dests_link_.get());
      app_dest_ = own_dests_.get();
    }
    rpc_->SetAppDest(app_dest_);
  }

  if (result != 0) {
    CloseAppClient(0);
    if (Interactive() && result != -1) {
      std::wstring text = Hex(L"%ls:  0x%lX", std::wstring(Text(4)) + L"\t\t" + Text(1), result);
      if (result == kNetErrRefused) text += std::wstring(L"\n") + Text(5);
      port::ShowMessage(text, Text(2), port::MessageKind::kError);
    }
  }
  return result;
}

int CVelAppClient::Connect(const wchar_t* host, int port) {
  const std::string narrow = port::WideToUtf8(host ? host : L"");
  return Connect(narrow.substr(0, 260).c_str(), port);
}

int CVelAppClient::Connect(const char* host, int port) {
  if (!host || !*host || port < 1) {
    if (Interactive())
      port::ShowMessage(std::wstring(Text(4)) + L", " + Text(8), Text(2),
                        port::MessageKind::kError);
    return -1;
  }
  host_ = host;
  loopback_ = port::EqualsNoCase(host, "loopback") ? 1 : 0;
  UpdateClientSettingsForServer(host);
  int result;
  if (loopback_) {
    result = port == ServerPort() ? ConnectInProcess() : -1;
  } else {
    result = CNetClientNode::Connect(host, port);
  }
  if (result == 0) {
    connected_ = 1;
    if (!loopback_ && port == ServerPort()) {
      change_solution_was_ = IsChangeSolutionEnabled();
      EnableChangeSolution(0);
      UpdateServerTime(0);
    }
  }
  return result;
}

int CVelAppClient::ConnectInProcess() {
  auto lib = port::SharedLibrary::Open(kServerEngineLibrary);
  if (!lib) return kNetErrNotConnected;
  auto create = reinterpret_cast<OzkServerEngineCreateFn>(lib->Symbol("ozkServerEngineCreate"));
  auto on_message =
      reinterpret_cast<OzkServerEngineOnNetMessageFn>(lib->Symbol("ozkServerEngineOnNetMessage"));
  auto get_lock = reinterpret_cast<OzkServerEngineGetTVarCriticalSectionFn>(
      lib->Symbol("ozkServerEngineGetTVarCriticalSection"));
  if (!create || !on_message) return kNetErrNotConnected;
  EngineStreamFns streams;
  streams.start = reinterpret_cast<OzkServerEngineSendStreamStartFn>(
      lib->Symbol("ozkServerEngineSendStreamStart"));
  streams.response_start = reinterpret_cast<OzkServerEngineResponseStreamStartFn>(
      lib->Symbol("ozkServerEngineResponseStreamStart"));
  streams.write =
      reinterpret_cast<OzkServerEngineStreamWriteFn>(lib->Symbol("ozkServerEngineStreamWrite"));
  streams.read =
      reinterpret_cast<OzkServerEngineStreamReadFn>(lib->Symbol("ozkServerEngineStreamRead"));
  streams.end =
      reinterpret_cast<OzkServerEngineStreamEndFn>(lib->Symbol("ozkServerEngineStreamEnd"));
  void* engine = create(nullptr, this);
  if (!engine) return kNetErrNotConnected;
  {
    std::lock_guard lock(engine_mu_);
    engine_lib_ = std::move(lib);
    engine_ = engine;
    engine_on_message_ = on_message;
    engine_stream_ = streams;
  }
  if (get_lock) SetTreeLock(get_lock(engine));
  OnConnected();
  return 0;
}

bool CVelAppClient::LoadApplianceLibrary(int server_version) {
  const int client_version = GetClientVersion();
  if (auto versioned = VersionedLibraryName(attr_.library, server_version, client_version))
    appliance_lib_ = port::SharedLibrary::Open(*versioned);
  if (!appliance_lib_ && server_version == client_version) {
    auto lib = port::SharedLibrary::Open(attr_.library);
    auto version =
        lib ? reinterpret_cast<VelProductVersionFn>(lib->Symbol("VelProductVersion")) : nullptr;
    if (version && VersionNumber(version()) == server_version) appliance_lib_ = std::move(lib);
  }
  return appliance_lib_ != nullptr;
}

int CVelAppClient::CreateAppliance() {
  auto create =
      reinterpret_cast<CreateApplianceObjectFn>(appliance_lib_->Symbol("CreateApplianceObject"));
  CVelAppliance* object = create ? create(this) : nullptr;
  if (!object) {
    CloseAppClient(0);
    return 0;
  }
  {
    std::lock_guard lock(update_mutex_);
    appliance_ = object;
  }
  appliance_->Initialize();
  if (grab_type_ == 9 && attr_.library == "ZelvinEC.dll") express_ = 1;
  const int cameras = GetNumOfCameras();
  if (cameras != 1) appliance_->OnChangeNumOfCameras(cameras);
  OnServerConnected();
  CLumMsg request(kMsgApplianceReady), reply;
  SendNetMessage(&request, &reply);
  GetOEMName(&oem_name_, &oem_folder_);
  RestoreChangeSolution();
  return 1;
}

void CVelAppClient::SetAppliance(CVelAppliance* appliance) {
  CVelAppliance* old;
  {
    std::lock_guard lock(update_mutex_);
    old = appliance_;
    appliance_ = appliance;
  }
  delete old;
}

int CVelAppClient::IsLogHistoryToFile(VelLogFileAttrib* out) {
  CLumMsg request(kMsgIsLogHistoryToFile), reply;
  if (!out || SendNetMessage(&request, &reply) != 0 || reply.Size() < 1) return 0;
  const CLumVariant& v = reply.Get(0);
  const auto bytes = v.GetType() == LUM_VT_DATA ? v.GetBytes(0) : std::string_view();
  if (!bytes.empty())
    DecodeLogFileAttrib(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                        out);
  return out->to_file;
}

void CVelAppClient::SetLogHistoryToFile(const VelLogFileAttrib& attrib) {
  const auto record = EncodeLogFileAttrib(attrib);
  CLumMsg request(kMsgSetLogHistoryToFile), reply;
  request.Add(CLumVariant(record.data(), static_cast<long>(record.size()), true));
  SendNetMessage(&request, &reply);
  log_attrib_ = attrib;
  if (!attrib.suspended) CreateHistorySubFolders();
}

void CVelAppClient::CreateHistorySubFolders() {
  static const wchar_t* const kClassFolders[] = {L"\\Pass", L"\\Recycle", L"\\Fail"};
  for (int c = 0; c < 3; ++c) {
    history_folders_[c] = log_history_path_ + (log_attrib_.sub_folders ? kClassFolders[c] : L"");
    if (log_attrib_.to_file) port::CreateDirectories(port::MapLocalPath(history_folders_[c]));
  }
}

void CVelAppClient::RestoreChangeSolution() {
  if (change_solution_was_ < 0) return;
  if (connected_) EnableChangeSolution(change_solution_was_);
  change_solution_was_ = -1;
}

// ---- Sessions end ----

int CVelAppClient::Close(int flag) {
  RestoreChangeSolution();
  if (!loopback_ && (started_here_ || flag) && connected_) {
    CLumMsg request(kMsgCloseServer);
    SendNetMessage(&request, nullptr);
    Terminate();
  }
  Disconnect();
  Terminate();
  return 1;
}

void CVelAppClient::CloseAppClient(int flag) {
  closing_ = 1;
  if (connected_) {
    CLumMsg request(kMsgCloseAppClient);
    SendNetMessage(&request, nullptr);
  }
  const bool locked = update_mutex_.try_lock_for(std::chrono::milliseconds(300));
  if (appliance_) appliance_->SetClosingFlag(1);
  delete appliance_;
  appliance_ = nullptr;
  if (locked) update_mutex_.unlock();
  appliance_lib_.reset();
  Close(flag);
}

int CVelAppClient::Disconnect() {
  const bool was_connected = connected_;
  // The manager goes while its tree and link are still there.
  if (rpc_) rpc_->SetAppDest(nullptr);
  app_dest_ = nullptr;
  own_dests_.reset();
  dests_link_.reset();
  if (was_connected && !loopback_) UpdateServerTime(1);
  connected_ = 0;
  if (engine_) {
    OnDisconnect(0);
    DisconnectEngine();
  } else {
    CNetClientNode::Disconnect();
  }
  if (root_ == local_root_.get()) local_root_->SetRpc(nullptr);
  root_ = nullptr;
  loopback_ = 0;
  return 0;
}

void CVelAppClient::DisconnectEngine() {
  std::unique_ptr<port::SharedLibrary> lib;
  void* engine;
  {
    std::lock_guard lock(engine_mu_);
    engine = engine_;
    engine_ = nullptr;
    engine_on_message_ = nullptr;
    engine_stream_ = {};
    lib = std::move(engine_lib_);
  }
  if (!engine) return;
  SetTreeLock(nullptr);
  if (auto destroy =
          reinterpret_cast<OzkServerEngineDeleteFn>(lib->Symbol("ozkServerEngineDelete")))
    destroy(engine);
}

void CVelAppClient::OnDisconnect(int reason) {
  if (appliance_) appliance_->OnDisconnect(reason);
  const bool network = connected_ && !loopback_;
  if (!engine_) connected_ = 0;
  if (network && !vb_client_ && reason == kDisconnectReasonFatal) {
    port::ShowMessage(L"Connection to server lost, application will now terminate", Text(1),
                      port::MessageKind::kError);
    std::exit(EXIT_FAILURE);
  }
}

void CVelAppClient::OnServerConnected() {
  if (appliance_) appliance_->OnServerConnected();
}

int CVelAppClient::IsConnectionDropped() {
  if (engine_) return 0;
  const int fd = GetFromServerSocket();
  if (fd < 0) return 1;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return 0;
  char byte;
  const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) return 0;
  if (n == 0) return 1;
  return errno == ENETRESET || errno == ECONNABORTED || errno == ECONNRESET || errno == EINVAL;
}

// ---- Exchanges ----

int CVelAppClient::SendNetMessage(CLumMsg* request, CLumMsg* reply) {
  {
    std::lock_guard lock(engine_mu_);
    if (engine_on_message_) {
      CLumMsg scratch;
      engine_on_message_(engine_, kLoopbackClientId, request, reply ? reply : &scratch);
      return 0;
    }
  }
  return CNetClientNode::SendNetMessage(request, reply);
}

template <typename Op>
bool CVelAppClient::WithEngine(Op op, int* result) {
  std::lock_guard lock(engine_mu_);
  if (!engine_on_message_) return false;
  *result = op(engine_, engine_stream_);
  return true;
}

// An engine without the stream entry points refuses streams.
constexpr int kNoEngineStream = -1;

int CVelAppClient::SendStreamStart(int id, long total, int flag) {
  int r;
  if (WithEngine(
          [&](void* e, const EngineStreamFns& f) {
            return f.start ? f.start(e, id, total, flag) : kNoEngineStream;
          },
          &r))
    return r;
  return CNetClientNode::SendStreamStart(id, total, flag);
}

int CVelAppClient::ResponseStreamStart(int* length) {
  int r;
  if (WithEngine(
          [&](void* e, const EngineStreamFns& f) {
            return f.response_start ? f.response_start(e, length) : kNoEngineStream;
          },
          &r))
    return r;
  return CNetClientNode::ResponseStreamStart(length);
}

int CVelAppClient::StreamWrite(int length, unsigned char* data) {
  int r;
  if (WithEngine(
          [&](void* e, const EngineStreamFns& f) {
            return f.write ? f.write(e, length, data) : kNoEngineStream;
          },
          &r))
    return r;
  return CNetClientNode::StreamWrite(length, data);
}

int CVelAppClient::StreamRead(int length, unsigned char* buffer) {
  int r;
  if (WithEngine(
          [&](void* e, const EngineStreamFns& f) {
            return f.read ? f.read(e, length, buffer) : kNoEngineStream;
          },
          &r))
    return r;
  return CNetClientNode::StreamRead(length, buffer);
}

int CVelAppClient::StreamEnd() {
  int r;
  if (WithEngine(
          [&](void* e, const EngineStreamFns& f) { return f.end ? f.end(e) : kNoEngineStream; },
          &r))
    return r;
  return CNetClientNode::StreamEnd();
}

int CVelAppClient::SendStreamTest() {
  constexpr int kTestLength = 100;
  unsigned char bytes[kTestLength];
  for (int i = 0; i < kTestLength; ++i) bytes[i] = static_cast<unsigned char>(i);
  int length = 0;
  const bool ok = SendStreamStart(kMsgStreamTest, kTestLength, 0) == 0 &&
                  StreamWrite(kTestLength, bytes) == 0 && ResponseStreamStart(&length) == 0 &&
                  length >= kTestLength && StreamRead(kTestLength, bytes) == 0;
  StreamEnd();
  return ok ? 1 : 0;
}

int CVelAppClient::IsServerInUse() {
  CLumMsg request(kMsgIsServerInUse), reply;
  return SendNetMessage(&request, &reply) == 0 && reply.Get(0).GetLongLong(0) != 0;
}

int CVelAppClient::SendServerDisconnectCommand() {
  CLumMsg request(kMsgDisconnectOther), reply;
  if (SendNetMessage(&request, &reply) != 0) return 0;
  return reply.Get(0).GetLongLong(0) != 0;
}

int CVelAppClient::StartVelServer() {
  {
    port::NamedMutex running(kServerRunningMutex);
    if (!running.Held() && !running.AlreadyExists()) return 0;
    if (running.AlreadyExists()) return 1;
  }  // released: the server takes it
  const std::string program = FindServerProgram();
  if (program.empty()) {
    if (Interactive()) port::ShowMessage(Text(12), Text(1), port::MessageKind::kError);
    return 0;
  }
  if (const int err = port::SpawnDetached(program, {"--port", std::to_string(ServerPort())})) {
    if (Interactive()) {
      const std::wstring text = std::wstring(Text(11)) + L"\t\t" + Text(1);
      port::ShowMessage(Hex(L"%ls: 0x%lX", text, err), Text(1), port::MessageKind::kError);
    }
    return 0;
  }
  // Ready when it accepts on its port.
  for (int i = 0; i < 200 && !port::PortAccepts("127.0.0.1", ServerPort()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return 1;
}

void CVelAppClient::UpdateClientSettingsForServer(const char* host) {
  settings_section_ = std::string(kSettingsRoot) + "\\" + (host ? host : "");
  const std::string file = CVelOS::AppDataPathOnce(std::string("ZelvinClient"), "Client.ini");
  max_log_image_count_ = static_cast<int>(
      port::GetProfileInt(file, settings_section_, "MaxLogImageCount", max_log_image_count_));
  express_ = static_cast<int>(port::GetProfileInt(file, settings_section_, "ExpressMode", 0));
  log_history_path_ = port::Utf8ToWide(port::GetProfileString(
      file, settings_section_, "LogHistoryPath", port::WideToUtf8(log_history_path_)));
}

void CVelAppClient::UpdateServerTime(int force) {
  if (loopback_ || !connected_) return;
  const uint64_t now = clock_();
  if (!force && now - last_time_update_ < kServerTimeInterval) return;
  if (IsEmulatorMode(rpc_.get())) return;
  const auto zone = TimeZoneRecord();
  CLumMsg request(kMsgUpdateServerTime), reply;
  request.Add(CLumVariant(static_cast<long long>(now)));
  request.Add(CLumVariant(zone.data(), static_cast<long>(zone.size()), true));
  request.Add(CLumVariant(force));
  SendNetMessage(&request, &reply);
  last_time_update_ = now;
}

int CVelAppClient::GetClientVersion() const {
  return ClientVersion();
}

int CVelAppClient::GetServerVersion() {
  return ::GetServerVersion(rpc_.get());
}

// ---- Parameter navigation ----

int CVelAppClient::GetFirstParam(int group, int flags) {
  return ::GetFirstParam(rpc_.get(), group, flags);
}
int CVelAppClient::GetNextParam(int group, int param, int flags) {
  return ::GetNextParam(rpc_.get(), group, param, flags);
}
int CVelAppClient::GetFirstParamGroup(int flags) {
  return ::GetFirstParamGroup(rpc_.get(), flags);
}
int CVelAppClient::GetNextParamGroup(int group) {
  return ::GetNextParamGroup(rpc_.get(), group);
}
int CVelAppClient::GetParentGroup(int group) {
  return ::GetParentGroup(rpc_.get(), group);
}
int CVelAppClient::ParamSupported(int param) {
  return ::ParamSupported(rpc_.get(), param);
}
int CVelAppClient::IsArgSupported(int param, int arg, int flags) {
  return ::IsArgSupported(rpc_.get(), param, arg, flags);
}
double CVelAppClient::ClosestArgSupported(int param, double value) {
  return ::ClosestArgSupported(rpc_.get(), param, value);
}
double CVelAppClient::GetParamByName(const char* name) {
  return ::GetParamByName(rpc_.get(), name, 0);
}

std::string CVelAppClient::GetArgName(int param, int arg) {
  char name[260] = {};  // argument names are short; a longer one is refused, not cut
  return ::GetArgName(rpc_.get(), param, arg, sizeof name, name) ? name : "";
}
double CVelAppClient::GetArgValue(int param, const char* arg_name) {
  return ::GetArgValue(rpc_.get(), param, arg_name);
}

int CVelAppClient::ReadRegistery(int root, const char* key, const char* value_name, uint32_t* type,
                                 std::vector<uint8_t>* value) {
  if (!type || !value) return 0;
  uint32_t size = 256;
  for (int attempt = 0; attempt < 2; ++attempt) {
    value->assign(size, 0);
    const uint32_t offered = size;
    if (::ReadRegistery(rpc_.get(), root, key, value_name, type, value->data(), &size)) {
      value->resize(std::min(size, offered));
      return 1;
    }
    if (size <= offered || size > kMaxRegistryValue) break;
  }
  value->clear();
  return 0;
}

int CVelAppClient::WriteRegistery(int root, const char* key, const char* value_name, uint32_t type,
                                  std::span<const uint8_t> value) {
  if (value.size() > kMaxRegistryValue) return 0;
  static const uint8_t kNothing = 0;  // a buffer must point somewhere, even an empty one
  return ::WriteRegistery(rpc_.get(), root, key, value_name, type,
                          value.empty() ? &kNothing : value.data(),
                          static_cast<uint32_t>(value.size()));
}

int CVelAppClient::FlushRegistery(int root) {
  return ::FlushRegistery(rpc_.get(), root);
}
int CVelAppClient::ReadParamFile(const char* device_path) {
  return ::ReadParamFile(rpc_.get(), device_path);
}
int CVelAppClient::WriteParamFile(const char* device_path) {
  return ::WriteParamFile(rpc_.get(), device_path);
}

std::string CVelAppClient::DeviceText(int (*stub)(CVelRpc*, char*, uint32_t*)) {
  constexpr uint32_t kMaxText = 4096;
  std::vector<char> text(32, 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t size = static_cast<uint32_t>(text.size());
    if (stub(rpc_.get(), text.data(), &size))
      return std::string(text.data(), strnlen(text.data(), text.size()));
    if (size <= text.size() || size > kMaxText) break;
    text.assign(size, 0);
  }
  return {};
}

std::string CVelAppClient::GetDeviceSerialNo() {
  return DeviceText(::GetDeviceSerialNo);
}
std::string CVelAppClient::GetDeviceName() {
  return DeviceText(::GetDeviceName);
}
int CVelAppClient::SetDeviceName(const char* name) {
  return ::SetDeviceName(rpc_.get(), name);
}
void CVelAppClient::RestartDevice() {
  ::RestartDevice(rpc_.get());
}
int CVelAppClient::SetWindowGen(int x, int y, int width, int height) {
  return ::SetWindowGen(rpc_.get(), x, y, width, height);
}

int CVelAppClient::GetGroupProperties(int group, VelGroupProperties* out) {
  std::array<uint8_t, kGroupRecordSize> record{};
  ::GetGroupProperties(rpc_.get(), group, record.data());
  // An unknown group leaves the record as sent: no id.
  return DecodeGroupProperties(record, out) && out->id == group ? 1 : 0;
}

int CVelAppClient::GetFirstEnumArg(int param, VelEnumArg* out) {
  std::array<uint8_t, kEnumArgRecordSize> record{};
  return ::GetFirstEnumArg(rpc_.get(), param, record.data()) && DecodeEnumArg(record, out) ? 1 : 0;
}

int CVelAppClient::GetNextEnumArg(int param, const VelEnumArg& prev, VelEnumArg* out) {
  auto record = EncodeEnumArg(prev);
  return ::GetNextEnumArg(rpc_.get(), param, record.data()) && DecodeEnumArg(record, out) ? 1 : 0;
}

void CVelAppClient::SetConnectDialogStatus(const std::wstring& status) {
  status_ = status;
}

void CVelAppClient::ShowError(const std::wstring& text, int title_id) {
  if (Interactive()) port::ShowMessage(text, Text(title_id), port::MessageKind::kError);
}

int CVelAppClient::DecideExpressFlag(const std::string& library, int grab_type, uint32_t gpio_lines,
                                     int setting) {
  if (library.size() > 6) {
    const char c = port::AsciiLower(library[library.size() - 6]);
    if (c == 'l') return 0;
    if (c == 'e') return 1;
  }
  if (grab_type == 8 && gpio_lines > 8) return 1;
  return setting;
}

// ---- Exports ----

CVelAppClient* OzkConnectToVelServer(const wchar_t* host, OZK_CONNECT_MODE mode) {
  if (!host) return nullptr;
  auto client = std::make_unique<CVelAppClient>();
  if (!client->ConnectToVelServer(host, mode)) return nullptr;
  return client.release();
}

void OzkDeleteAppClient(CVelAppClient* client, int flag) {
  if (!client) return;
  client->CloseAppClient(flag);
  delete client;
}
