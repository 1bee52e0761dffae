// The appliance's file system, kept inside one sandbox folder of the host.
//
// Device paths are Windows-style ("\Storage Card\solution01.bin", "C:\QRV\a.txt"): a drive
// letter and leading separators are dropped, "\" and "/" both separate, "." is skipped and ".."
// steps back; a path that would step above the sandbox, or that reaches outside it through a
// symbolic link, is refused. Open files carry 64-bit handles (0 is never a handle) and searches
// 32-bit handles (-1 is never a handle). Every operation answers a bad path or handle with
// failure: 0 (or -1 for a find handle), never an exception.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/device_records.h"

class CDeviceFiles {
 public:
  // Largest read the device serves in one request; larger requests are cut to it.
  static constexpr uint32_t kMaxReadSize = 1u << 20;
  // Open files and searches one device keeps at a time.
  static constexpr size_t kMaxHandles = 256;

  explicit CDeviceFiles(std::string root);
  ~CDeviceFiles();
  CDeviceFiles(const CDeviceFiles&) = delete;
  CDeviceFiles& operator=(const CDeviceFiles&) = delete;

  const std::string& Root() const { return root_; }
  // The host path of a device path, or nothing when it leaves the sandbox.
  std::optional<std::string> MapPath(const std::wstring& device_path) const;

  // The last component may hold the wildcards "*" and "?" (matched case-insensitively).
  int32_t FindFirst(const std::wstring& pattern, VelFindData* out);
  int FindNext(int32_t handle, VelFindData* out);
  int FindClose(int32_t handle);

  // mode as for fopen: "rb", "wb", "ab", "r+b", ...
  uint64_t Open(const std::wstring& path, const std::wstring& mode);
  // origin 0 start, 1 current, 2 end. 1 on success.
  int Seek(uint64_t handle, int64_t offset, int origin);
  uint32_t Write(std::span<const uint8_t> data, uint64_t handle);
  // Up to length bytes (at most kMaxReadSize); empty at the end or on a bad handle.
  std::vector<uint8_t> Read(uint32_t length, uint64_t handle);
  int Close(uint64_t handle);

  int Remove(const std::wstring& path);
  int Move(const std::wstring& from, const std::wstring& to);
  int CreateDirectory(const std::wstring& path);
  int RemoveDirectory(const std::wstring& path);

 private:
  struct Search {
    std::vector<VelFindData> entries;
    size_t next = 0;
  };
  struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<FILE, FileCloser>;

  FILE* FileOf(uint64_t handle);
  bool Full() const { return files_.size() + searches_.size() >= kMaxHandles; }

  std::string root_;
  std::mutex mu_;
  std::map<uint64_t, File> files_;
  std::map<int32_t, Search> searches_;
  uint64_t next_file_ = 0x10000;
  int32_t next_search_ = 1;
};
