#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "netmsg/lum_msg.h"
#include "netmsg/lum_wire.h"

namespace {

// One message holding a variant of every kind.
CLumMsg EveryKind() {
  CLumMsg m(20667);
  m.Add(CLumVariant(-7));
  m.Add(CLumVariant(4000000000u));
  m.Add(CLumVariant(-5L));
  m.Add(CLumVariant(1LL << 40));
  m.Add(CLumVariant(2.5f));
  m.Add(CLumVariant(3.25));
  m.Add(CLumVariant("AppVar.Result"));
  m.Add(CLumVariant(L"wide \u00e9\u4e2d"));
  const uint8_t block[5] = {0, 1, 2, 255, 0};
  m.Add(CLumVariant(block, 5, true));
  CLumVariant texts(LUM_VT_EMPTY);
  texts.SetString("first", 0);
  texts.SetString("second", 1);
  m.Add(texts);
  CLumVariant images(LUM_VT_EMPTY);
  std::vector<uint8_t> pixels(12, 0x5a);
  images.AddImage(pixels.data(), 12, 4, 3, 8, 1);
  images.AddImage(pixels.data(), 6, 3, 2, 8, 2);
  m.Add(images);
  CLumVariant coords(LUM_VT_EMPTY);
  coords.AddCoord(1.5, -2.5);
  coords.AddCoord(100, 200);
  m.Add(coords);
  m.Add(CLumVariant(LUM_VT_EMPTY));
  return m;
}

TEST(LumVariant, ScalarConversions) {
  EXPECT_EQ(static_cast<int>(CLumVariant(-7)), -7);
  EXPECT_DOUBLE_EQ(static_cast<double>(CLumVariant(4000000000u)), 4e9);
  EXPECT_EQ(static_cast<long long>(CLumVariant(1LL << 40)), 1LL << 40);
  EXPECT_EQ(static_cast<int>(CLumVariant(3.9)), 3);
  EXPECT_TRUE(static_cast<bool>(CLumVariant(0.5)));
  EXPECT_FALSE(static_cast<bool>(CLumVariant(0)));
  EXPECT_DOUBLE_EQ(static_cast<double>(CLumVariant("12.5")), 12.5);
  EXPECT_STREQ(static_cast<const char*>(CLumVariant("abc")), "abc");
  EXPECT_STREQ(static_cast<const char*>(CLumVariant(5)), "");
  // A NaN has no integer form.
  EXPECT_EQ(CLumVariant(std::nan("")).GetLongLong(0), 0);
}

TEST(LumVariant, ListsAdoptKindAndRefuseOthers) {
  CLumVariant v(LUM_VT_EMPTY);
  EXPECT_EQ(v.GetSize(), 0);
  EXPECT_EQ(v.SetString("b", 1), 1);
  EXPECT_EQ(v.GetType(), LUM_VT_STRING);
  EXPECT_EQ(v.GetSize(), 2);
  EXPECT_STREQ(v.GetString(0), "");
  EXPECT_STREQ(v.GetString(1), "b");
  EXPECT_STREQ(v.GetString(7), "");
  EXPECT_EQ(v.AddData("x", 1, true), 0);  // a text list takes no data block
  EXPECT_EQ(v.SetString("x", -1), 0);
  EXPECT_EQ(v.GetData(0), nullptr);
  EXPECT_EQ(v.GetImgWidth(0), 0u);
  double x = 9, y = 9;
  EXPECT_EQ(v.GetCoord(&x, &y, 0), 0);
  EXPECT_EQ(CLumVariant(L"w").GetType(), 5);
  EXPECT_EQ(CLumVariant("d", 1, true).GetType(), 8);
  CLumVariant img(LUM_VT_EMPTY);
  img.AddImage("ab", 2, 2, 1, 8, 0);
  EXPECT_EQ(img.GetType(), 9);
}

TEST(LumMsg, GetOutOfRangeIsEmpty) {
  CLumMsg m(1);
  m.Add(CLumVariant(5));
  EXPECT_EQ(m.Size(), 1);
  EXPECT_EQ(static_cast<int>(m.Get(0)), 5);
  EXPECT_EQ(m.Get(1).GetType(), LUM_VT_EMPTY);
  EXPECT_EQ(m.Get(-1).GetSize(), 0);
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
}

TEST(LumWire, EveryKindRoundTrips) {
  const CLumMsg m = EveryKind();
  std::string bytes;
  EncodeLumMsg(m, &bytes);
  CLumMsg back;
  ASSERT_TRUE(DecodeLumMsg(bytes, &back));
  EXPECT_EQ(back, m);
  EXPECT_EQ(back.GetId(), 20667);
  EXPECT_STREQ(back.Get(7).GetWString(0), L"wide \u00e9\u4e2d");
  EXPECT_EQ(back.Get(8).GetDataSize(0), 5);
  EXPECT_EQ(std::memcmp(back.Get(8).GetData(0), "\0\1\2\377\0", 5), 0);
  EXPECT_STREQ(back.Get(9).GetString(1), "second");
  EXPECT_EQ(back.Get(10).GetImgHeight(1), 2u);
  EXPECT_EQ(back.Get(10).GetImgType(1), 2u);
  EXPECT_EQ(back.Get(10).GetImgBuffSize(0), 12);
  double x, y;
  ASSERT_EQ(back.Get(11).GetCoord(&x, &y, 0), 1);
  EXPECT_EQ(x, 1.5);
  EXPECT_EQ(y, -2.5);
}

TEST(LumWire, BytesDecodedInPlaceOutliveTheirFrameAndChangeAlone) {
  // Sizes on both sides of where element bytes stop being copied; texts are copied at any size.
  CLumMsg m(36865);
  for (size_t size : {4095, 4096, 300000}) {
    std::string bytes(size, static_cast<char>('a' + size % 7));
    bytes[size / 3] = '\0';
    m.Add(CLumVariant(bytes.data(), static_cast<long>(size), true));
    CLumVariant image(LUM_VT_IMAGE);
    image.AddImage(bytes.data(), static_cast<long>(size), static_cast<uint32_t>(size), 1, 8, 1);
    m.Add(image);
    CLumVariant text(LUM_VT_STRING);
    text.SetString(bytes.c_str() + size / 3 + 1, 0);
    m.Add(text);
  }
  std::string encoded;
  EncodeLumMsg(m, &encoded);
  auto frame = std::make_shared<char[]>(encoded.size());
  std::memcpy(frame.get(), encoded.data(), encoded.size());
  CLumMsg back;
  ASSERT_TRUE(DecodeLumMsg({frame.get(), encoded.size()}, &back, frame));
  frame.reset();
  EXPECT_TRUE(back == m);
  for (int i = 2; i < m.Size(); i += 3)
    EXPECT_STREQ(back.Get(i).GetString(0), m.Get(i).GetString(0)) << i;

  const CLumMsg copy = back;
  ASSERT_EQ(back.Get(6).SetData("new", 3, true, 0), 1);
  EXPECT_TRUE(copy == m);
  EXPECT_EQ(back.Get(6).GetBytes(0), "new");
}

TEST(LumWire, EveryTruncationIsRefused) {
  std::string bytes;
  EncodeLumMsg(EveryKind(), &bytes);
  for (size_t n = 0; n < bytes.size(); ++n) {
    CLumMsg out;
    EXPECT_FALSE(DecodeLumMsg(std::string_view(bytes).substr(0, n), &out)) << n;
    EXPECT_EQ(out.Size(), 0);
  }
  CLumMsg out;
  EXPECT_FALSE(DecodeLumMsg(bytes + '\0', &out)) << "trailing byte";
}

TEST(LumWire, HostileHeadersAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  auto msg = [](std::string body, uint32_t count) {
    std::string s(4, '\0');
    s.append(reinterpret_cast<const char*>(&count), 4);
    return s + body;
  };
  const std::string huge("\xff\xff\xff\x7f", 4);
  const std::vector<Case> cases = {
      {"unknown type code", msg(std::string(1, '\x0c') + std::string(8, '\0'), 1)},
      {"count beyond bytes", msg("", 1000000)},
      {"text list count beyond bytes", msg("\x03" + huge, 1)},
      {"text length beyond bytes", msg(std::string("\x03\x01\0\0\0", 5) + huge + "ab", 1)},
      {"image length beyond bytes",
       msg(std::string("\x09\x01\0\0\0", 5) + std::string(16, '\0') + huge, 1)},
      {"odd wide units", msg(std::string("\x05\x01\0\0\0\x03\0\0\0", 9) + "abc", 1)},
  };
  for (const Case& c : cases) {
    CLumMsg out;
    EXPECT_FALSE(DecodeLumMsg(c.bytes, &out)) << c.what;
  }
}

}  // namespace
