// The binary operators: numbers, texts and their mixtures.
#include <cstdio>
#include <cstring>
#include <string>

#include "cond/cond_internal.h"

namespace cond {

void StoreProducedText(OZK_EQ_RESULT* result, OZK_COND_TERM* term, std::string_view text) {
  const size_t len = std::min(text.size(), static_cast<size_t>(kEqTextSize - 1));
  // The source may itself live in the text field or the pool: memmove, then copy from the field.
  std::memmove(result->text, text.data(), len);
  result->text[len] = '\0';
  if (len + 1 > kEqPoolSize - std::min<uint32_t>(result->pool_used, kEqPoolSize)) {
    result->pool_used = 0;
  }
  char* copy = result->pool + result->pool_used;
  std::memcpy(copy, result->text, len + 1);
  result->pool_used += static_cast<uint32_t>(len + 1);
  term->type = OP_TEXT;
  term->text = copy;
  term->variable = nullptr;
}

namespace {

// Joins a and b into the result's storage and makes term point at the joined text.
void Concatenate(OZK_EQ_RESULT* result, OZK_COND_TERM* term, std::string_view a,
                 std::string_view b) {
  char joined[kEqTextSize];
  const size_t na = std::min(a.size(), sizeof(joined) - 1);
  const size_t nb = std::min(b.size(), sizeof(joined) - 1 - na);
  std::memcpy(joined, a.data(), na);
  std::memcpy(joined + na, b.data(), nb);
  StoreProducedText(result, term, std::string_view(joined, na + nb));
}

double CompareTexts(OZK_OP_TYPE code, const char* a, const char* b) {
  const int c = std::strcmp(a, b);
  switch (code) {
    case OP_EQ:
      return c == 0;
    case OP_NE:
      return c == 0 ? 0 : (c < 0 ? -1 : 1);
    case OP_GT:
      return c > 0;
    case OP_GE:
      return c >= 0;
    case OP_LT:
      return c < 0;
    default:
      return c <= 0;  // OP_LE
  }
}

}  // namespace

void ApplyOperator(OZK_COND_TERM* left, OZK_OP_TYPE code, const OZK_COND_TERM& right,
                   OZK_EQ_RESULT* result) {
  const bool left_text = left->type == OP_TEXT;
  const bool right_text = right.type == OP_TEXT;
  const double a = left->value;
  const double b = right.value;
  double v = 0;
  switch (code) {
    case OP_EQ:
      if (left_text && right_text) {
        v = CompareTexts(code, TermText(*left), TermText(right));
      } else {
        v = (left_text || right_text) ? 0 : NumericOperator(code, a, b);
      }
      break;
    case OP_NE:
      if (left_text && right_text) {
        v = CompareTexts(code, TermText(*left), TermText(right));
      } else if (left_text || right_text) {
        const OZK_COND_TERM& text = left_text ? *left : right;
        const double number = left_text ? b : a;
        v = (TermText(text)[0] == '\0' && number == 0) ? 0 : 1;
      } else {
        v = NumericOperator(code, a, b);
      }
      break;
    case OP_GT:
    case OP_GE:
    case OP_LT:
    case OP_LE:
      if (left_text && right_text) {
        v = CompareTexts(code, TermText(*left), TermText(right));
      } else {
        v = NumericOperator(code, a, b);
      }
      break;
    case OP_ADD:
      if (result && left_text && right_text) {
        Concatenate(result, left, TermText(*left), TermText(right));
        return;
      }
      if (result && left_text) {
        Concatenate(result, left, TermText(*left), std::to_string(ToInt64(b)));
        return;
      }
      v = a + b;
      break;
    default:
      if (!IsBinaryOperator(code)) return;
      v = NumericOperator(code, a, b);
      break;
  }
  SetNumber(left, v);
}

}  // namespace cond
