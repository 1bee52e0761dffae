// CVelAppClient: the server's requests and notifications, and the intake of results.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "dests/app_dests.h"
#include "link/result_csv_log.h"
#include "link/server_message_ids.h"
#include "link/vel_app_client.h"
#include "link/vel_rpc.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

// A result that cannot get the update mutex this soon is not worth holding the receiver for.
constexpr auto kResultMutexWait = std::chrono::milliseconds(150);
constexpr auto kUpdateMutexSlice = std::chrono::milliseconds(2);
constexpr int kDeviceRecordFlagParam = 40;
// The header line of the result log: the destination manager's columns with these flags.
constexpr uint32_t kCsvHeaderFlags = 6;

// Text element index of a variant, 8-bit or wide, as UTF-8.
std::string TextOf(const CLumVariant& v, int index) {
  if (v.GetType() == LUM_VT_WSTRING) return port::WideToUtf8(v.GetWString(index));
  return std::string(v.GetType() == LUM_VT_STRING ? v.GetBytes(index) : std::string_view());
}

std::vector<uint8_t> BytesOf(const CLumVariant& v) {
  const std::string_view b = v.GetBytes(0);
  return {b.begin(), b.end()};
}

}  // namespace

std::atomic<uint64_t> CVelAppClient::not_handed_over_{0};
std::atomic<uint64_t> CVelAppClient::device_record_errors_{0};

int CVelAppClient::OnNetMessage(CLumMsg* request, CLumMsg* reply) {
  if (!request) return 0;
  // Named calls and remote variable operations, under the tree lock.
  if (rpc_->OnNetMessage(request, reply)) return 0;
  switch (request->GetId()) {
    case kMsgResultsHistory:
      if (history_locked_) return 0;
      [[fallthrough]];
    case kMsgResults:
      if (!loopback_ && std::this_thread::get_id() != creator_)
        PostRunResultsAndWait(request, reply);
      else
        ProcessRunResultsMessage(request, reply);
      return 0;
    case kMsgStatusRecord:
      OnStatusRecord(*request);
      return 0;
    case kMsgCsvLog:
      OnCsvLog(*request);
      return 0;
    case kMsgAppendText:
      OnAppendText(*request);
      return 0;
    case kMsgImage:
      OnImage(*request);
      return 0;
    case kMsgTextSlot:
      OnTextSlot(*request);
      return 0;
    case kMsgPanelValues:
      OnPanelValues(*request);
      return 0;
    case kMsgReleaseVar:
      OnReleaseVar(*request);
      return 0;
    case kMsgSolutionTransfer:
      // Nothing is transferred until solution files can be checked for compatibility.
      if (reply) reply->Add(CLumVariant(0));
      return 0;
    case kMsgDeviceRecord:
      OnDeviceRecord(*request);
      return 0;
  }
  std::lock_guard lock(update_mutex_);
  if (!closing_ && appliance_) appliance_->OnNetMessage(request, reply);
  return 0;
}

// ---- Results ----

int CVelAppClient::PostRunResultsAndWait(CLumMsg* message, CLumMsg* reply) {
  if (!panel_window_ || !panel_window_->IsWindow()) return ProcessRunResultsMessage(message, reply);
  if (!panel_window_->Send(kWmRunResults, reinterpret_cast<uintptr_t>(message),
                           reinterpret_cast<intptr_t>(reply), kHandOverTimeoutMs))
    ++not_handed_over_;
  return 0;
}

int CVelAppClient::ProcessRunResultsMessage(CLumMsg* message, CLumMsg* reply) {
  std::unique_lock lock(update_mutex_, kResultMutexWait);
  if (lock.owns_lock()) {
    if (!closing_ && appliance_) appliance_->OnNetMessage(message, reply);
    // The image history log takes its images here once it exists.
    ImageClientFn image_fn;
    void* image_arg;
    {
      std::lock_guard guard(intake_mu_);
      image_fn = image_fn_;
      image_arg = image_arg_;
    }
    if (image_fn) image_fn(image_arg, message->Get(0));
    if (!closing_ && vb_client_) ApplyVBResult(*message);
    lock.unlock();
    if (!closing_) CallResultCallback();
  }
  processed_.Set();
  return 0;
}

