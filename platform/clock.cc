#include "platform/clock.h"

#include <chrono>

namespace port {
namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian), after H. Hinnant's algorithm.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

}  // namespace

uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t TickCountMs() {
  return static_cast<uint32_t>(MonotonicMs());
}

uint64_t UnixToFileTime(int64_t unix_seconds, uint32_t nanoseconds) {
  return static_cast<uint64_t>(unix_seconds + static_cast<int64_t>(kFileTimeUnixEpochSeconds)) *
             kFileTimeTicksPerSecond +
         nanoseconds / 100;
}

int64_t FileTimeToUnix(uint64_t file_time, uint32_t* remainder_ticks) {
  if (remainder_ticks)
    *remainder_ticks = static_cast<uint32_t>(file_time % kFileTimeTicksPerSecond);
  return static_cast<int64_t>(file_time / kFileTimeTicksPerSecond) -
         static_cast<int64_t>(kFileTimeUnixEpochSeconds);
}

uint64_t FileTimeNow() {
  using namespace std::chrono;
  const auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return UnixToFileTime(ns / 1'000'000'000, static_cast<uint32_t>(ns % 1'000'000'000));
}

SystemTime FileTimeToSystemTime(uint64_t file_time) {
  uint32_t ticks = 0;
  const int64_t secs = FileTimeToUnix(file_time, &ticks);
  int64_t days = secs / 86400;
  int64_t rem = secs % 86400;
  if (rem < 0) rem += 86400, --days;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  SystemTime st{};
  st.year = static_cast<uint16_t>(y);
  st.month = static_cast<uint16_t>(m);
  st.day = static_cast<uint16_t>(d);
  st.day_of_week = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  st.hour = static_cast<uint16_t>(rem / 3600);
  st.minute = static_cast<uint16_t>(rem / 60 % 60);
  st.second = static_cast<uint16_t>(rem % 60);
  st.milliseconds = static_cast<uint16_t>(ticks / 10'000);
  return st;
}

bool SystemTimeToFileTime(const SystemTime& st, uint64_t* file_time) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.year < 1601 || st.year > 30827 || st.month < 1 || st.month > 12 || st.day < 1 ||
      st.hour > 23 || st.minute > 59 || st.second > 59 || st.milliseconds > 999) {
    return false;
  }
  const unsigned month_days = kDays[st.month - 1] + (st.month == 2 && IsLeap(st.year) ? 1 : 0);
  if (st.day > month_days) return false;
  const int64_t days = DaysFromCivil(st.year, st.month, st.day);
  const int64_t secs = days * 86400 + st.hour * 3600 + st.minute * 60 + st.second;
  *file_time = UnixToFileTime(secs) + static_cast<uint64_t>(st.milliseconds) * 10'000;
  return true;
}

}  // namespace port
