// Formatting one number with a format that comes from data: accepted shapes and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

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

// FormatFixed must print exactly what printf prints: random values over many magnitudes, values
// at and next to rounding midpoints (x.xxx5 is rarely exact in binary, so both neighbours), and
// the ones printf treats specially.
TEST(Format, FormatFixedMatchesPrintf) {
  std::vector<double> values = {0.0,      -0.0,    0.0005,   -0.0005,  0.0625,    2.5,
                                1e-320,   1e15,    4.5e15,   1e300,    -1e300,    0.9995,
                                999.9995, 1.0 / 3, -2.0 / 3, INFINITY, -INFINITY, NAN};
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const double magnitude = std::pow(10.0, static_cast<int>(random() % 24) - 8);
    const double v = std::uniform_real_distribution<double>(-1, 1)(random) * magnitude;
    values.push_back(v);
    const double midpoint = (std::round(v * 1000) + 0.5) / 1000;
    values.push_back(midpoint);
    values.push_back(std::nextafter(midpoint, 0.0));
    values.push_back(std::nextafter(midpoint, 1e300));
  }
  for (double v : values) {
    for (int decimals : {0, 1, 3, 6, 9}) {
      char expected[512];
      std::snprintf(expected, sizeof(expected), "%.*f", decimals, v);
      char text[port::kFixedTextMax];
      const std::string got(text, port::FormatFixed(v, decimals, text));
      ASSERT_EQ(got, expected) << "value " << v << " with " << decimals << " decimals";
    }
  }
}
