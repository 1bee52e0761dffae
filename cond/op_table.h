// The fixed tables of the expression language: operator spellings, precedence levels and the
// built-in function names with their codes.
#pragma once

#include <cstddef>
#include <string_view>

#include "cond/cond_types.h"

// Longest operator spelling that prefixes text (case-sensitive); 0 when none. *length receives
// the spelling's length.
OZK_OP_TYPE MatchOperator(std::string_view text, size_t* length);

// Spelling of an operator code, or of a built-in function code; empty for anything else.
std::string_view OpName(OZK_OP_TYPE code);

// Code of a built-in function name (compared ASCII-case-insensitively); 0 when unknown.
OZK_OP_TYPE FindBuiltinFunction(std::string_view name);

// Precedence levels, first applied first: [kPrecedence[i].low, kPrecedence[i].high].
struct CondPrecedenceLevel {
  OZK_OP_TYPE low, high;
};
inline constexpr CondPrecedenceLevel kPrecedence[] = {
    {18, 19}, {9, 11}, {7, 8}, {12, 13}, {3, 6}, {1, 2}, {14, 14}, {15, 15}, {16, 16}, {17, 17},
};
inline constexpr int kPrecedenceLevels = sizeof(kPrecedence) / sizeof(kPrecedence[0]);

// Codes of the functions the library gives a meaning to.
enum : OZK_OP_TYPE {
  FN_SIN = 23,
  FN_COS = 24,
  FN_TAN = 25,
  FN_ASIN = 26,
  FN_ACOS = 27,
  FN_ATAN = 28,
  FN_EXP = 29,
  FN_LOGN = 30,
  FN_SQRT = 31,
  FN_INT = 32,
  FN_FLOAT = 33,
  FN_STRLEN = 34,
  FN_RETURN = 38,
  FN_WHILE = 39,
  FN_ENDWHILE = 40,
  FN_IF = 41,
  FN_CHAR = 42,
  FN_STRING = 53,
  FN_DELAY = 88,
  FN_CALL1 = 91,
  FN_POW = 92,
  FN_ATAN2 = 93,
  FN_FIND = 94,
  FN_GETCHAR = 95,
  FN_PRINT = 96,
  FN_LOGSTART = 97,
  FN_SETBIT = 109,
  FN_CLEARBIT = 110,
  FN_GETBIT = 111,
  FN_SETEMAILINFO = 117,
  FN_CALL2 = 127,
  FN_SUBSTRING = 129,
  FN_SETCHAR = 130,
  FN_SENDEMAIL = 139,
  FN_SORT = 143,
  FN_COPY = 145,
  FN_ELSE = 153,
  FN_ENDIF = 154,
  FN_CALL = 158,
  FN_TIMEMILLISEC = 178,
};
