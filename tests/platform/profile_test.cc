#include "platform/profile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/common/temp_dir.h"

namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }

  TempDir tmp_{"vel_profile"};
  const std::string path_ = tmp_.path() + "/settings.ini";
};

TEST_F(ProfileTest, ReadsSectionsAndKeysCaseInsensitively) {
  Write("; comment\r\n[Config]\r\n OEMName = \\Acme\\ \r\nCount=42x\r\n[Other]\r\nOEMName=no\r\n");
  EXPECT_EQ(port::GetProfileString(path_, "config", "oemname", "d"), "\\Acme\\");
  EXPECT_EQ(port::GetProfileString(path_, "Other", "OEMName", "d"), "no");
  EXPECT_EQ(port::GetProfileString(path_, "Config", "Missing", "d"), "d");
  EXPECT_EQ(port::GetProfileString(path_, "Nope", "OEMName", "d"), "d");
  EXPECT_EQ(port::GetProfileInt(path_, "Config", "Count", 7), 42);
  EXPECT_EQ(port::GetProfileInt(path_, "Config", "OEMName", 7), 7);
  EXPECT_EQ(port::GetProfileString("/nonexistent/dir/x.ini", "a", "b", "dflt"), "dflt");
}

TEST_F(ProfileTest, WritingReplacesInsertsAndKeepsOtherLines) {
  Write("; keep me\n[A]\nx=1\n\n[B]\ny=2\n");
  ASSERT_TRUE(port::WriteProfileString(path_, "a", "X", "10"));  // replace, case-insensitive
  ASSERT_TRUE(port::WriteProfileString(path_, "A", "z", "3"));   // insert into existing section
  ASSERT_TRUE(port::WriteProfileString(path_, "C", "w", "4"));   // new section at the end
  EXPECT_EQ(ReadFile(path_), "; keep me\r\n[A]\r\nX=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
  EXPECT_EQ(port::GetProfileString(path_, "A", "x", ""), "10");
  EXPECT_EQ(port::GetProfileString(path_, "B", "y", ""), "2");
}

TEST_F(ProfileTest, WritingCreatesTheFile) {
  ASSERT_TRUE(
      port::WriteProfileString(path_, "Software\\Acme\\User Settings\\host", "ExpressMode", "1"));
  EXPECT_EQ(port::GetProfileInt(path_, "Software\\Acme\\User Settings\\host", "ExpressMode", 0), 1);
  EXPECT_FALSE(port::WriteProfileString("/nonexistent/dir/x.ini", "a", "b", "c"));
}

}  // namespace
