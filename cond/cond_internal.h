// Helpers shared by the parser and evaluator files of this folder (not a public interface).
#pragma once

#include <cmath>
#include <cstdint>
#include <string_view>

#include "cond/cond_output.h"
#include "cond/cond_types.h"

class CtVar;

namespace cond {

// A double truncated toward zero to a 64-bit integer, saturating; NaN gives 0.
inline int64_t ToInt64(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return INT64_C(9200000000000000000);
  if (v <= -9.2e18) return -INT64_C(9200000000000000000);
  return static_cast<int64_t>(v);
}

// Truncated and clamped to 32 bits, as "%d" indexes are.
inline int32_t ToInt32(double v) {
  const int64_t n = ToInt64(v);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

// Truth of AND and OR: the low 32 bits of the integer part.
inline bool LogicalTruth(double v) {
  return static_cast<uint32_t>(ToInt64(v)) != 0;
}

// The cache slot of a line: the sum of its bytes modulo the table size.
inline int CacheSlot(const char* text) {
  unsigned sum = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) sum += *p;
  return static_cast<int>(sum % kCondCacheSlots);
}

inline const char* TermText(const OZK_COND_TERM& t) {
  return t.text ? t.text : "";
}

// The text of a text node (or of a text destination register), terminated within the node's
// buffer; an unterminated buffer reads as empty.
std::string_view NodeText(CtVar& var);

// Writes text into result's text field (cut to kEqTextSize - 1 bytes) and into its pool, and
// makes term a text term pointing at the pool copy.
void StoreProducedText(OZK_EQ_RESULT* result, OZK_COND_TERM* term, std::string_view text);

// Applies a binary operator to left and right; the value (or produced text) goes into left.
void ApplyOperator(OZK_COND_TERM* left, OZK_OP_TYPE code, const OZK_COND_TERM& right,
                   OZK_EQ_RESULT* result);

inline void SetNumber(OZK_COND_TERM* t, double v) {
  t->type = OP_NUMBER;
  t->value = v;
  t->text = nullptr;
  t->variable = nullptr;
}

}  // namespace cond
