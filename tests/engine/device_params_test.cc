#include "engine/device_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>

#include "tests/common/temp_dir.h"

namespace {

std::unique_ptr<CDeviceParams> MakeStandard() {
  auto p = std::make_unique<CDeviceParams>();
  p->AddStandardSet();
  return p;
}

TEST(DeviceParamsTest, ValuesAreCheckedAgainstRangesAndArguments) {
  auto owner = MakeStandard();
  CDeviceParams& p = *owner;
  struct Case {
    int32_t id;
    double value;
    uint32_t index;
    int ok;
  } cases[] = {
      {1, 5000, 0, 1}, {1, 5, 0, 0},   {1, 100001, 0, 0},   {2, 24, 1, 1},
      {3, 2, 0, 1},    {3, 1.5, 0, 0}, {3, 3, 0, 0},        {99, 1, 0, 0},
      {1, 500, 8, 0},  {1, NAN, 0, 0}, {2, INFINITY, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(p.Set(c.id, c.value, c.index), c.ok) << c.id << " " << c.value;
    if (c.ok) {
      EXPECT_EQ(p.Get(c.id, c.index), c.value);
    }
  }
  EXPECT_EQ(p.Get(1, 1), 2000);  // other indexes keep the default
  EXPECT_EQ(p.Get(99, 0), 0);
  EXPECT_EQ(p.Get(1, 100), 0);
  EXPECT_EQ(p.GetByName("exposure"), 5000);
  EXPECT_EQ(p.GetByName("nope"), 0);
  EXPECT_TRUE(p.Supported(40));
  EXPECT_FALSE(p.Supported(41));
}

// The walk through groups and arguments is exercised through the client; here its edges.
TEST(DeviceParamsTest, GroupsAndArgumentsAtTheirEdges) {
  auto p = MakeStandard();
  EXPECT_EQ(p->ParentGroup(9), 0);
  VelGroupProperties g;
  ASSERT_EQ(p->GetGroupProperties(1, &g), 1);
  EXPECT_EQ(g.param_count, 2u);
  VelEnumArg arg;
  EXPECT_EQ(p->FirstEnumArg(1, &arg), 0);  // a range has no arguments
  std::string name;
  EXPECT_EQ(p->GetArgName(3, 7, &name), 0);
  EXPECT_EQ(p->GetArgValue(3, "external"), 1);
  EXPECT_EQ(p->IsArgSupported(3, 4), 0);
  EXPECT_EQ(p->ClosestArgSupported(1, 1e9), 100000);
  EXPECT_EQ(p->ClosestArgSupported(1, -4), 10);
}

TEST(DeviceParamsTest, ParamFileRoundTripSkipsBadLines) {
  const TempDir tmp("vel_params");
  const std::string file = tmp.path() + "/params.ini";
  auto a = MakeStandard();
  a->Set(1, 1234.5, 0);
  a->Set(2, 3, 2);
  ASSERT_EQ(a->WriteFile(file), 1);
  std::ofstream(file, std::ios::app) << "3=9\r\nnot a line\r\n[Other]\r\n4=5\r\n";

  auto b = MakeStandard();
  ASSERT_EQ(b->ReadFile(file), 1);
  EXPECT_EQ(b->Get(1, 0), 1234.5);
  EXPECT_EQ(b->Get(2, 2), 3);
  EXPECT_EQ(b->Get(3, 0), 0);  // 9 is not an argument
  EXPECT_EQ(b->Get(4, 0), 0);  // outside the section
  EXPECT_EQ(b->ReadFile("/nonexistent/params.ini"), 0);
}

}  // namespace
