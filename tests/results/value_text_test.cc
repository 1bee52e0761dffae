// What the client makes of measurement variables without asking the server: the value text and
// colour of a variable, and the standard deviation; and that a client without a server answers
// every getter with 0 and leaves the caller's records alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "link/vel_app_client.h"
#include "vartree/tvar.h"

namespace {

constexpr int kRed = 255, kGreen = 32768, kOrange = 33023;

class ValueTextTest : public ::testing::Test {
 protected:
  CtVar& Var(const char* path) { return root_[path]; }
  std::pair<std::string, int> Text(CtVar& v) {
    std::string text = "stale";
    const int colour = client_.GetVarValueStr(&v, &text, 0);
    return {text, colour};
  }
  CtVar root_;
  CVelAppClient client_;
};

TEST_F(ValueTextTest, NumbersTextsAndResults) {
  struct Case {
    const char* path;
    double number;
    const char* text_value;  // non-null: a text variable
    const char* format;
    const wchar_t* units;
    const char* want;
  };
  const Case cases[] = {
      {"A.Width", 3.14159, nullptr, "%5.1f", nullptr, " =   3.1"},
      {"A.Count", 7.9, nullptr, "%d", nullptr, " = 7"},
      {"A.Plain", 2.5, nullptr, "", L"mm", " = 2.5 mm"},
      {"A.Formatted", 20.1, nullptr, "%5.2f", L"mm", " = 20.10 mm"},
      {"A.Lines", 0, "first\nsecond", "", L"mm", " = first second"},
      {"R1.result", 2, nullptr, "", L"mm", " = Recycled"},
      {"R2.RESULT", 1, nullptr, "", nullptr, " = Passed"},
      {"R3.Result", 0, nullptr, "", nullptr, " = Undefined"},
      {"B.Result", 4, nullptr, "", nullptr, ""},
      {"B.Result2", 1e300, nullptr, "", nullptr, " = 1e+300"},
  };
  for (const Case& c : cases) {
    CtVar& v = Var(c.path);
    if (c.text_value) {
      v = c.text_value;
    } else {
      v = c.number;
    }
    v.SetFormat(c.format);
    v.SetUnits(c.units);
    EXPECT_EQ(Text(v).first, c.want) << c.path;
  }
  EXPECT_EQ(Text(Var("R1.result")).second, kOrange);
  EXPECT_EQ(Text(Var("R2.RESULT")).second, kGreen);
}

TEST_F(ValueTextTest, ResultChildDecidesColourAndUnknownValues) {
  CtVar& width = Var("M.Width");
  width = 20.1;
  CtVar& result = width["Result"];
  result = 2.0;
  // Colour only: the child's number chooses the colour.
  EXPECT_EQ(client_.GetVarValueStr(&width, nullptr, 1), kOrange);
  result = 1.0;
  EXPECT_EQ(client_.GetVarValueStr(&width, nullptr, 1), kGreen);
  result = 9.0;  // not a result: the variable's own (none: red)
  EXPECT_EQ(client_.GetVarValueStr(&width, nullptr, 1), kRed);
  // No format and no result yet: the value is not shown.
  EXPECT_EQ(Text(width).first, " = ?");
  width.SetResult(VAR_RESULT_PASSED);
  EXPECT_EQ(Text(width), std::make_pair(std::string(" = 20.1"), kGreen));
  // "%z" shows the result in place of the value.
  width.SetFormat("%z");
  result = 3.0;
  EXPECT_EQ(Text(width), std::make_pair(std::string(" = Rejected"), kRed));
}

TEST_F(ValueTextTest, AncestorAwaitingAResultHidesAPlainNumber) {
  CtVar& tool = Var("T.Tool");
  tool.SetOptions(TVAR_OPT_RESULT_VAR);
  CtVar& value = tool["Value"];
  value = 4.0;
  EXPECT_EQ(Text(value).first, " = ?");
  tool.SetResult(VAR_RESULT_RECYCLED);
  EXPECT_EQ(Text(value).first, " = 4");
  EXPECT_EQ(Text(value).second, 0);  // no result of its own, no Result child
  EXPECT_EQ(client_.GetVarValueStr(nullptr, nullptr, 0), 0);
  CtVar& none = Var("T.Empty");
  EXPECT_EQ(Text(none).first, "");
}

TEST(MeasStdDeviation, FromTheRecordsSums) {
  OZK_MEAS_VAR_STAT_RECORD s{};
  EXPECT_EQ(CVelAppClient::GetMeasStdDeviation(nullptr), 0);
  EXPECT_EQ(CVelAppClient::GetMeasStdDeviation(&s), 0);
  const double values[] = {2, 4, 4, 4, 5, 5, 7, 9};
  for (double v : values) {
    s.sum_squares += v * v;
    s.mean += v / 8;
  }
  s.count = 8;
  EXPECT_DOUBLE_EQ(CVelAppClient::GetMeasStdDeviation(&s), 2.0);
  s.count = -1;
  EXPECT_EQ(CVelAppClient::GetMeasStdDeviation(&s), 0);
  // A constant series whose sums round a hair below zero variance.
  OZK_MEAS_VAR_STAT_RECORD c{};
  c.count = 3;
  c.mean = 0.1;
  c.sum_squares = 0.1 * 0.1 * 3 - 1e-18;
  EXPECT_EQ(CVelAppClient::GetMeasStdDeviation(&c), 0);
}

TEST(DisconnectedClient, GettersAnswerZeroAndKeepTheRecords) {
  CVelAppClient client;
  MEASVARPROPS props;
  std::memset(&props, 0x11, sizeof props);
  const MEASVARPROPS before = props;
  EXPECT_EQ(client.GetMeasVarProperties("Width", 0, &props), 0);
  EXPECT_EQ(std::memcmp(&props, &before, sizeof props), 0);
  OZK_MEAS_VAR_STAT_RECORD stats{};
  stats.max = 5;
  EXPECT_EQ(client.GetMeasVarStats("Width", 0, &stats), 0);
  EXPECT_EQ(stats.max, 5);
  OZK_MEAS_VAR_ATTR attr{7, {}};
  EXPECT_EQ(client.GetMeasurementVarAttributes("Width", 0, &attr), 0);
  EXPECT_EQ(attr.tool_type, 7);
  OZK_PROCESS_RESULTS results{};
  results.counts[0] = 3;
  EXPECT_EQ(client.GetResultCount(&results), 0);
  EXPECT_EQ(results.counts[0], 3);
  char name[8] = "keep";
  EXPECT_EQ(client.GetNextMeasVar(0, 0, name, sizeof name), 0);
  EXPECT_STREQ(name, "keep");
  EXPECT_EQ(client.GetRecycleEnable(), 0);
  char buffer[4] = "abc";
  int out = 5;
  EXPECT_EQ(client.CalStart({1, 1, 1, 1, 1}, "t", &out, nullptr, buffer, {}), 0);
  EXPECT_EQ(out, 0);  // an empty reply's value
  EXPECT_STREQ(buffer, "abc");
}

}  // namespace
