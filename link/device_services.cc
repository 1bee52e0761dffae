#include "link/device_services.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "link/device_message_ids.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxPathBytes = 260;

std::wstring PathArg(const char* path) {
  if (!path) return {};
  const std::string_view text(path, strnlen(path, kMaxPathBytes));
  return port::Utf8ToWide(text);
}

std::span<const uint8_t> DataOf(const CLumVariant& v) {
  const void* data = v.GetData(0);
  const long size = v.GetDataSize(0);
  if (v.GetType() != LUM_VT_DATA || !data || size <= 0) return {};
  return {static_cast<const uint8_t*>(data), static_cast<size_t>(size)};
}

CLumVariant DataArg(std::span<const uint8_t> bytes) {
  return CLumVariant(bytes.data(), static_cast<long>(bytes.size()), true);
}

}  // namespace

bool CDeviceServices::Exchange(int32_t id, std::initializer_list<CLumVariant> args, CLumMsg* reply,
                               int min_reply) {
  CLumMsg request(id);
  for (const auto& a : args) request.Add(a);
  reply->Clear();
  return SendNetMessage(&request, reply) == 0 && reply->Size() >= min_reply;
}

double CDeviceServices::Query(int32_t id, std::initializer_list<CLumVariant> args) {
  CLumMsg reply;
  return Exchange(id, args, &reply) ? reply.Get(0).GetDouble(0) : 0;
}

template <typename Record>
int CDeviceServices::GetRecord(int32_t id, std::initializer_list<CLumVariant> args,
                               bool (*decode)(std::span<const uint8_t>, Record*), Record* out) {
  CLumMsg reply;
  return Exchange(id, args, &reply) && decode(DataOf(reply.Get(0)), out) ? 1 : 0;
}

// ---- Files and directories ----

int32_t CDeviceServices::FindReply(const CLumMsg& reply, VelFindData* out) {
  const int64_t handle = reply.Get(0).GetLongLong(0);
  if (reply.Size() < 11 || handle == -1 || handle < INT32_MIN || handle > INT32_MAX) return -1;
  std::array<uint32_t, 7> words;
  for (int i = 0; i < 7; ++i) words[i] = static_cast<uint32_t>(reply.Get(i + 1).GetLongLong(0));
  const wchar_t* name = reply.Get(10).GetWString(0);
  *out =
      VelFindData::FromWords(words, static_cast<uint32_t>(reply.Get(8).GetLongLong(0)),
                             static_cast<uint32_t>(reply.Get(9).GetLongLong(0)), name ? name : L"");
  return static_cast<int32_t>(handle);
}

int32_t CDeviceServices::FileFindFirst(const std::wstring& path, VelFindData* out) {
  CLumMsg reply;
  if (path.empty() || !Exchange(kMsgFileFindFirst, {CLumVariant(path.c_str())}, &reply)) return -1;
  return FindReply(reply, out);
}

int32_t CDeviceServices::FileFindFirst(const char* path, VelFindData* out) {
  return FileFindFirst(PathArg(path), out);
}

int CDeviceServices::FileFindNext(int32_t handle, VelFindData* out) {
  CLumMsg reply;
  if (!Exchange(kMsgFileFindNext, {CLumVariant(static_cast<long>(handle))}, &reply)) return 0;
  return FindReply(reply, out) != -1 ? 1 : 0;
}

int CDeviceServices::FileFindClose(int32_t handle) {
  return static_cast<int>(Query(kMsgFileFindClose, {CLumVariant(static_cast<long>(handle))}));
}

uint64_t CDeviceServices::FileOpen(const std::wstring& path, const std::wstring& mode) {
  CLumMsg reply;
  if (path.empty() || mode.empty() ||
      !Exchange(kMsgFileOpen, {CLumVariant(path.c_str()), CLumVariant(mode.c_str())}, &reply))
    return 0;
  return static_cast<uint64_t>(reply.Get(0).GetLongLong(0));
}

uint64_t CDeviceServices::FileOpen(const char* path, const char* mode) {
  return FileOpen(PathArg(path), PathArg(mode));
}