void CVelAppClient::ApplyVBResult(const CLumMsg& message) {
  if (message.Size() > 10 && message.Get(10).GetType() == LUM_VT_DATA) {
    std::vector<uint8_t> status = BytesOf(message.Get(10));
    status.resize(kResultStatusSize);
    std::lock_guard guard(intake_mu_);
    result_status_ = std::move(status);
  }
  if (message.Size() > 9 && message.Get(9).GetType() == LUM_VT_DATA) {
    const std::string_view record = message.Get(9).GetBytes(0);
    // The display configuration is this client's own: none of it goes back to the server.
    if (root_) root_->SetRemoteConnectState(0);
    disp_cfg_->UnSerializeTree(reinterpret_cast<const uint8_t*>(record.data()),
                               static_cast<uint32_t>(record.size()));
    if (root_) root_->SetRemoteConnectState(1);
  }
}

int CVelAppClient::SetResultsCallback(void (*fn)(void*), void* arg) {
  std::lock_guard lock(intake_mu_);
  result_fn_ = fn;
  result_arg_ = arg;
  return 1;
}

void CVelAppClient::CallResultCallback() {
  void (*fn)(void*);
  void* arg;
  {
    std::lock_guard lock(intake_mu_);
    fn = result_fn_;
    arg = result_arg_;
  }
  if (!fn) return;
  // The host's code must not take the receiving thread down with it.
  try {
    fn(arg);
  } catch (...) {
  }
}

int CVelAppClient::SetImageClient(ImageClientFn fn, void* arg) {
  std::lock_guard lock(intake_mu_);
  image_fn_ = fn;
  image_arg_ = arg;
  return 1;
}

int CVelAppClient::GetUpdateMutex() {
  while (!closing_) {
    if (update_mutex_.try_lock_for(kUpdateMutexSlice)) return 1;
    if (!port::DoEvents()) return 0;
  }
  return 0;
}

void CVelAppClient::ReleaseUpdateMutex() {
  if (update_mutex_.HeldByThisThread()) update_mutex_.unlock();
}

intptr_t CVelAppClient::OnWndMessage(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return appliance_ ? appliance_->OnWndMessage(message, wparam, lparam) : 0;
}

int CVelAppClient::OnRcvStreamStart(int id, int length) {
  if (!id) return 0;
  std::lock_guard lock(update_mutex_);
  if (!closing_ && appliance_) appliance_->OnRcvStreamStart(id, length);
  return 0;
}

// ---- Requests and notifications ----

void CVelAppClient::OnStatusRecord(const CLumMsg& request) {
  const std::string_view bytes = request.Get(0).GetBytes(0);
  {
    std::lock_guard lock(intake_mu_);
    status_record_ = {};
    if (!bytes.empty())
      std::memcpy(status_record_.data(), bytes.data(),
                  std::min(bytes.size(), sizeof status_record_));
  }
  if (panel_window_ && panel_window_->IsWindow())
    panel_window_->Send(kWmStatusRecord, 0, reinterpret_cast<intptr_t>(this), kHandOverTimeoutMs);
}

void CVelAppClient::OnCsvLog(const CLumMsg& request) {
  const std::string name = TextOf(request.Get(0), 0);
  const std::string text = TextOf(request.Get(1), 0);
  auto* dests = dynamic_cast<CAppDests*>(app_dest_);
  const uint32_t flags = static_cast<uint32_t>(request.Get(2).GetLongLong(0)) | kCsvHeaderFlags;
  std::lock_guard lock(intake_mu_);
  if (!csv_log_) csv_log_ = std::make_unique<CResultCsvLog>();
  csv_log_->Write(
      name, text,
      dests ? [&] { return dests->GetAppDataFormat(flags); } : std::function<std::string()>());
}

