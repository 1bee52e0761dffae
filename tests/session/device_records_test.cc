#include "link/device_records.h"

#include <gtest/gtest.h>

#include <cstring>

#include "link/versions.h"

namespace {

uint32_t WordAt(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

TEST(DeviceRecordsTest, FindRecordHasTheWindowsLayout) {
  VelFindData d;
  d.attributes = kFileAttributeArchive;
  d.creation_time = 0x0102030405060708;
  d.last_write_time = 0x1112131415161718;
  d.size = 0x0000000500000007;
  d.name = L"solution01.bin";
  const auto bytes = EncodeFindRecord(d);
  EXPECT_EQ(WordAt(&bytes[0]), kFileAttributeArchive);
  EXPECT_EQ(WordAt(&bytes[4]), 0x05060708u);  // low word first
  EXPECT_EQ(WordAt(&bytes[8]), 0x01020304u);
  EXPECT_EQ(WordAt(&bytes[20]), 0x15161718u);
  EXPECT_EQ(WordAt(&bytes[28]), 5u);  // size high before size low
  EXPECT_EQ(WordAt(&bytes[32]), 7u);
  EXPECT_EQ(bytes[44], 's');
  EXPECT_EQ(bytes[45], 0);
  EXPECT_EQ(bytes[44 + 2 * 14], 0);

  VelFindData back;
  ASSERT_TRUE(DecodeFindRecord(bytes, &back));
  EXPECT_EQ(back.Words(), d.Words());
  EXPECT_EQ(back.size, d.size);
  EXPECT_EQ(back.name, d.name);
  EXPECT_FALSE(DecodeFindRecord(std::span(bytes.data(), 591), &back));
}

TEST(DeviceRecordsTest, LongAndUnterminatedTextsAreCutToTheirFields) {
  VelFindData d;
  d.name = std::wstring(400, L'x');
  auto bytes = EncodeFindRecord(d);
  VelFindData back;
  ASSERT_TRUE(DecodeFindRecord(bytes, &back));
  EXPECT_EQ(back.name.size(), 259u);
  std::memset(bytes.data() + 44, 'y', bytes.size() - 44);  // no terminator anywhere
  ASSERT_TRUE(DecodeFindRecord(bytes, &back));
  EXPECT_EQ(back.name.size(), 260u);  // the name field, never into the short name

  VelAppAttributes attr{std::string(40, 'L'), "Sol", "2.1", "Zelvin IDR", "logo"};
  auto a = EncodeAppAttributes(attr);
  EXPECT_EQ(a[29], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&a[90])), "Zelvin IDR");
  std::memset(a.data(), 'z', a.size());
  VelAppAttributes out;
  ASSERT_TRUE(DecodeAppAttributes(a, &out));
  EXPECT_EQ(out.library, std::string(30, 'z'));
  EXPECT_EQ(out.logo, std::string(30, 'z'));
}

