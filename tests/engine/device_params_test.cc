#include "engine/device_params.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

namespace {

std::unique_ptr<CDeviceParams> MakeStandard() {
  auto p = std::make_unique<CDeviceParams>();
  p->AddStandardSet();
  return p;
}

TEST(DeviceParamsTest, ValuesAreCheckedAgainstRangesAndArguments) {
  auto p_owner = MakeStandard();
  CDeviceParams& p = *p_owner;
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

TEST(DeviceParamsTest, CapsAndAllParams) {
  auto p_owner = MakeStandard();
  CDeviceParams& p = *p_owner;
  VelParamCaps caps;
  ASSERT_EQ(p.GetCaps(3, &caps), 1);
  EXPECT_EQ(caps.kind, kParamEnum);
  EXPECT_EQ(caps.enum_count, 3u);
  EXPECT_EQ(caps.name, "TriggerMode");
  EXPECT_EQ(p.GetCaps(0, &caps), 0);

  p.Set(2, 6, 0);
  std::vector<int32_t> ids;
  std::vector<double> values;
  p.GetAll(&ids, &values);
  ASSERT_EQ(ids.size(), values.size());
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 40}));
  EXPECT_EQ(values[0], 2000);
  EXPECT_EQ(values[1], 6);
}

TEST(DeviceParamsTest, IteratesParamsGroupsAndArguments) {
  auto p_owner = MakeStandard();
  CDeviceParams& p = *p_owner;
  std::vector<int32_t> in_trigger;
  for (int32_t id = p.FirstParam(2); id; id = p.NextParam(2, id)) in_trigger.push_back(id);
  EXPECT_EQ(in_trigger, (std::vector<int32_t>{3, 4, 6}));

  std::vector<int32_t> groups;
  for (int32_t g = p.FirstGroup(); g; g = p.NextGroup(g)) groups.push_back(g);
  EXPECT_EQ(groups, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(p.ParentGroup(2), 1);
  EXPECT_EQ(p.ParentGroup(9), 0);
  VelGroupProperties g;
  ASSERT_EQ(p.GetGroupProperties(1, &g), 1);
  EXPECT_EQ(g.name, "Camera");
  EXPECT_EQ(g.param_count, 2u);

  VelEnumArg arg;
  std::vector<std::string> names;
  for (int ok = p.FirstEnumArg(3, &arg); ok; ok = p.NextEnumArg(3, arg.value, &arg))
    names.push_back(arg.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Free Run", "External", "Software"}));
  EXPECT_EQ(p.FirstEnumArg(1, &arg), 0);  // a range has no arguments

  std::string name;
  EXPECT_EQ(p.GetArgName(3, 2, &name), 1);
  EXPECT_EQ(name, "Software");
  EXPECT_EQ(p.GetArgName(3, 7, &name), 0);
  EXPECT_EQ(p.GetArgValue(3, "external"), 1);
  EXPECT_EQ(p.IsArgSupported(3, 1), 1);
  EXPECT_EQ(p.IsArgSupported(3, 4), 0);
  EXPECT_EQ(p.ClosestArgSupported(3, 1.7), 2);
  EXPECT_EQ(p.ClosestArgSupported(1, 1e9), 100000);
  EXPECT_EQ(p.ClosestArgSupported(1, -4), 10);
}

TEST(DeviceParamsTest, ParamFileRoundTripSkipsBadLines) {
  char tmpl[] = "/tmp/vel_params_XXXXXX";
  const int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  auto a_owner = MakeStandard();
  CDeviceParams& a = *a_owner;
  a.Set(1, 1234.5, 0);
  a.Set(2, 3, 2);
  ASSERT_EQ(a.WriteFile(tmpl), 1);
  std::ofstream(tmpl, std::ios::app) << "3=9\r\nnot a line\r\n[Other]\r\n4=5\r\n";

  auto b_owner = MakeStandard();
  CDeviceParams& b = *b_owner;
  ASSERT_EQ(b.ReadFile(tmpl), 1);
  EXPECT_EQ(b.Get(1, 0), 1234.5);
  EXPECT_EQ(b.Get(2, 2), 3);
  EXPECT_EQ(b.Get(3, 0), 0);  // 9 is not an argument
  EXPECT_EQ(b.Get(4, 0), 0);  // outside the section
  std::remove(tmpl);
  EXPECT_EQ(b.ReadFile("/nonexistent/params.ini"), 0);
}

}  // namespace
