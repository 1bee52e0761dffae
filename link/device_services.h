// CDeviceServices: the client's access to the appliance's files, parameters, digital I/O and
// identity, each a short message exchange with the server (link/device_message_ids.h).
//
// The class sends through SendNetMessage, which the client object supplies (network node or
// in-process engine); it returns 0 on success. A failed exchange, or a reply without the
// expected variants, gives the failure value of the operation: -1 for a find handle, 0 for the
// others. An empty path (or, for FileOpen, an empty mode) fails without sending. Every 8-bit
// path form converts its text (at most 260 bytes) and calls the wide form.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "link/device_records.h"
#include "link/file_transfer.h"
#include "netmsg/lum_msg.h"

class CDeviceServices : public XDeviceFileOps {
 public:
  ~CDeviceServices() override = default;

  virtual int SendNetMessage(CLumMsg* request, CLumMsg* reply) = 0;

  // ---- Files and directories ----
  int32_t FileFindFirst(const std::wstring& path, VelFindData* out) override;
  int32_t FileFindFirst(const char* path, VelFindData* out);
  int FileFindNext(int32_t handle, VelFindData* out);
  int FileFindClose(int32_t handle) override;
  uint64_t FileOpen(const std::wstring& path, const std::wstring& mode) override;
  uint64_t FileOpen(const char* path, const char* mode);
  // origin 0 start, 1 current, 2 end.
  int FileSeek(uint64_t handle, int64_t offset, int origin);
  uint32_t FileWrite(std::span<const uint8_t> data, uint64_t handle) override;
  uint32_t FileRead(std::span<uint8_t> buffer, uint64_t handle) override;
  int FileClose(uint64_t handle) override;
  int FileRemove(const std::wstring& path);
  int FileMove(const std::wstring& from, const std::wstring& to);
  int DirectoryCreate(const std::wstring& path);
  int DirectoryRemove(const std::wstring& path);
  // See link/file_transfer.h.
  int FileTransfer(uint32_t direction, const std::wstring& local_path,
                   const std::wstring& device_path, const FileProgressCallback& progress);

  // ---- Device ----
  int GetAppAttributes(VelAppAttributes* out);
  // With index 0 and use_cache, a value held from GetAllParams is answered without a request.
  double GetParam(int32_t id, uint32_t index = 0, bool use_cache = false);
  int SetParam(int32_t id, double value, uint32_t index = 0);
  // Fetches every parameter into the cache; returns the count.
  int GetAllParams();
  int GetParamCaps(int32_t id, VelParamCaps* out);
  int GetGpioAttr(VelGpioAttributes* out);
  int GetGPIConfig(uint32_t line, VelGpioConfig* out);
  int SetGPIConfig(uint32_t line, const VelGpioConfig& config);
  int GetGPOConfig(uint32_t line, VelGpioConfig* out);
  int SetGPOConfig(uint32_t line, const VelGpioConfig& config);
  int GetNumOfCameras();
  int GetMaxNumberOfSolutions();
  uint32_t GetGPInputValue();
  uint32_t SetOutputPort(uint32_t mask, int value);
  void WriteReg(uint32_t address, uint32_t value);
  uint32_t ReadReg(uint32_t address);
  uint32_t GetDeviceSerialNumber();
  int GetVirtualAsyncEnable();
  uint32_t GetAppFeatureMask();
  uint32_t GetHardwareRevision();
  double GetTemperature(int sensor);
  uint32_t GetTrigScaler(int trigger);
  void SetTrigScaler(int trigger, int scaler);
  uint32_t ReadProductID();
  void WriteProductID(uint32_t id);
  // The appliance's serial port: bytes out, and up to max_bytes of the bytes that came in.
  void PutPortString(std::span<const uint8_t> bytes);
  std::string GetPortString(int max_bytes, int timeout_ms);
  // Network settings of a PLC comm role: three address values and a node name.
  struct PlcAddress {
    uint32_t parts[3] = {0, 0, 0};
    std::string text;
  };
  int GetPlcIPAddress(int role, PlcAddress* out);
  void SetPlcIPAddress(int role, const PlcAddress& address);
  void SetMACAddress(std::span<const uint8_t> address);
  // 1 when the appliance took the file.
  int WriteFPGAFile(std::span<const uint8_t> file);
  void SetUDPMode(int mode, uint32_t port);
  int GetGrabType();
  // The server-kept permission to change solutions.
  int IsChangeSolutionEnabled();
  int EnableChangeSolution(int flag);
  // The server's OEM name and folder name; a reply that is not wide text leaves them empty.
  int GetOEMName(std::wstring* name, std::wstring* folder);

  // The last count GetNumOfCameras received.
  int CachedNumOfCameras() const { return num_cameras_; }

 private:
  // Sends id with args; true when a reply with at least min_reply variants came back.
  bool Exchange(int32_t id, std::initializer_list<CLumVariant> args, CLumMsg* reply,
                int min_reply = 1);
  // A one-variant query whose first reply variant is a number.
  double Query(int32_t id, std::initializer_list<CLumVariant> args);
  int32_t FindReply(const CLumMsg& reply, VelFindData* out);
  int GetGpioConfig(int32_t id, uint32_t line, VelGpioConfig* out);
  int SetGpioConfig(int32_t id, uint32_t line, const VelGpioConfig& config);
  template <typename Record>
  int GetRecord(int32_t id, std::initializer_list<CLumVariant> args,
                bool (*decode)(std::span<const uint8_t>, Record*), Record* out);

  std::mutex cache_mu_;
  std::map<int32_t, double> param_cache_;
  int num_cameras_ = 0;
};