TEST(DeviceRecordsTest, RecordsAreCutToTheirFieldsAndRefuseWrongSizes) {
  VelGpioAttributes g;
  g.num_inputs = 3;
  g.num_outputs = 1;
  g.first_input = 1;
  g.input_names = {"a", "b", "c"};
  g.output_names = {"o"};
  VelGpioAttributes g2;
  ASSERT_TRUE(DecodeGpioAttributes(EncodeGpioAttributes(g), &g2));
  EXPECT_EQ(g2.input_names, g.input_names);
  EXPECT_EQ(g2.output_names, g.output_names);
  auto huge = EncodeGpioAttributes(g);
  huge[0] = 0xFF;  // 255 inputs claimed: names stop at the field table
  ASSERT_TRUE(DecodeGpioAttributes(huge, &g2));
  EXPECT_EQ(g2.input_names.size(), kGpioMaxLines);

  VelParamCaps p;
  p.id = -4;
  p.min = -1.5;
  p.max = 1e300;
  p.name = "Exposure";
  p.description = std::string(300, 'd');
  VelParamCaps p2;
  ASSERT_TRUE(DecodeParamCaps(EncodeParamCaps(p), &p2));
  EXPECT_EQ(p2.id, -4);
  EXPECT_EQ(p2.min, -1.5);
  EXPECT_EQ(p2.max, 1e300);
  EXPECT_EQ(p2.name, "Exposure");
  EXPECT_EQ(p2.description.size(), 255u);

  // The plain round trips of the smaller records run through the client's tests.
  const std::vector<uint8_t> wrong(10);
  VelGpioConfig c2;
  VelEnumArg e2;
  VelGroupProperties gp2;
  EXPECT_FALSE(DecodeGpioAttributes(wrong, &g2));
  EXPECT_FALSE(DecodeGpioConfig(wrong, &c2));
  EXPECT_FALSE(DecodeParamCaps(wrong, &p2));
  EXPECT_FALSE(DecodeEnumArg(wrong, &e2));
  EXPECT_FALSE(DecodeGroupProperties(wrong, &gp2));
  EXPECT_FALSE(DecodeAppAttributes(wrong, nullptr));
}

TEST(DeviceRecordsTest, LogFileSettingsKeepTheirLayout) {
  VelLogFileAttrib a;
  a.to_file = 1;
  a.fail = 1;
  a.sub_folders = 1;
  a.cameras[7] = -1;
  a.format = 1;
  a.prefix = std::wstring(200, L'\u00e9');  // longer than the field: cut, terminator kept
  const auto bytes = EncodeLogFileAttrib(a);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[12], 1);
  EXPECT_EQ(bytes[16], 1);
  EXPECT_EQ(bytes[60], 0xFF);
  EXPECT_EQ(bytes[64], 1);
  EXPECT_EQ(bytes[68], 0xE9);
  EXPECT_EQ(bytes[290], 0);  // the last unit is the terminator
  VelLogFileAttrib b;
  ASSERT_TRUE(DecodeLogFileAttrib(bytes, &b));
  EXPECT_EQ(b.fail, 1);
  EXPECT_EQ(b.pass, 1);
  EXPECT_EQ(b.cameras[7], -1);
  EXPECT_EQ(b.prefix, std::wstring(111, L'\u00e9'));
  EXPECT_FALSE(DecodeLogFileAttrib(std::span(bytes).first(291), &b));
}

TEST(VersionsTest, ProductVersionsAndVersionedLibraries) {
  EXPECT_EQ(VersionNumber("1.8.0.0"), 1800);
  EXPECT_EQ(VersionNumber("17.5.0"), 1750);
  EXPECT_EQ(VersionNumber(""), kVelUnknownVersion);
  EXPECT_EQ(VersionNumber("1.8b"), kVelUnknownVersion);
  EXPECT_EQ(VersionNumber("9.9.9.9.9.9.9.9.9.9"), kVelUnknownVersion);
  EXPECT_EQ(ClientVersion(), 1800);

  struct Case {
    const char* library;
    int server, client;
    const char* versioned;  // nullptr: none
  } cases[] = {
      {"ZelvinEC.dll", 1800, 1800, "ZelvinEC1800.dll"},
      {"zelvinlc.DLL", 1800, 1900, "zelvinlc1800.dll"},
      {"ZelvinEC.dll", 1798, 1800, nullptr},
      {"ZelvinEC.dll", 1800, 1750, nullptr},
      {"Other.dll", 1800, 1800, nullptr},
      {"ZelvinEC.dll", 12345, 12345, "ZelvinEC12345.dll"},
  };
  for (const auto& c : cases) {
    const auto name = VersionedLibraryName(c.library, c.server, c.client);
    if (c.versioned) {
      ASSERT_TRUE(name.has_value()) << c.library;
      EXPECT_EQ(*name, c.versioned);
    } else {
      EXPECT_FALSE(name.has_value()) << c.library << " " << c.server << " " << c.client;
    }
  }
}

}  // namespace