int CDeviceServices::FileSeek(uint64_t handle, int64_t offset, int origin) {
  return static_cast<int>(
      Query(kMsgFileSeek, {CLumVariant(static_cast<long long>(handle)),
                           CLumVariant(static_cast<long>(offset)), CLumVariant(origin)}));
}

uint32_t CDeviceServices::FileWrite(std::span<const uint8_t> data, uint64_t handle) {
  const double written =
      Query(kMsgFileWrite, {DataArg(data), CLumVariant(static_cast<long>(data.size())),
                            CLumVariant(static_cast<long long>(handle))});
  // A server that claims more than it was given is not believed.
  return static_cast<uint32_t>(std::clamp(written, 0.0, static_cast<double>(data.size())));
}

uint32_t CDeviceServices::FileRead(std::span<uint8_t> buffer, uint64_t handle) {
  CLumMsg reply;
  if (!Exchange(kMsgFileRead,
                {CLumVariant(static_cast<long>(buffer.size())),
                 CLumVariant(static_cast<long long>(handle))},
                &reply, 2))
    return 0;
  const auto data = DataOf(reply.Get(1));
  const int64_t count = reply.Get(0).GetLongLong(0);
  // Copy no more than the buffer holds, the data carries, or the server says it read.
  const size_t n =
      std::min({buffer.size(), data.size(), static_cast<size_t>(std::max<int64_t>(count, 0))});
  std::memcpy(buffer.data(), data.data(), n);
  return static_cast<uint32_t>(n);
}

int CDeviceServices::FileClose(uint64_t handle) {
  return static_cast<int>(Query(kMsgFileClose, {CLumVariant(static_cast<long long>(handle))}));
}

int CDeviceServices::FileRemove(const std::wstring& path) {
  return path.empty() ? 0 : static_cast<int>(Query(kMsgFileRemove, {CLumVariant(path.c_str())}));
}

int CDeviceServices::FileMove(const std::wstring& from, const std::wstring& to) {
  if (from.empty() || to.empty()) return 0;
  return static_cast<int>(
      Query(kMsgFileMove, {CLumVariant(from.c_str()), CLumVariant(to.c_str())}));
}

int CDeviceServices::DirectoryCreate(const std::wstring& path) {
  return path.empty() ? 0
                      : static_cast<int>(Query(kMsgDirectoryCreate, {CLumVariant(path.c_str())}));
}

int CDeviceServices::DirectoryRemove(const std::wstring& path) {
  return path.empty() ? 0
                      : static_cast<int>(Query(kMsgDirectoryRemove, {CLumVariant(path.c_str())}));
}

int CDeviceServices::FileTransfer(uint32_t direction, const std::wstring& local_path,
                                  const std::wstring& device_path,
                                  const FileProgressCallback& progress) {
  return ::FileTransfer(*this, direction, local_path, device_path, progress);
}

// ---- Device ----

int CDeviceServices::GetAppAttributes(VelAppAttributes* out) {
  return GetRecord(kMsgGetAppAttributes, {}, &DecodeAppAttributes, out);
}

double CDeviceServices::GetParam(int32_t id, uint32_t index, bool use_cache) {
  if (index == 0 && use_cache) {
    std::lock_guard lock(cache_mu_);
    if (auto it = param_cache_.find(id); it != param_cache_.end()) return it->second;
  }
  return Query(kMsgGetParam, {CLumVariant(static_cast<int>(id)), CLumVariant(index)});
}

int CDeviceServices::SetParam(int32_t id, double value, uint32_t index) {
  CLumMsg reply;
  if (!Exchange(kMsgSetParam,
                {CLumVariant(static_cast<int>(id)), CLumVariant(value), CLumVariant(index)}, &reply,
                0))
    return 0;
  std::lock_guard lock(cache_mu_);
  if (index == 0) param_cache_.erase(id);  // the server may have refused it
  return 1;
}

