// Formatting one number with a format that comes from data: accepted shapes and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/format.h"

namespace {

TEST(Format, AcceptedFormats) {
  struct Case {
    const char* format;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"%4.2f", 3.14159, "3.14"},
      {"%d", 5.9, "5"},
      {"%d", -5.9, "-5"},
      {"%05.1f", 2.25, "002.2"},
      {"x=%g mm", 0.5, "x=0.5 mm"},
      {"%x", 255, "ff"},
      {"%ld", 7, "7"},
      {"%5.1f%%", 12.34, " 12.3%"},
      {"100%%", 1, "100%"},
      {"text", 1, "text"},
      {"%c", 65, "A"},
      {"%+.3e", 1234.5, "+1.234e+03"},
      {"%d", 1e30, "9200000000000000000"},
      {"%d", NAN, "0"},
      {"%999.999f", -1e308, nullptr},
  };
  for (const Case& c : cases) {
    std::string out = "untouched";
    ASSERT_TRUE(port::FormatNumber(c.format, c.value, &out)) << c.format;
    if (c.expected) {
      EXPECT_EQ(out, c.expected) << c.format;
    } else {
      EXPECT_EQ(out.size(), 1u + 309u + 1u + 999u) << c.format;  // the widest output fits whole
    }
  }
}

TEST(Format, HostileFormatsAreRefused) {
  const char* refused[] = {"%s",     "%n",      "%s%n", "%*d",  "%.*f", "%d%d", "%f %f",
                           "%1234d", "%.1234f", "%",    "abc%", "%q",   "%ls",  "%p"};
  for (const char* f : refused) {
    std::string out = "untouched";
    EXPECT_FALSE(port::FormatNumber(f, 1.0, &out)) << f;
    EXPECT_EQ(out, "untouched") << f;
  }
  // A zero byte ends the format, as it would for printf.
  std::string out;
  ASSERT_TRUE(port::FormatNumber(std::string_view("%d\0%s", 5), 3, &out));
  EXPECT_EQ(out, "3");
}

}  // namespace
