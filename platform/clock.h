// Clocks: a monotonic millisecond counter and FILETIME-style wall-clock time.
//
// FILETIME counts 100-nanosecond intervals since 1601-01-01 00:00 UTC; it is the time stamp
// format of the appliance's files and of the server clock update.
#pragma once

#include <cstdint>
#include <ctime>

namespace port {

// Milliseconds from an arbitrary start; wraps at 2^32 like the tick counter of the original
// appliance, so compare with unsigned subtraction.
uint32_t TickCountMs();

// Monotonic milliseconds, 64-bit (never wraps).
uint64_t MonotonicMs();

constexpr uint64_t kFileTimeTicksPerSecond = 10'000'000;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpochSeconds = 11'644'473'600;

uint64_t FileTimeNow();
uint64_t UnixToFileTime(int64_t unix_seconds, uint32_t nanoseconds = 0);
// Whole seconds since 1970 (floor), with the remainder in 100-ns ticks when asked.
int64_t FileTimeToUnix(uint64_t file_time, uint32_t* remainder_ticks = nullptr);

// Broken-down calendar time, as the appliance's SYSTEMTIME record carries it.
struct SystemTime {
  uint16_t year, month, day_of_week, day, hour, minute, second, milliseconds;
};
SystemTime FileTimeToSystemTime(uint64_t file_time);  // UTC
// Returns false for fields out of range.
bool SystemTimeToFileTime(const SystemTime& st, uint64_t* file_time);  // UTC

}  // namespace port
