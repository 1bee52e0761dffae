// Helpers shared by the parser and evaluator files of this folder (not a public interface).
#pragma once

#include <cmath>
#include <cstdint>
#include <string_view>

#include "cond/cond_output.h"
#include "cond/cond_types.h"
#include "cond/op_table.h"
#include "vartree/tvar.h"

namespace cond {

// A number no other call gives in this process.
uint64_t NewSerial();

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

// The count of a shift: the integer part modulo 64, never negative.
inline int ShiftCount(double v) {
  return static_cast<int>(((ToInt64(v) % 64) + 64) % 64);
}

// A binary operator on two numbers; 0 for a code that is no binary operator. Inline: the numeric
// program of a warm line runs little else.
[[gnu::always_inline]] inline double NumericOperator(OZK_OP_TYPE code, double a, double b) {
  switch (code) {
    case OP_EQ:
      return a == b;
    case OP_NE:
      return !(a == b);
    case OP_GT:
      return a > b;
    case OP_GE:
      return a >= b;
    case OP_LT:
      return a < b;
    case OP_LE:
      return a <= b;
    case OP_ADD:
      return a + b;
    case OP_SUB:
      return a - b;
    case OP_MUL:
      return a * b;
    case OP_DIV:
      return b == 0 ? a : a / b;
    case OP_MOD: {
      const int64_t x = ToInt64(a), y = ToInt64(b);
      return y == 0 ? a : (y == -1 ? 0 : static_cast<double>(x % y));
    }
    case OP_SHL:
      return static_cast<double>(
          static_cast<int64_t>(static_cast<uint64_t>(ToInt64(a)) << ShiftCount(b)));
    case OP_SHR:
      return static_cast<double>(ToInt64(a) >> ShiftCount(b));
    case OP_BITAND:
      return static_cast<double>(ToInt64(a) & ToInt64(b));
    case OP_BITOR:
      return static_cast<double>(ToInt64(a) | ToInt64(b));
    case OP_AND:
      return LogicalTruth(a) && LogicalTruth(b);
    case OP_OR:
      return LogicalTruth(a) || LogicalTruth(b);
    default:
      return 0;
  }
}

// A built-in function of numbers alone (no text, no side effect but int's); false for every other
// code. x and y are the first two arguments (0 when absent). Inline: the warm program calls each
// function through a pointer of its own, with the code folded away.
inline bool NumericFunction(OZK_OP_TYPE code, double x, double y, double* v) {
  switch (code) {
    case FN_SIN:
      *v = std::sin(x);
      return true;
    case FN_COS:
      *v = std::cos(x);
      return true;
    case FN_TAN:
      *v = std::tan(x);
      return true;
    case FN_ASIN:
      *v = std::asin(x);
      return true;
    case FN_ACOS:
      *v = std::acos(x);
      return true;
    case FN_ATAN:
      *v = std::atan(x);
      return true;
    case FN_EXP:
      *v = std::exp(x);
      return true;
    case FN_LOGN:
      *v = std::log(x);
      return true;
    case FN_SQRT:
      *v = std::sqrt(x);
      return true;
    case FN_INT:
      *v = std::trunc(x);
      return true;
    case FN_FLOAT:
      *v = x;
      return true;
    case FN_POW:
      *v = std::pow(x, y);
      return true;
    case FN_ATAN2:
      *v = std::atan2(x, y);
      return true;
    case FN_SETBIT:
      *v = static_cast<double>(
          static_cast<int64_t>(static_cast<uint64_t>(ToInt64(x)) | (uint64_t{1} << ShiftCount(y))));
      return true;
    case FN_CLEARBIT:
      *v = static_cast<double>(static_cast<int64_t>(static_cast<uint64_t>(ToInt64(x)) &
                                                    ~(uint64_t{1} << ShiftCount(y))));
      return true;
    case FN_GETBIT:
      *v = static_cast<double>((static_cast<uint64_t>(ToInt64(x)) >> ShiftCount(y)) & 1);
      return true;
    default:
      return false;
  }
}

// Makes rec's warm program from its recorded steps and the nodes its terms hold now; leaves it
// unready when a step would produce a text or have an effect, a node needs the full read, or a
// computed index is more than one plain variable below app_var (one that names no function of
// functions). Valid while the record's bindings are.
void CompileFastProgram(OZK_CACHED_COND_TERMS* rec, CtVar* app_var, CtVar* functions);

// Whether node's number can be read as held: text, register-attached and mirrored nodes need the
// full read.
[[gnu::always_inline]] inline bool PlainNumber(const CtVar& node) {
  return node.HoldsPlainNumber();
}

// Whether node's text can be read as held.
inline bool TextNode(const CtVar& node) {
  return node.GetStoredType() == OZK_TVAR_STRING && !node.GetRpc();
}

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
