#include "engine/device_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/common/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class DeviceFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { files_ = std::make_unique<CDeviceFiles>(base_ + "/root"); }

  void Put(const std::string& rel, const std::string& text) {
    fs::create_directories(fs::path(files_->Root() + "/" + rel).parent_path());
    std::ofstream(files_->Root() + "/" + rel, std::ios::binary) << text;
  }

  TempDir tmp_{"vel_devfiles"};
  const std::string& base_ = tmp_.path();
  std::unique_ptr<CDeviceFiles> files_;
};

TEST_F(DeviceFilesTest, MapsDevicePathsIntoTheSandboxAndRefusesEscapes) {
  const std::string root = files_->Root();
  struct Case {
    const wchar_t* device;
    const char* host;  // nullptr: refused
  } cases[] = {
      {L"\\Storage Card\\solution01.bin", "/Storage Card/solution01.bin"},
      {L"C:\\QRV\\a.txt", "/QRV/a.txt"},
      {L"/x/./y//z", "/x/y/z"},
      {L"\\a\\b\\..\\c", "/a/c"},
      {L"\\", ""},
      {L"\\..\\etc\\passwd", nullptr},
      {L"\\a\\..\\..\\x", nullptr},
      {L"a:b", nullptr},
      {L"\\x\\C:\\y", nullptr},
      {L"", nullptr},
  };
  for (const auto& c : cases) {
    const auto mapped = files_->MapPath(c.device);
    if (c.host == nullptr) {
      EXPECT_FALSE(mapped.has_value()) << *mapped;
    } else {
      ASSERT_TRUE(mapped.has_value());
      EXPECT_EQ(*mapped, root + c.host);
    }
  }
}

TEST_F(DeviceFilesTest, SymbolicLinkOutOfTheSandboxIsRefused) {
  fs::create_directories(base_ + "/outside");
  std::ofstream(base_ + "/outside/secret") << "x";
  fs::create_directory_symlink(base_ + "/outside", files_->Root() + "/link");
  EXPECT_FALSE(files_->MapPath(L"\\link\\secret").has_value());
  EXPECT_EQ(files_->Open(L"\\link\\secret", L"rb"), 0u);
  EXPECT_EQ(files_->Open(L"\\..\\outside\\secret", L"rb"), 0u);
}

TEST_F(DeviceFilesTest, WriteSeekReadRoundTrip) {
  const uint64_t w = files_->Open(L"\\data.bin", L"wb");
  ASSERT_NE(w, 0u);
  const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(files_->Write(bytes, w), 8u);
  EXPECT_EQ(files_->Close(w), 1);
  EXPECT_EQ(files_->Close(w), 0);  // closed handles are gone

  const uint64_t r = files_->Open(L"\\DATA.bin", L"rb");
  EXPECT_EQ(r, 0u);  // the host file system keeps case
  const uint64_t h = files_->Open(L"\\data.bin", L"rb");
  ASSERT_NE(h, 0u);
  EXPECT_EQ(files_->Seek(h, 3, 0), 1);
  EXPECT_EQ(files_->Read(3, h), (std::vector<uint8_t>{4, 5, 6}));
  EXPECT_EQ(files_->Seek(h, -1, 2), 1);
  EXPECT_EQ(files_->Read(100, h), (std::vector<uint8_t>{8}));
  EXPECT_TRUE(files_->Read(100, h).empty());
  EXPECT_EQ(files_->Seek(h, 0, 7), 0);     // no such origin
  EXPECT_EQ(files_->Write(bytes, h), 0u);  // opened for reading
  EXPECT_EQ(files_->Close(h), 1);
}

TEST_F(DeviceFilesTest, BadHandlesAndModesFail) {
  EXPECT_TRUE(files_->Read(10, 12345).empty());
  EXPECT_EQ(files_->Write(std::vector<uint8_t>{1}, 12345), 0u);
  EXPECT_EQ(files_->Seek(12345, 0, 0), 0);
  EXPECT_EQ(files_->FindClose(77), 0);
  for (const wchar_t* mode : {L"", L"x", L"rw", L"r++", L"wbbbb", L"r%s"})
    EXPECT_EQ(files_->Open(L"\\f", mode), 0u) << mode;
  EXPECT_EQ(files_->Open(L"\\missing", L"rb"), 0u);
  EXPECT_EQ(files_->Open(L"\\", L"rb"), 0u);  // a folder is not a file
}