int CDeviceServices::GetAllParams() {
  CLumMsg reply;
  if (!Exchange(kMsgGetAllParams, {}, &reply, 3)) return 0;
  const auto ids = DataOf(reply.Get(1));
  const auto values = DataOf(reply.Get(2));
  // The count is believed only as far as both lists carry it.
  const size_t count =
      std::min({static_cast<size_t>(std::max<int64_t>(reply.Get(0).GetLongLong(0), 0)),
                ids.size() / 4, values.size() / 8});
  std::lock_guard lock(cache_mu_);
  param_cache_.clear();
  for (size_t i = 0; i < count; ++i) {
    int32_t id;
    double value;
    std::memcpy(&id, ids.data() + 4 * i, 4);
    std::memcpy(&value, values.data() + 8 * i, 8);
    param_cache_[id] = value;
  }
  return static_cast<int>(count);
}

int CDeviceServices::GetParamCaps(int32_t id, VelParamCaps* out) {
  return GetRecord(kMsgGetParamCaps, {CLumVariant(static_cast<int>(id))}, &DecodeParamCaps, out);
}

int CDeviceServices::GetGpioAttr(VelGpioAttributes* out) {
  return GetRecord(kMsgGetGpioAttr, {}, &DecodeGpioAttributes, out);
}

int CDeviceServices::GetGpioConfig(int32_t id, uint32_t line, VelGpioConfig* out) {
  return GetRecord(id, {CLumVariant(line)}, &DecodeGpioConfig, out);
}

int CDeviceServices::SetGpioConfig(int32_t id, uint32_t line, const VelGpioConfig& config) {
  const auto record = EncodeGpioConfig(config);
  CLumMsg request(id);
  request.Add(CLumVariant(line));
  request.Add(DataArg(record));
  return SendNetMessage(&request, nullptr) == 0 ? 1 : 0;  // not awaited
}

int CDeviceServices::GetGPIConfig(uint32_t line, VelGpioConfig* out) {
  return GetGpioConfig(kMsgGetGPIConfig, line, out);
}
int CDeviceServices::SetGPIConfig(uint32_t line, const VelGpioConfig& config) {
  return SetGpioConfig(kMsgSetGPIConfig, line, config);
}
int CDeviceServices::GetGPOConfig(uint32_t line, VelGpioConfig* out) {
  return GetGpioConfig(kMsgGetGPOConfig, line, out);
}
int CDeviceServices::SetGPOConfig(uint32_t line, const VelGpioConfig& config) {
  return SetGpioConfig(kMsgSetGPOConfig, line, config);
}

int CDeviceServices::GetNumOfCameras() {
  num_cameras_ = static_cast<int>(Query(kMsgGetNumOfCameras, {}));
  return num_cameras_;
}

int CDeviceServices::GetMaxNumberOfSolutions() {
  return static_cast<int>(Query(kMsgGetMaxNumberOfSolutions, {}));
}

uint32_t CDeviceServices::GetGPInputValue() {
  return static_cast<uint32_t>(Query(kMsgGetGPInputValue, {}));
}

uint32_t CDeviceServices::SetOutputPort(uint32_t mask, int value) {
  return static_cast<uint32_t>(Query(kMsgSetOutputPort, {CLumVariant(mask), CLumVariant(value)}));
}

void CDeviceServices::WriteReg(uint32_t address, uint32_t value) {
  CLumMsg reply;
  Exchange(kMsgWriteReg, {CLumVariant(address), CLumVariant(value)}, &reply, 0);
}

uint32_t CDeviceServices::ReadReg(uint32_t address) {
  return static_cast<uint32_t>(Query(kMsgReadReg, {CLumVariant(address)}));
}

uint32_t CDeviceServices::GetDeviceSerialNumber() {
  return static_cast<uint32_t>(Query(kMsgGetDeviceSerialNumber, {}));
}

int CDeviceServices::GetVirtualAsyncEnable() {
  return static_cast<int>(Query(kMsgGetVirtualAsyncEnable, {}));
}

uint32_t CDeviceServices::GetAppFeatureMask() {
  return static_cast<uint32_t>(Query(kMsgGetAppFeatureMask, {}));
}

uint32_t CDeviceServices::GetHardwareRevision() {
  return static_cast<uint32_t>(Query(kMsgGetHardwareRevision, {}));
}

double CDeviceServices::GetTemperature(int sensor) {
  return Query(kMsgGetTemperature, {CLumVariant(sensor)});
}

