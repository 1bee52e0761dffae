#include "link/vel_os.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/clock.h"
#include "tests/common/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Runs in a fresh current folder with its own data folders.
class VelOSTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = fs::current_path();
    fs::create_directories(dir_ + "/cwd");
    fs::current_path(dir_ + "/cwd");
    setenv("XDG_DATA_HOME", (dir_ + "/user").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir_ + "/all").c_str(), 1);
    setenv("VEL_DRIVE_ROOT", (dir_ + "/drives").c_str(), 1);
    CVelOS::ForgetOEMNames();
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    CVelOS::ForgetOEMNames();
  }

  TempDir tmp_{"vel_os"};
  const std::string& dir_ = tmp_.path();
  fs::path old_cwd_;
};

TEST_F(VelOSTest, OemNameComesFromOemIniOnce) {
  EXPECT_EQ(CVelOS::GetOEMName(), L"\\Parvane Korin\\");
  EXPECT_EQ(CVelOS::GetOEMFolderName(L"Dflt"), L"Dflt");
  std::ofstream("oem.ini") << "[Config]\r\nOEMName=\\Acme\\\r\nOEMFolderName=Vision\r\n";
  EXPECT_EQ(CVelOS::GetOEMName(), L"\\Parvane Korin\\");  // held for the process
  CVelOS::ForgetOEMNames();
  EXPECT_EQ(CVelOS::GetOEMNameA(), "\\Acme\\");
  EXPECT_EQ(CVelOS::GetOEMFolderName(L"Dflt"), L"Vision");
}

TEST_F(VelOSTest, AppDataPathPrefersTheUserFolderWhenItExists) {
  const std::wstring all = CVelOS::AppDataPathOnce(L"ZelvinClient", L"Client.ini");
  EXPECT_EQ(all, fs::path(dir_ + "/all/Parvane Korin/ZelvinClient/Client.ini").wstring());
  EXPECT_EQ(CVelOS::AppDataPathOnce(std::string(), std::string("a\\b.txt")),
            dir_ + "/all/Parvane Korin/a/b.txt");
  fs::create_directories(dir_ + "/user/Parvane Korin/ZelvinClient");
  EXPECT_EQ(CVelOS::AppDataPathOnce(std::string("ZelvinClient"), std::string(".\\Client.ini")),
            dir_ + "/user/Parvane Korin/ZelvinClient/Client.ini");
  EXPECT_EQ(CVelOS::AppDataPathOnce(std::string(), std::string("a\\b.txt")),
            dir_ + "/user/Parvane Korin/a/b.txt");
  EXPECT_EQ(CVelOS::AppDataPathOnce(std::string("x"), std::string("C:\\QRV\\h.ini")),
            dir_ + "/drives/c/QRV/h.ini");
  EXPECT_EQ(CVelOS::AppDataPathOnce(std::string("x"), std::string("\\QRV\\h.ini")),
            dir_ + "/drives/c/QRV/h.ini");
}

TEST(VelOSClockTest, ClocksAdvanceInMilliseconds) {
  ASSERT_GT(CVelOS::m_dMilisecPerTick, 0);
  const double a = CVelOS::GetmSecTime();
  const uint64_t s = CVelOS::GetSystimeMillisecs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double elapsed = CVelOS::GetmSecTime() - a;
  EXPECT_GE(elapsed, 19.0);
  EXPECT_LT(elapsed, 2000.0);
  EXPECT_GE(CVelOS::GetSystimeMillisecs() - s, 19u);
  EXPECT_NEAR(static_cast<double>(s), static_cast<double>(port::FileTimeNow() / 10000), 5000);
  const double saved = CVelOS::m_dMilisecPerTick;
  CVelOS::m_dMilisecPerTick = -1;
  EXPECT_EQ(CVelOS::GetmSecTime(), 0);
  CVelOS::m_dMilisecPerTick = saved;
}

}  // namespace