TEST_F(DeviceFilesTest, ReadIsCappedByTheDevice) {
  Put("big", std::string(CDeviceFiles::kMaxReadSize + 10, 'a'));
  const uint64_t h = files_->Open(L"\\big", L"rb");
  EXPECT_EQ(files_->Read(0xFFFFFFFF, h).size(), CDeviceFiles::kMaxReadSize);
  EXPECT_EQ(files_->Read(0xFFFFFFFF, h).size(), 10u);
}

TEST_F(DeviceFilesTest, FindMatchesWildcardsCaseInsensitivelyInNameOrder) {
  VelFindData d;
  ASSERT_NE(files_->FindFirst(L"\\Storage Card", &d), -1) << "a fresh device has its card";
  EXPECT_EQ(d.attributes, kFileAttributeDirectory);

  Put("Storage Card/solution02.bin", "22");
  Put("Storage Card/Solution01.BIN", "1");
  Put("Storage Card/notes.txt", "t");
  ASSERT_EQ(files_->CreateDirectory(L"\\Storage Card\\sub"), 1);

  const int32_t h = files_->FindFirst(L"\\Storage Card\\solution*.bin", &d);
  ASSERT_NE(h, -1);
  EXPECT_EQ(d.name, L"Solution01.BIN");
  EXPECT_EQ(d.size, 1u);
  EXPECT_EQ(d.attributes, kFileAttributeArchive);
  EXPECT_GT(d.last_write_time, 116444736000000000u);  // after 1970
  ASSERT_EQ(files_->FindNext(h, &d), 1);
  EXPECT_EQ(d.name, L"solution02.bin");
  EXPECT_EQ(d.size, 2u);
  EXPECT_EQ(files_->FindNext(h, &d), 0);
  EXPECT_EQ(files_->FindClose(h), 1);

  int count = 0;
  const int32_t all = files_->FindFirst(L"\\Storage Card\\*.*", &d);
  for (int more = all != -1; more; more = files_->FindNext(all, &d)) ++count;
  EXPECT_EQ(count, 4);
  files_->FindClose(all);

  ASSERT_NE(files_->FindFirst(L"\\Storage Card\\sub", &d), -1);
  EXPECT_EQ(d.attributes, kFileAttributeDirectory);
  EXPECT_EQ(files_->FindFirst(L"\\Storage Card\\*.jpg", &d), -1);
  EXPECT_EQ(files_->FindFirst(L"\\nowhere\\*", &d), -1);
  EXPECT_EQ(files_->FindFirst(L"\\..\\*", &d), -1);
}

TEST_F(DeviceFilesTest, RemoveMoveAndDirectories) {
  EXPECT_EQ(files_->CreateDirectory(L"\\d"), 1);
  EXPECT_EQ(files_->CreateDirectory(L"\\d"), 0);     // exists
  EXPECT_EQ(files_->CreateDirectory(L"\\x\\y"), 0);  // parent missing
  Put("d/a", "a");
  EXPECT_EQ(files_->RemoveDirectory(L"\\d"), 0);  // not empty
  EXPECT_EQ(files_->Move(L"\\d\\a", L"\\b"), 1);
  EXPECT_TRUE(fs::exists(files_->Root() + "/b"));
  EXPECT_EQ(files_->Move(L"\\b", L"\\..\\b"), 0);
  EXPECT_EQ(files_->Move(L"\\", L"\\z"), 0);
  EXPECT_EQ(files_->RemoveDirectory(L"\\d"), 1);
  EXPECT_EQ(files_->RemoveDirectory(L"\\"), 0);
  EXPECT_EQ(files_->Remove(L"\\b"), 1);
  EXPECT_EQ(files_->Remove(L"\\b"), 0);
  EXPECT_TRUE(fs::exists(files_->Root()));
}

TEST_F(DeviceFilesTest, HandleTableHasALimit) {
  Put("f", "x");
  std::vector<uint64_t> open;
  for (size_t i = 0; i < CDeviceFiles::kMaxHandles; ++i)
    open.push_back(files_->Open(L"\\f", L"rb"));
  for (uint64_t h : open) EXPECT_NE(h, 0u);
  EXPECT_EQ(files_->Open(L"\\f", L"rb"), 0u);
  VelFindData d;
  EXPECT_EQ(files_->FindFirst(L"\\f", &d), -1);
  files_->Close(open.back());
  EXPECT_NE(files_->Open(L"\\f", L"rb"), 0u);
}

}  // namespace
