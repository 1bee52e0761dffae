// The result record and the measurement records: what a server's data variant turns into, and
// that short, long or mistyped input never reaches past a field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "link/meas_records.h"
#include "link/process_results.h"
#include "netmsg/lum_variant.h"

namespace {

CLumVariant DoublesElement(const double* d, int count) {
  CLumVariant v(LUM_VT_DATA);
  v.AddData(d, static_cast<long>(count * sizeof(double)), true);
  return v;
}

TEST(UnPackResultVar, CountsAreTruncatedTowardZeroWithTheirSignedness) {
  struct Case {
    int index;
    double value;
    int64_t expected;  // as the field's own type reads it
  };
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {0, 7.9, 7},
      {0, -7.9, -7},
      {2, -0.5, 0},
      {3, 3e10, std::numeric_limits<int32_t>::max()},
      {4, -3e10, std::numeric_limits<int32_t>::min()},
      {5, kNaN, 0},
      {1, 4294967295.0, 4294967295LL},  // unsigned: the whole 32-bit range
      {1, 3000000000.7, 3000000000LL},
      {1, -5.0, 0},
      {8, 1e12, 4294967295LL},
      {8, 12.99, 12},
  };
  for (const Case& c : cases) {
    double d[kResultDoubles] = {};
    d[c.index] = c.value;
    OZK_PROCESS_RESULTS r;
    ASSERT_EQ(UnPackResultVar(DoublesElement(d, kResultDoubles), &r), 1);
    const int64_t got = (c.index == 1 || c.index == 8)
                            ? static_cast<int64_t>(static_cast<uint32_t>(r.counts[c.index]))
                            : r.counts[c.index];
    EXPECT_EQ(got, c.expected) << "double " << c.index << " = " << c.value;
  }
}

TEST(UnPackResultVar, ShortAndMissingElementsReadAsZeros) {
  const double d[2] = {5, 6};
  OZK_PROCESS_RESULTS r;
  std::memset(&r, 0x5A, sizeof r);
  ASSERT_EQ(UnPackResultVar(DoublesElement(d, 2), &r), 1);
  EXPECT_EQ(r.counts[0], 5);
  EXPECT_EQ(r.counts[1], 6);
  EXPECT_EQ(r.counts[2], 0);
  EXPECT_EQ(r.values[0], 0.0);
  EXPECT_EQ(r.value4, 0.0);
  EXPECT_EQ(r.block1[0], 0);
  EXPECT_EQ(r.word, 0);
  EXPECT_STREQ(r.text1, "");
  EXPECT_STREQ(r.text3, "");
}

TEST(UnPackResultVar, RefusesWhatIsNotAResultVariantAndLeavesTheRecord) {
  OZK_PROCESS_RESULTS r;
  std::memset(&r, 0x5A, sizeof r);
  const OZK_PROCESS_RESULTS before = r;
  EXPECT_EQ(UnPackResultVar(CLumVariant(), &r), 0);
  EXPECT_EQ(UnPackResultVar(CLumVariant(12), &r), 0);
  EXPECT_EQ(UnPackResultVar(CLumVariant("text"), &r), 0);
  EXPECT_EQ(UnPackResultVar(CLumVariant(LUM_VT_DATA), &r), 0);
  EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
  EXPECT_EQ(UnPackResultVar(CLumVariant(LUM_VT_DATA), nullptr), 0);
}

TEST(UnPackResultVar, LongElementsAreCutToTheirFields) {
  OZK_PROCESS_RESULTS r{};
  CLumVariant v = PackResultVar(r);
  const std::string big(1000, 'x');
  v.SetData(big.data(), static_cast<long>(big.size()), true, 1);  // a block
  v.SetData(big.data(), static_cast<long>(big.size()), true, 4);  // text 1
  v.SetData(big.data(), static_cast<long>(big.size()), true, 7);  // text 3
  ASSERT_EQ(UnPackResultVar(v, &r), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.block1), 32), big.substr(0, 32));
  EXPECT_EQ(r.block2[0], 0);
  EXPECT_EQ(std::string(r.text1), big.substr(0, kResultTextSize - 1));
  EXPECT_EQ(r.text2[0], '\0');
  EXPECT_EQ(std::string(r.text3), big.substr(0, kResultText3Size - 1));
}

TEST(UnPackResultVar, ReadsBackWhatPackResultVarBuilt) {
  OZK_PROCESS_RESULTS r{};
  r.counts[kResultPassed] = 11;
  r.counts[kResultInspected] = static_cast<int32_t>(4000000000u);
  r.counts[kResultRejected] = -3;
  r.values[kResultRateHz] = 19.75;
  r.block3[31] = 0xEE;
  r.value4 = 1.7e9;
  std::strcpy(r.text1, "solution 1");
  std::strcpy(r.text2, "Recycled");
  r.word = -42;
  std::strcpy(r.text3, "Width = 20.10 mm");
  const CLumVariant v = PackResultVar(r);
  EXPECT_EQ(v.GetSize(), kResultElements);
  EXPECT_EQ(v.GetDataSize(0), kResultDoubles * 8);
  OZK_PROCESS_RESULTS back;
  ASSERT_EQ(UnPackResultVar(v, &back), 1);
  EXPECT_EQ(std::memcmp(&r, &back, sizeof r), 0);
}

TEST(MeasRecords, ReadOnlyFromAWholeRecord) {
  MEASVARPROPS props{};
  std::strcpy(props.name, "Width");
  props.tolerance[kMaxRecycle] = 21;
  const auto bytes = RecordBytes(props);
  ASSERT_EQ(bytes.size(), 304u);
  MEASVARPROPS back{};
  EXPECT_FALSE(RecordFromBytes(bytes.first(303), &back));
  EXPECT_STREQ(back.name, "");
  EXPECT_TRUE(RecordFromBytes(bytes, &back));
  EXPECT_STREQ(back.name, "Width");
  EXPECT_EQ(back.tolerance[kMaxRecycle], 21);
}

TEST(MeasRecords, ToolTypeNames) {
  const std::pair<int, const char*> cases[] = {
      {0, ""},     {1, "Edge"},  {3, ""},        {6, "Ruler"}, {12, "Count"}, {13, "Count"},
      {17, "Arc"}, {19, "Rake"}, {25, "PDF417"}, {26, ""},     {27, ""},      {-1, ""},
  };
  for (const auto& [code, name] : cases) EXPECT_STREQ(MeasToolTypeName(code), name) << code;
}

}  // namespace
