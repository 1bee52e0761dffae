// OZK_PROCESS_RESULTS: the result record a server sends as one data variant (in a results
// message, and as the reply to the result-count request), and the code that owns its layout:
// UnPackResultVar reads the variant into the record, PackResultVar builds the variant from it.
//
// The variant is a list of eight data elements:
//   0: 13 little-endian doubles; 0 to 8 become the nine integers (1 and 8 as unsigned, the others
//      as signed, truncated toward zero and clamped to the field's range, NaN as 0), 9 to 11 the
//      three doubles, 12 the fourth double;
//   1 to 3: the three 32-byte blocks, as sent;
//   4, 5: text 1 and text 2; 6: the integer (its first 4 bytes); 7: text 3.
// A short or missing element reads as zeros; a text longer than its field is cut so that the field
// keeps its terminating zero. The record is a fixed byte layout (natural alignment, little-endian),
// the same in memory and in the files and messages that carry it.
#pragma once

#include <cstddef>
#include <cstdint>

class CLumVariant;

constexpr size_t kResultTextSize = 260;
// Text 3 runs to the end of the record; this record gives it one more text field.
constexpr size_t kResultText3Size = 260;
constexpr int kResultDoubles = 13;
constexpr int kResultElements = 8;

struct OZK_PROCESS_RESULTS {
  int32_t counts[9];  // counts[1] and counts[8] hold unsigned values
  uint8_t align[4];   // the doubles start on an 8-byte boundary
  double values[3];
  uint8_t block1[32];
  uint8_t block2[32];
  uint8_t block3[32];
  double value4;
  char text1[kResultTextSize];
  char text2[kResultTextSize];
  int32_t word;
  char text3[kResultText3Size];
};

static_assert(offsetof(OZK_PROCESS_RESULTS, values) == 40);
static_assert(offsetof(OZK_PROCESS_RESULTS, block1) == 64);
static_assert(offsetof(OZK_PROCESS_RESULTS, block2) == 96);
static_assert(offsetof(OZK_PROCESS_RESULTS, block3) == 128);
static_assert(offsetof(OZK_PROCESS_RESULTS, value4) == 160);
static_assert(offsetof(OZK_PROCESS_RESULTS, text1) == 168);
static_assert(offsetof(OZK_PROCESS_RESULTS, text2) == 428);
static_assert(offsetof(OZK_PROCESS_RESULTS, word) == 688);
static_assert(offsetof(OZK_PROCESS_RESULTS, text3) == 692);
static_assert(sizeof(OZK_PROCESS_RESULTS) == 952);

// What the reference server puts in the record: the counters since the last reset, the result of
// the latest inspection and its image geometry.
enum ResultField : int {
  kResultPassed = 0,
  kResultInspected = 1,  // unsigned
  kResultRecycled = 2,
  kResultRejected = 3,
  kResultLast = 4,  // VAR_RESULT_TYPE of the latest inspection (0: none yet)
  kResultCamera = 5,
  kResultImageWidth = 6,
  kResultImageHeight = 7,
  kResultImageNumber = 8,  // unsigned: the latest image's sequence number
};
enum ResultValue : int {
  kResultInspectMs = 0,  // time the latest inspection took
  kResultRateHz = 1,     // inspections per second, over the recent ones
  kResultUptimeSec = 2,  // seconds since the counters were reset
};
// value4: the latest inspection's time stamp (seconds since the epoch); text1 the solution's
// name, text2 the latest result's name, text3 one "name = value" line per measurement.

// Fills *out from v; 1 when v is a data list with at least element 0, else 0 and *out untouched.
int UnPackResultVar(const CLumVariant& v, OZK_PROCESS_RESULTS* out);
// The data list UnPackResultVar reads back into an equal record.
CLumVariant PackResultVar(const OZK_PROCESS_RESULTS& results);
