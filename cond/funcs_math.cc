// Functions of numbers: mathematics, conversions and bits.
#include <charconv>
#include <cmath>
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "cond/op_table.h"
#include "platform/clock.h"

namespace {

// The leading decimal number of a text (blanks skipped, optional sign); 0 when there is none.
double LeadingNumber(const char* s, bool fractional) {
  while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v') ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  double v = 0;
  if (fractional) {
    const char* end = s;
    while ((*end >= '0' && *end <= '9') || *end == '.' || *end == 'e' || *end == 'E' ||
           ((*end == '+' || *end == '-') && (end[-1] == 'e' || end[-1] == 'E'))) {
      ++end;
    }
    if (std::from_chars(s, end, v, std::chars_format::general).ec != std::errc()) v = 0;
  } else {
    for (; *s >= '0' && *s <= '9'; ++s) v = v * 10 + (*s - '0');
  }
  return negative ? -v : v;
}

}  // namespace

bool CCondOutput::MathFunction(OZK_COND_TERM* out, OZK_OP_TYPE code,
                               std::span<const OZK_COND_TERM> args, OZK_EQ_RESULT* result) {
  const double x = args.size() > 0 ? args[0].value : 0;
  const double y = args.size() > 1 ? args[1].value : 0;
  const bool x_text = args.size() > 0 && args[0].type == OP_TEXT;
  double v = 0;
  if (code == FN_INT) {
    // An assignment of int(...) always stores a number.
    if (result) result->text[0] = '\0';
  }
  if (x_text && (code == FN_INT || code == FN_FLOAT)) {
    v = LeadingNumber(cond::TermText(args[0]), code == FN_FLOAT);
  } else if (code == FN_TIMEMILLISEC) {
    v = port::TickCountMs();
  } else if (code != FN_LOGSTART && !cond::NumericFunction(code, x, y, &v)) {
    return false;
  }
  cond::SetNumber(out, v);
  return true;
}
