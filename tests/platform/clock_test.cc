// FILETIME conversions against known dates, and the monotonic counters.
#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

struct DateCase {
  int64_t unix_seconds;
  port::SystemTime st;  // year, month, day_of_week, day, hour, minute, second, ms
};

const DateCase kDates[] = {
    {0, {1970, 1, 4, 1, 0, 0, 0, 0}},
    {946684800, {2000, 1, 6, 1, 0, 0, 0, 0}},
    {951782400, {2000, 2, 2, 29, 0, 0, 0, 0}},
    {1709251199, {2024, 2, 4, 29, 23, 59, 59, 0}},
    {-11644473600, {1601, 1, 1, 1, 0, 0, 0, 0}},
    {4102444800, {2100, 1, 5, 1, 0, 0, 0, 0}},
};

TEST(Clock, FileTimeAndSystemTimeAgreeOnKnownDates) {
  for (const DateCase& c : kDates) {
    const uint64_t ft = port::UnixToFileTime(c.unix_seconds, 250'000'000);
    EXPECT_EQ(port::FileTimeToUnix(ft), c.unix_seconds);
    const port::SystemTime st = port::FileTimeToSystemTime(ft);
    EXPECT_EQ(st.year, c.st.year) << c.unix_seconds;
    EXPECT_EQ(st.month, c.st.month) << c.unix_seconds;
    EXPECT_EQ(st.day, c.st.day) << c.unix_seconds;
    EXPECT_EQ(st.day_of_week, c.st.day_of_week) << c.unix_seconds;
    EXPECT_EQ(st.hour, c.st.hour);
    EXPECT_EQ(st.minute, c.st.minute);
    EXPECT_EQ(st.second, c.st.second);
    EXPECT_EQ(st.milliseconds, 250);
    uint64_t back = 0;
    ASSERT_TRUE(port::SystemTimeToFileTime(st, &back));
    EXPECT_EQ(back, ft);
  }
  EXPECT_EQ(port::UnixToFileTime(0), 116444736000000000ull);
  uint32_t rest = 0;
  EXPECT_EQ(port::FileTimeToUnix(116444736000000001ull + 9'999'998, &rest), 0);
  EXPECT_EQ(rest, 9'999'999u);
}

TEST(Clock, SystemTimeOutOfRangeIsRefused) {
  const port::SystemTime bad[] = {{2023, 2, 0, 29, 0, 0, 0, 0},  {1900, 2, 0, 29, 0, 0, 0, 0},
                                  {1600, 12, 0, 31, 0, 0, 0, 0}, {2024, 13, 0, 1, 0, 0, 0, 0},
                                  {2024, 0, 0, 1, 0, 0, 0, 0},   {2024, 4, 0, 31, 0, 0, 0, 0},
                                  {2024, 1, 0, 1, 24, 0, 0, 0},  {2024, 1, 0, 1, 0, 60, 0, 0},
                                  {2024, 1, 0, 1, 0, 0, 60, 0},  {2024, 1, 0, 1, 0, 0, 0, 1000}};
  for (const port::SystemTime& st : bad) {
    uint64_t ft = 42;
    EXPECT_FALSE(port::SystemTimeToFileTime(st, &ft)) << st.year << "-" << st.month;
    EXPECT_EQ(ft, 42u);
  }
}

TEST(Clock, CountersMoveForward) {
  const uint64_t a = port::MonotonicMs();
  const uint64_t now = port::FileTimeNow();
  EXPECT_GE(port::MonotonicMs(), a);
  EXPECT_EQ(static_cast<uint32_t>(port::MonotonicMs() - port::TickCountMs()) <= 1000u, true);
  // After 2020 and before 2100.
  EXPECT_GT(now, port::UnixToFileTime(1577836800));
  EXPECT_LT(now, port::UnixToFileTime(4102444800));
}

}  // namespace
