// The records of measurement variables that travel as data values between client and server:
// properties (MEASVARPROPS), statistics (OZK_MEAS_VAR_STAT_RECORD) and attributes
// (OZK_MEAS_VAR_ATTR). Each is a fixed little-endian byte layout, identical in memory; a record
// is read from a data value only when the value holds at least the whole record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

constexpr size_t kMeasNameSize = 128;
constexpr int32_t kMeasKindText = 2;  // any other kind is numeric

// The five tolerances, in the order they are shown and stored.
enum MeasTolerance : int {
  kMinRecycle = 0,
  kMinPass = 1,
  kPerfect = 2,
  kMaxPass = 3,
  kMaxRecycle = 4,
};

struct MEASVARPROPS {
  char name[kMeasNameSize];
  int32_t kind;
  int32_t reserved;
  double tolerance[5];           // indexed by MeasTolerance
  char expected[kMeasNameSize];  // a text variable's expected text
};
static_assert(offsetof(MEASVARPROPS, kind) == 128);
static_assert(offsetof(MEASVARPROPS, tolerance) == 136);
static_assert(offsetof(MEASVARPROPS, expected) == 176);
static_assert(sizeof(MEASVARPROPS) == 304);

constexpr int kMeasRecentValues = 2048;

struct OZK_MEAS_VAR_STAT_RECORD {
  double min;
  double max;
  double mean;
  double reserved1;
  double sum_squares;
  int32_t count;
  int32_t reserved2;
  uint32_t sample_period_ms;
  float recent[kMeasRecentValues];  // oldest first
  int32_t recent_count;
  uint8_t reserved3[24];
};
static_assert(offsetof(OZK_MEAS_VAR_STAT_RECORD, sum_squares) == 32);
static_assert(offsetof(OZK_MEAS_VAR_STAT_RECORD, count) == 40);
static_assert(offsetof(OZK_MEAS_VAR_STAT_RECORD, sample_period_ms) == 48);
static_assert(offsetof(OZK_MEAS_VAR_STAT_RECORD, recent) == 52);
static_assert(offsetof(OZK_MEAS_VAR_STAT_RECORD, recent_count) == 8244);
static_assert(sizeof(OZK_MEAS_VAR_STAT_RECORD) == 8272);

struct OZK_MEAS_VAR_ATTR {
  int32_t tool_type;
  uint8_t reserved[8];
};
static_assert(sizeof(OZK_MEAS_VAR_ATTR) == 12);

// The tool type's name as reports show it: empty for codes without a name and outside 0 to 25.
const char* MeasToolTypeName(int code);

// Record <-> data value bytes.
template <typename Record>
std::span<const uint8_t> RecordBytes(const Record& r) {
  static_assert(std::is_trivially_copyable_v<Record>);
  return {reinterpret_cast<const uint8_t*>(&r), sizeof r};
}
// Copies the record from bytes when they hold at least a whole one; false leaves *r as it was.
template <typename Record>
bool RecordFromBytes(std::span<const uint8_t> bytes, Record* r) {
  static_assert(std::is_trivially_copyable_v<Record>);
  if (!r || bytes.size() < sizeof(Record)) return false;
  std::memcpy(r, bytes.data(), sizeof(Record));
  return true;
}
