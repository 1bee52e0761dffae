#include "link/file_transfer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/common/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A device holding whole files in memory; records the operations the transfer made.
class FakeDevice : public XDeviceFileOps {
 public:
  std::map<std::wstring, std::vector<uint8_t>> files;
  std::vector<size_t> writes, reads;
  int open_files = 0;
  uint32_t write_limit = UINT32_MAX;  // a device that stores less than it is given

  int32_t FileFindFirst(const std::wstring& path, VelFindData* out) override {
    auto it = files.find(path);
    if (it == files.end()) return -1;
    out->size = it->second.size();
    ++finds_open;
    return 5;
  }
  int FileFindClose(int32_t handle) override { return handle == 5 ? (--finds_open, 1) : 0; }
  uint64_t FileOpen(const std::wstring& path, const std::wstring& mode) override {
    if (mode == L"rb" && !files.count(path)) return 0;
    if (mode == L"wb") files[path].clear();
    current = path;
    pos = 0;
    ++open_files;
    return 0x100000000ull;  // needs the full 64 bits
  }
  uint32_t FileWrite(std::span<const uint8_t> data, uint64_t h) override {
    EXPECT_EQ(h, 0x100000000ull);
    const size_t n = std::min<size_t>(data.size(), write_limit);
    writes.push_back(data.size());
    files[current].insert(files[current].end(), data.begin(), data.begin() + n);
    return static_cast<uint32_t>(n);
  }
  uint32_t FileRead(std::span<uint8_t> buffer, uint64_t h) override {
    const auto& f = files[current];
    const size_t n = std::min(buffer.size(), f.size() - pos);
    std::copy(f.begin() + pos, f.begin() + pos + n, buffer.begin());
    pos += n;
    reads.push_back(buffer.size());
    return static_cast<uint32_t>(n);
  }
  int FileClose(uint64_t) override { return --open_files, 1; }

  int finds_open = 0;

 private:
  std::wstring current;
  size_t pos = 0;
};

class FileTransferTest : public ::testing::Test {
 protected:
  std::wstring Local(const char* name) { return fs::path(dir_ + "/" + name).wstring(); }

  TempDir tmp_{"vel_transfer"};
  const std::string& dir_ = tmp_.path();
  FakeDevice device_;
  std::vector<int> percents_;
  FileProgressCallback progress_ = [this](int a, int pct, int c, int d) {
    EXPECT_EQ(a | c | d, 0);
    percents_.push_back(pct);
  };
};

TEST_F(FileTransferTest, UploadOf70000BytesTakesTwoBlocks) {
  std::string data(70000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  std::ofstream(dir_ + "/up.bin", std::ios::binary) << data;
  ASSERT_EQ(FileTransfer(device_, kTransferToDevice, Local("up.bin"), L"\\d\\up.bin", progress_),
            1);
  EXPECT_EQ(device_.writes, (std::vector<size_t>{65536, 4464}));
  EXPECT_EQ(percents_, (std::vector<int>{93, 100}));
  EXPECT_EQ(device_.files[L"\\d\\up.bin"], std::vector<uint8_t>(data.begin(), data.end()));
  EXPECT_EQ(device_.open_files, 0);
}

TEST_F(FileTransferTest, DownloadWritesTheDeviceFileLocally) {
  device_.files[L"\\d\\f"] = std::vector<uint8_t>(65536 * 2 + 1, 0x5A);
  ASSERT_EQ(FileTransfer(device_, kTransferFromDevice, Local("down"), L"\\d\\f", progress_), 1);
  EXPECT_EQ(device_.reads, (std::vector<size_t>{65536, 65536, 1}));
  EXPECT_EQ(percents_, (std::vector<int>{49, 99, 100}));
  EXPECT_EQ(ReadFile(dir_ + "/down"), std::string(65536 * 2 + 1, 'Z'));
  EXPECT_EQ(device_.open_files, 0);
  EXPECT_EQ(device_.finds_open, 0);
}

TEST_F(FileTransferTest, EmptyMissingAndShortTransfersFail) {
  std::ofstream(dir_ + "/empty", std::ios::binary);
  EXPECT_EQ(FileTransfer(device_, kTransferToDevice, Local("empty"), L"\\e", progress_), 0);
  EXPECT_TRUE(device_.writes.empty());
  EXPECT_TRUE(device_.files.count(L"\\e"));  // created, nothing written

  EXPECT_EQ(FileTransfer(device_, kTransferToDevice, Local("missing"), L"\\m", progress_), 0);
  EXPECT_FALSE(device_.files.count(L"\\m"));
  EXPECT_EQ(FileTransfer(device_, kTransferFromDevice, Local("x"), L"\\none", progress_), 0);
  EXPECT_FALSE(fs::exists(dir_ + "/x"));
  EXPECT_EQ(FileTransfer(device_, 0x20000000, Local("empty"), L"\\e", progress_), 0);
  EXPECT_TRUE(percents_.empty());

  std::ofstream(dir_ + "/big", std::ios::binary) << std::string(100000, 'b');
  device_.write_limit = 1000;  // the device runs out of space
  EXPECT_EQ(FileTransfer(device_, kTransferToDevice, Local("big"), L"\\b", progress_), 0);
  EXPECT_EQ(device_.writes.size(), 1u);
  EXPECT_EQ(percents_, (std::vector<int>{1}));
  EXPECT_EQ(device_.open_files, 0);
}

}  // namespace