void CVelAppClient::OnAppendText(const CLumMsg& request) {
  const CLumVariant& list = request.Get(0);
  const std::string path = port::MapLocalPath(port::Utf8ToWide(TextOf(list, 0)));
  if (path.empty()) return;
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (!folder.empty()) port::CreateDirectories(folder);
  if (std::FILE* f = std::fopen(path.c_str(), "a")) {
    const std::string text = TextOf(list, 1);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

void CVelAppClient::OnImage(const CLumMsg& request) {
  const uint64_t width = static_cast<uint32_t>(request.Get(0).GetLongLong(0));
  const uint64_t height = static_cast<uint32_t>(request.Get(1).GetLongLong(0));
  const std::string_view pixels = request.Get(2).GetBytes(0);
  std::lock_guard lock(intake_mu_);
  ImageRequest& r = image_request_;
  const uint64_t size = width * height;
  if (!r.pending || size > r.buffer.size() || size > pixels.size()) return;
  if (size) std::memcpy(r.buffer.data(), pixels.data(), size);
  r.width = static_cast<uint32_t>(width);
  r.height = static_cast<uint32_t>(height);
  r.pending = false;
  image_arrived_.Set();
}

int CVelAppClient::ReceiveImage(std::span<uint8_t> buffer, uint32_t timeout_ms, uint32_t* width,
                                uint32_t* height) {
  {
    std::lock_guard lock(intake_mu_);
    image_request_ = {buffer, 0, 0, true};
    image_arrived_.Reset();
  }
  const bool arrived = image_arrived_.Wait(timeout_ms);
  std::lock_guard lock(intake_mu_);
  image_request_.pending = false;
  if (!arrived) return 0;
  if (width) *width = image_request_.width;
  if (height) *height = image_request_.height;
  return 1;
}

void CVelAppClient::OnTextSlot(const CLumMsg& request) {
  const int64_t index = request.Get(0).GetLongLong(0);
  if (index >= 0 && index < kTextSlots) {
    std::string text = TextOf(request.Get(1), 0);
    text = text.substr(0, std::min(text.find('\0'), kTextSlotSize - 1));
    std::lock_guard lock(intake_mu_);
    text_slots_[index] = std::move(text);
  }
  if (panel_window_) panel_window_->Post(kWmTextSlot, static_cast<uintptr_t>(index), 0);
}

void CVelAppClient::OnPanelValues(const CLumMsg& request) {
  std::array<int32_t, 3> values;
  for (int i = 0; i < 3; ++i) values[i] = static_cast<int32_t>(request.Get(i).GetLongLong(0));
  {
    std::lock_guard lock(intake_mu_);
    panel_values_ = values;
  }
  if (panel_window_) panel_window_->Post(kWmPanelValues, values[0], values[1]);
}

void CVelAppClient::OnReleaseVar(const CLumMsg& request) {
  CtVar* app_var = root_ ? root_->GetChild("AppVar") : nullptr;
  if (!app_var) return;
  const int64_t camera = request.Get(0).GetLongLong(0);
  std::string name = TextOf(request.Get(1), 0);
  if (camera_count_ >= 2) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "Camera %02d.", static_cast<int>(camera + 1));
    name = prefix + name;
  }
  if (CtVar* var = app_var->Index(name, 0)) var->Release(1, 0, 1, 0);
}

void CVelAppClient::OnDeviceRecord(const CLumMsg& request) {
  const CLumVariant& v = request.Get(0);
  if (v.GetType() != LUM_VT_DATA) {
    ++device_record_errors_;
    return;
  }
  std::vector<uint8_t> record = BytesOf(v);
  uint32_t first = 0;
  if (!record.empty())
    std::memcpy(&first, record.data(), std::min<size_t>(record.size(), sizeof first));
  {
    std::lock_guard lock(intake_mu_);
    device_record_ = std::move(record);
  }
  if (first) SetParam(kDeviceRecordFlagParam, 1.0);
}

