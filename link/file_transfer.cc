#include "link/file_transfer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/paths.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using LocalFile = std::unique_ptr<FILE, FileCloser>;

// Copies size bytes block by block with move(block size) -> bytes moved; reports progress.
int CopyBlocks(uint64_t size, const FileProgressCallback& progress,
               const std::function<uint32_t(uint32_t)>& move) {
  uint64_t done = 0;
  bool last_whole = false;
  while (done < size) {
    const uint32_t want =
        static_cast<uint32_t>(std::min<uint64_t>(kTransferBlockSize, size - done));
    const uint32_t moved = move(want);
    done += moved;
    last_whole = moved == want;
    if (progress) progress(0, static_cast<int>(done * 100 / size), 0, 0);
    if (!last_whole) break;
  }
  return last_whole ? 1 : 0;
}

int ToDevice(XDeviceFileOps& device, const std::string& local, const std::wstring& device_path,
             const FileProgressCallback& progress) {
  struct stat st;
  if (::stat(local.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const uint64_t handle = device.FileOpen(device_path, L"wb");
  if (handle == 0) return 0;
  LocalFile in(std::fopen(local.c_str(), "rb"));
  int result = 0;
  if (in) {
    std::vector<uint8_t> block(kTransferBlockSize);
    result = CopyBlocks(static_cast<uint64_t>(st.st_size), progress, [&](uint32_t want) {
      const size_t got = std::fread(block.data(), 1, want, in.get());
      if (got == 0) return uint32_t{0};
      // A short local read leaves the block incomplete whatever the device answers.
      return std::min<uint32_t>(device.FileWrite(std::span(block.data(), got), handle),
                                static_cast<uint32_t>(got));
    });
  }
  device.FileClose(handle);
  return result;
}

int FromDevice(XDeviceFileOps& device, const std::string& local, const std::wstring& device_path,
               const FileProgressCallback& progress) {
  VelFindData found;
  const int32_t find = device.FileFindFirst(device_path, &found);
  if (find == -1) return 0;
  device.FileFindClose(find);
  const uint64_t handle = device.FileOpen(device_path, L"rb");
  if (handle == 0) return 0;
  LocalFile out(std::fopen(local.c_str(), "wb"));
  int result = 0;
  if (out) {
    std::vector<uint8_t> block(kTransferBlockSize);
    result = CopyBlocks(found.size, progress, [&](uint32_t want) {
      const uint32_t got = std::min(device.FileRead(std::span(block.data(), want), handle), want);
      return static_cast<uint32_t>(std::fwrite(block.data(), 1, got, out.get()));
    });
  }
  device.FileClose(handle);
  return result;
}

}  // namespace

int FileTransfer(XDeviceFileOps& device, uint32_t direction, const std::wstring& local_path,
                 const std::wstring& device_path, const FileProgressCallback& progress) {
  const std::string local = port::MapLocalPath(local_path);
  switch (direction) {
    case kTransferToDevice:
      return ToDevice(device, local, device_path, progress);
    case kTransferFromDevice:
      return FromDevice(device, local, device_path, progress);
    default:
      return 0;
  }
}
