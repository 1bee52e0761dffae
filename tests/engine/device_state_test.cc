#include <gtest/gtest.h>

#include <fstream>

#include "engine/device_gpio.h"
#include "engine/device_registry.h"
#include "tests/common/temp_dir.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(DeviceRegistryTest, ValuesPersistThroughFlushAndIgnoreCase) {
  const TempDir tmp("vel_state");
  const std::string& dir = tmp.path();
  const std::string file = dir + "/registry.txt";
  {
    CDeviceRegistry reg(file);
    EXPECT_EQ(reg.Write(2, "Software\\Zelvin", "Name", 1, Bytes("cam 1")), 1);
    EXPECT_EQ(reg.Write(2, "Software\\Zelvin", "Empty", 3, {}), 1);
    EXPECT_EQ(reg.Write(1, "software\\zelvin", "name", 4, Bytes("\x2a\0\0\0")), 1);
    EXPECT_EQ(reg.Write(2, "bad\tkey", "n", 1, Bytes("x")), 0);
    EXPECT_EQ(reg.Write(2, "k", "bad\nname", 1, Bytes("x")), 0);
    EXPECT_EQ(reg.Write(2, "k", "big", 3, std::vector<uint8_t>(CDeviceRegistry::kMaxValueSize + 1)),
              0);
    ASSERT_EQ(reg.Flush(), 1);
  }
  CDeviceRegistry reg(file);
  uint32_t type = 0;
  std::vector<uint8_t> value;
  ASSERT_EQ(reg.Read(2, "SOFTWARE\\ZELVIN", "NAME", &type, &value), 1);
  EXPECT_EQ(type, 1u);
  EXPECT_EQ(value, Bytes("cam 1"));
  ASSERT_EQ(reg.Read(2, "Software\\Zelvin", "Empty", &type, &value), 1);
  EXPECT_TRUE(value.empty());
  ASSERT_EQ(reg.Read(1, "Software\\Zelvin", "Name", &type, &value), 1);
  EXPECT_EQ(type, 4u);  // hives are separate
  EXPECT_EQ(reg.Read(3, "Software\\Zelvin", "Name", &type, &value), 0);
}

TEST(DeviceRegistryTest, DamagedLinesAreSkipped) {
  const TempDir tmp("vel_state");
  const std::string& dir = tmp.path();
  const std::string file = dir + "/registry.txt";
  std::ofstream(file) << "2\tk\tgood\t1\t6869\n"
                      << "2\tk\todd\t1\t686\n"
                      << "2\tk\tnothex\t1\tzz\n"
                      << "x\tk\tbadhive\t1\t00\n"
                      << "2\tk\n"
                      << "\n"
                      << "2\tk\tnotype\t\t00\n";
  CDeviceRegistry reg(file);
  uint32_t type;
  std::vector<uint8_t> value;
  EXPECT_EQ(reg.Read(2, "k", "good", &type, &value), 1);
  EXPECT_EQ(value, Bytes("hi"));
  for (const char* name : {"odd", "nothex", "badhive", "notype"})
    EXPECT_EQ(reg.Read(2, "k", name, &type, &value), 0) << name;
}

TEST(DeviceGpioTest, ConfigsAndBitsStayWithinTheDescribedLines) {
  CDeviceGpio gpio(8, 4, 1);
  const VelGpioAttributes attr = gpio.Attributes();
  EXPECT_EQ(attr.num_inputs, 8u);
  EXPECT_EQ(attr.first_output, 1u);
  EXPECT_EQ(attr.output_names.back(), "Output 4");

  VelGpioConfig c;
  EXPECT_EQ(gpio.GetInputConfig(0, &c), 0);
  EXPECT_EQ(gpio.GetInputConfig(9, &c), 0);
  EXPECT_EQ(gpio.SetOutputConfig(5, {5, 1, 1, 10, 20}), 0);
  ASSERT_EQ(gpio.SetInputConfig(8, {99, 2, 1, 15, 0}), 1);
  ASSERT_EQ(gpio.GetInputConfig(8, &c), 1);
  EXPECT_EQ(c.line, 8u);  // the line number cannot be rewritten
  EXPECT_EQ(c.mode, 2u);
  EXPECT_EQ(c.debounce_ms, 15u);

  gpio.SetInputBits(0xFFFF);
  EXPECT_EQ(gpio.InputBits(), 0xFFu);
  EXPECT_EQ(gpio.SetOutputPort(0x3, 1), 0x3u);
  EXPECT_EQ(gpio.SetOutputPort(0xF1, 0), 0x2u);
  EXPECT_EQ(gpio.SetOutputPort(0xFFFFFFFF, 1), 0xFu);

  CDeviceGpio wide(40, 40, 0);
  EXPECT_EQ(wide.Attributes().num_inputs, kGpioMaxLines);
  wide.SetInputBits(0xFFFFFFFF);
  EXPECT_EQ(wide.InputBits(), 0xFFFFFFFFu);
}

}  // namespace