uint32_t CDeviceServices::GetTrigScaler(int trigger) {
  return static_cast<uint32_t>(Query(kMsgGetTrigScaler, {CLumVariant(trigger)}));
}

void CDeviceServices::SetTrigScaler(int trigger, int scaler) {
  CLumMsg reply;
  Exchange(kMsgSetTrigScaler, {CLumVariant(trigger), CLumVariant(scaler)}, &reply, 0);
}

uint32_t CDeviceServices::ReadProductID() {
  return static_cast<uint32_t>(Query(kMsgReadProductID, {}));
}

void CDeviceServices::WriteProductID(uint32_t id) {
  CLumMsg reply;
  Exchange(kMsgWriteProductID, {CLumVariant(id)}, &reply, 0);
}

namespace {
CLumVariant Bytes(std::span<const uint8_t> bytes) {
  static const uint8_t kNone = 0;
  return CLumVariant(bytes.empty() ? &kNone : bytes.data(), static_cast<long>(bytes.size()), true);
}
}  // namespace

void CDeviceServices::PutPortString(std::span<const uint8_t> bytes) {
  CLumMsg reply;
  Exchange(kMsgPutPortString, {Bytes(bytes)}, &reply, 0);
}

std::string CDeviceServices::GetPortString(int max_bytes, int timeout_ms) {
  CLumMsg reply;
  if (max_bytes <= 0 ||
      !Exchange(kMsgGetPortString, {CLumVariant(max_bytes), CLumVariant(timeout_ms)}, &reply))
    return {};
  const std::string_view bytes = reply.Get(0).GetBytes(0);
  return std::string(bytes.substr(0, static_cast<size_t>(max_bytes)));
}

int CDeviceServices::GetPlcIPAddress(int role, PlcAddress* out) {
  CLumMsg reply;
  if (!out || !Exchange(kMsgGetPlcIPAddress, {CLumVariant(role)}, &reply, 4)) return 0;
  for (int i = 0; i < 3; ++i) out->parts[i] = static_cast<uint32_t>(reply.Get(i).GetLongLong(0));
  const char* text = reply.Get(3).GetString(0);
  out->text = text ? text : "";
  return 1;
}

void CDeviceServices::SetPlcIPAddress(int role, const PlcAddress& address) {
  CLumMsg reply;
  Exchange(kMsgSetPlcIPAddress,
           {CLumVariant(role), CLumVariant(address.parts[0]), CLumVariant(address.parts[1]),
            CLumVariant(address.parts[2]), CLumVariant(address.text.c_str()), CLumVariant("")},
           &reply, 0);
}

void CDeviceServices::SetMACAddress(std::span<const uint8_t> address) {
  CLumMsg reply;
  Exchange(kMsgSetMACAddress, {Bytes(address)}, &reply, 0);
}

int CDeviceServices::WriteFPGAFile(std::span<const uint8_t> file) {
  return static_cast<int>(Query(kMsgWriteFPGAFile, {Bytes(file)}));
}

void CDeviceServices::SetUDPMode(int mode, uint32_t port) {
  CLumMsg reply;
  Exchange(kMsgSetUDPMode, {CLumVariant(mode), CLumVariant(port)}, &reply, 0);
}

int CDeviceServices::GetGrabType() {
  return static_cast<int>(Query(kMsgGetGrabType, {}));
}

int CDeviceServices::IsChangeSolutionEnabled() {
  return static_cast<int>(Query(kMsgIsChangeSolutionEnabled, {}));
}

int CDeviceServices::EnableChangeSolution(int flag) {
  return static_cast<int>(Query(kMsgEnableChangeSolution, {CLumVariant(flag)}));
}

int CDeviceServices::GetOEMName(std::wstring* name, std::wstring* folder) {
  CLumMsg reply;
  if (!name || !folder || !Exchange(kMsgGetOEMName, {}, &reply, 2)) return 0;
  auto wide = [&](int i) -> std::wstring {
    const CLumVariant& v = reply.Get(i);
    const wchar_t* text = v.GetType() == LUM_VT_WSTRING ? v.GetWString(0) : nullptr;
    return text ? text : L"";
  };
  *name = wide(0);
  *folder = wide(1);
  return 1;
}
