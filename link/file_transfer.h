// Copying a whole file between the local disk and the appliance in 65,536-byte blocks.
//
// The transfer runs over XDeviceFileOps, the device's file operations as the client offers them
// (message exchanges on a connection; a device model in tests). After every block the progress
// callback, when given, receives (0, percent transferred truncated, 0, 0). The result is 1 when
// the last block went through whole, else 0; a zero-byte file therefore gives 0, as does any
// direction other than the two below.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "link/device_records.h"

constexpr uint32_t kTransferToDevice = 0x40000000;    // the generic-write access value
constexpr uint32_t kTransferFromDevice = 0x80000000;  // the generic-read access value
constexpr uint32_t kTransferBlockSize = 65536;

using FileProgressCallback = std::function<void(int, int, int, int)>;

class XDeviceFileOps {
 public:
  virtual ~XDeviceFileOps() = default;
  virtual int32_t FileFindFirst(const std::wstring& path, VelFindData* out) = 0;  // -1: none
  virtual int FileFindClose(int32_t handle) = 0;
  virtual uint64_t FileOpen(const std::wstring& path, const std::wstring& mode) = 0;  // 0: failed
  virtual uint32_t FileWrite(std::span<const uint8_t> data, uint64_t handle) = 0;
  // Reads at most buffer.size() bytes into buffer; returns the count.
  virtual uint32_t FileRead(std::span<uint8_t> buffer, uint64_t handle) = 0;
  virtual int FileClose(uint64_t handle) = 0;
};

// local_path is Windows-style or a path of this system (see port::MapLocalPath).
int FileTransfer(XDeviceFileOps& device, uint32_t direction, const std::wstring& local_path,
                 const std::wstring& device_path, const FileProgressCallback& progress);
