// Conversions between UTF-8, UTF-16, wide text and the mixed 8-bit form, including bytes that
// are not valid in the source encoding.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

TEST(Text, ValidTextRoundTripsThroughEveryForm) {
  const std::string samples[] = {"",
                                 "plain",
                                 "caf\xC3\xA9",
                                 "\xE4\xB8\x80\xE4\xBA\x8C",
                                 "\xF0\x9F\x98\x80 smile",
                                 std::string("nul\0in", 6)};
  for (const std::string& utf8 : samples) {
    const std::wstring wide = port::Utf8ToWide(utf8);
    EXPECT_EQ(port::WideToUtf8(wide), utf8);
    const std::u16string u16 = port::Utf8ToUtf16(utf8);
    EXPECT_EQ(port::Utf16ToUtf8(u16), utf8);
    EXPECT_EQ(port::Utf16ToWide(u16), wide);
    EXPECT_EQ(port::WideToUtf16(wide), u16);
  }
  EXPECT_EQ(port::Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring(1, wchar_t(0x1F600)));
  EXPECT_EQ(port::Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"a\x80"
       "b",
       L"a\uFFFDb"},                                      // stray continuation byte
      {"\xC3", L"\uFFFD"},                                // truncated at the end
      {"\xE4\xB8", L"\uFFFD\uFFFD"},                      // truncated three-byte form
      {"\xC0\xAF", L"\uFFFD\uFFFD"},                      // overlong
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xFF\xFE", L""},                                  // the mixed mark with nothing after it
  };
  for (const Case& c : cases) EXPECT_EQ(port::MixedToWide(c.utf8), c.wide) << c.utf8.size();
  EXPECT_EQ(port::Utf16ToUtf8(std::u16string{0xD800, u'x'}),
            "\xEF\xBF\xBD"
            "x");
  EXPECT_EQ(port::Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(port::WideToUtf8(std::wstring(1, wchar_t(0x110000))), "\xEF\xBF\xBD");
}

std::string Mixed(const std::string& prefix, const std::u16string& tail) {
  std::string out = prefix + "\xFF\xFE";
  for (char16_t u : tail) out += static_cast<char>(u & 0xFF), out += static_cast<char>(u >> 8);
  return out;
}

TEST(Text, MixedFormKeepsPrefixAndConvertsTail) {
  EXPECT_EQ(port::MixedToUtf8(Mixed("ab", u"\u00E9\u4E00")), "ab\xC3\xA9\xE4\xB8\x80");
  EXPECT_EQ(port::MixedToWide(Mixed("a\xE9", u"\u00E9")), L"a\u00E9\u00E9");  // prefix as bytes
  EXPECT_EQ(port::MixedToWide(Mixed("", u"x\U0001F600")), L"x\U0001F600");
  EXPECT_EQ(port::MixedToUtf8("no mark"), "no mark");
  // The tail ends at a zero unit; an odd last byte is ignored.
  EXPECT_EQ(port::MixedToUtf8(Mixed("p", u"ab") + std::string("\0\0zz", 4)), "pab");
  EXPECT_EQ(port::MixedToUtf8(Mixed("p", u"ab") + "c"), "pab");
  EXPECT_EQ(port::FindMixedMark("ab\xFF\xFE"), 2u);
  EXPECT_EQ(port::FindMixedMark("ab\xFE\xFF"), std::string::npos);
}

TEST(Text, MixedTailIsLimitedToWholeCharacters) {
  struct Case {
    char16_t unit;
    size_t count, expected_bytes;
  };
  // 2-byte characters fill 520 exactly; 3-byte ones stop at 519, leaving the partial one out.
  for (const Case& c : {Case{u'a', 600, 520}, Case{u'\u00E9', 300, 520}, Case{u'\u4E00', 200, 519},
                        Case{u'a', 10, 10}}) {
    const std::string out = port::MixedToUtf8(Mixed("pre", std::u16string(c.count, c.unit)));
    EXPECT_EQ(out.size(), 3 + c.expected_bytes) << int(c.unit);
    EXPECT_EQ(port::Utf8ToWide(out).find(L'\uFFFD'), std::wstring::npos);
  }
}

TEST(Text, MixedTextViewReachesTheZeroUnit) {
  const std::string mixed = Mixed("ab", u"\u0100x") + std::string("\0\0", 2);
  EXPECT_EQ(port::MixedTextView(mixed.c_str()).size(), mixed.size() - 2);
  EXPECT_EQ(port::MixedTextView("plain"), "plain");
  EXPECT_EQ(port::MixedTextView(nullptr), "");
  EXPECT_EQ(port::MixedTextView(std::string("\xFF\xFE\0\0", 4).c_str()).size(), 2u);
}

TEST(Text, CaseInsensitiveComparisonIsAsciiOnly) {
  EXPECT_TRUE(port::EqualsNoCase("AppVar", "appVAR"));
  EXPECT_FALSE(port::EqualsNoCase("\xC3\x89", "\xC3\xA9"));
  EXPECT_FALSE(port::EqualsNoCase("a", "ab"));
  EXPECT_LT(port::CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(port::CompareNoCase("abc", "AB"), 0);
  EXPECT_EQ(port::CompareNoCase("Zz", "zZ"), 0);
}

}  // namespace
