#include "dests/gpio_dests.h"

#include <gtest/gtest.h>

#include <string>

#include "dests/app_dests.h"
#include "vartree/tvar.h"

namespace {

std::string ReadBit(CAppDests& dests, CtVar* dest, uint32_t index, int* length) {
  char text[8] = {};
  *length = dests.RecvMessage(dest, std::span<uint8_t>(reinterpret_cast<uint8_t*>(text), 7), 1, 0,
                              index, nullptr);
  return text;
}

TEST(GpioDestsTest, InputsReadTheirBitsFromTheTree) {
  CtVar root;
  root["AppVar.Global.GPI.3"] = 1.0;
  root["AppVar.Global.GPI.4"] = 0.0;
  CAppDests dests(&root, nullptr, 0, 1);
  CtVar* inputs = dests.GetSysDest(SYS_DEST_GPI);
  ASSERT_NE(inputs, nullptr);
  int length = -1;
  EXPECT_EQ(ReadBit(dests, inputs, 3, &length), "1");
  EXPECT_EQ(length, 1);
  EXPECT_EQ(ReadBit(dests, inputs, 4, &length), "0");
  EXPECT_EQ(ReadBit(dests, inputs, 40, &length), "0");  // no such input, and none is made
  EXPECT_EQ(root.GetChild("AppVar.Global.GPI.40"), nullptr);
  EXPECT_DOUBLE_EQ(dests.ReadRegister(std::string(inputs->NameView()).c_str(), 3, nullptr), 1);
  EXPECT_EQ(dests.GetDestDescription(inputs, 0), L"General Purpose Input");

  const uint8_t data[] = {'1'};
  EXPECT_EQ(dests.SendMessageW(inputs, data, 0, 4, nullptr), 1);
  EXPECT_EQ(ReadBit(dests, inputs, 4, &length), "0");  // sending writes nothing
}

TEST(GpioDestsTest, OutputsAnswerFromTheirStatesAndIgnoreSends) {
  CtVar root;
  CAppDests dests(&root, nullptr, 0, 1);
  CtVar* outputs = dests.GetSysDest(SYS_DEST_GPO);
  ASSERT_NE(outputs, nullptr);
  int length = -1;
  EXPECT_EQ(ReadBit(dests, outputs, 0, &length), "0");
  EXPECT_EQ(length, 1);
  EXPECT_EQ(ReadBit(dests, outputs, 47, &length), "0");
  EXPECT_EQ(ReadBit(dests, outputs, 48, &length), "");
  EXPECT_EQ(length, 0);
  const uint8_t data[] = {'1'};
  EXPECT_EQ(dests.SendMessageW(outputs, data, 0, 0, nullptr), 0);
  EXPECT_EQ(ReadBit(dests, outputs, 0, &length), "0");
  EXPECT_EQ(dests.GetDestDescription(outputs, 0), L"General Purpose Output");
}

}  // namespace