std::array<uint32_t, CVelAppClient::kStatusWords> CVelAppClient::GetStatusRecord() {
  std::lock_guard lock(intake_mu_);
  return status_record_;
}

std::string CVelAppClient::GetTextSlot(int index) {
  std::lock_guard lock(intake_mu_);
  return index >= 0 && index < kTextSlots ? text_slots_[index] : std::string();
}

std::array<int32_t, 3> CVelAppClient::GetPanelValues() {
  std::lock_guard lock(intake_mu_);
  return panel_values_;
}

std::vector<uint8_t> CVelAppClient::GetDeviceRecord() {
  std::lock_guard lock(intake_mu_);
  return device_record_;
}

std::vector<uint8_t> CVelAppClient::GetResultStatus() {
  std::lock_guard lock(intake_mu_);
  return result_status_;
}

// ---- Appliance notifications ----

void CVelAppClient::OnCameraChanged(int camera) {
  camera_ = camera;
  if (appliance_) appliance_->OnCameraChanged(camera);
}

void CVelAppClient::OnAlarm(const std::string& text) {
  std::lock_guard lock(intake_mu_);
  last_alarm_ = text;
}

std::string CVelAppClient::GetLastAlarm() {
  std::lock_guard lock(intake_mu_);
  return last_alarm_;
}

// ---- Mode exchanges ----

namespace {

// Sends id with the given values; the reply's first value, or fallback when there is none.
template <typename... Values>
int64_t AskServer(CVelAppClient* client, int32_t id, CLumMsg* reply, int64_t fallback,
                  Values... values) {
  CLumMsg request(id);
  (request.Add(CLumVariant(values)), ...);
  if (client->SendNetMessage(&request, reply) != 0 || reply->Size() < 1) return fallback;
  return reply->Get(0).GetLongLong(0);
}

}  // namespace

uint32_t CVelAppClient::GetEngineMode() {
  CLumMsg reply;
  return static_cast<uint32_t>(AskServer(this, kMsgGetEngineMode, &reply, 0));
}

int CVelAppClient::SetEngineMode(int mode) {
  CLumMsg reply;
  return static_cast<int>(AskServer(this, kMsgSetEngineMode, &reply, 0, mode));
}

int CVelAppClient::GetAppMode() {
  CLumMsg reply;
  return static_cast<int>(AskServer(this, kMsgGetAppMode, &reply, 0));
}

int CVelAppClient::SetAppMode(int mode) {
  CLumMsg reply;
  const int result = static_cast<int>(AskServer(this, kMsgSetAppMode, &reply, 0, mode));
  std::lock_guard lock(update_mutex_);
  if (appliance_) {
    CLumMsg note(kMsgAppModeChanged), note_reply;
    note.Add(CLumVariant(mode));
    appliance_->OnNetMessage(&note, &note_reply);
  }
  return result;
}

int CVelAppClient::LockHistory() {
  history_locked_ = 1;
  CLumMsg reply;
  return static_cast<int>(AskServer(this, kMsgLockHistory, &reply, 0));
}

int CVelAppClient::UnLockHistory() {
  if (!history_locked_) return 0;
  CLumMsg reply;
  const int result = static_cast<int>(AskServer(this, kMsgUnLockHistory, &reply, 0));
  history_locked_ = 0;
  return result;
}

int CVelAppClient::GetFrameworkState(int* state) {
  CLumMsg reply;
  const int result = static_cast<int>(AskServer(this, kMsgGetFrameworkState, &reply, 0));
  if (state) *state = static_cast<int>(reply.Get(reply.Size() > 1 ? 1 : 0).GetLongLong(0));
  return result;
}

void CVelAppClient::SendMsgHandlerEvent(int event) {
  CLumMsg request(kMsgSendMsgHandlerEvent);
  request.Add(CLumVariant(event));
  SendNetMessage(&request, nullptr);
}
