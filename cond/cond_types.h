// The records of the expression language: a parsed term, its type code and the evaluation result.
//
// A line parses into at most kCondMaxTerms terms evaluated in place. Texts of terms are not owned:
// they point into the parsed line, into a variable's value buffer or into the result's pool, and
// are valid only during one evaluation. Produced texts never exceed kEqTextSize - 1 bytes.
#pragma once

#include <cstdint>

class CtVar;

// Term codes: 1..17 binary operators, 18..20 "(" ")" ",", 21 number, 22 text, functions by
// argument count (23..91 one, 92..127 two, 128..145 three, 146..178 none, 179..183 four), 184 a
// term already consumed.
using OZK_OP_TYPE = int32_t;

enum : OZK_OP_TYPE {
  OP_EQ = 1,
  OP_NE = 2,
  OP_GT = 3,
  OP_GE = 4,
  OP_LT = 5,
  OP_LE = 6,
  OP_ADD = 7,
  OP_SUB = 8,
  OP_MUL = 9,
  OP_DIV = 10,
  OP_MOD = 11,
  OP_SHL = 12,
  OP_SHR = 13,
  OP_BITAND = 14,
  OP_BITOR = 15,
  OP_AND = 16,
  OP_OR = 17,
  OP_LPAREN = 18,
  OP_RPAREN = 19,
  OP_COMMA = 20,
  OP_NUMBER = 21,
  OP_TEXT = 22,
  OP_SPENT = 184,
};

// Flow-control request left by the flow functions for the statement loop.
enum OZK_NEXT_OP_TYPE : int32_t {
  NEXT_OP_CONTINUE = 0,
  NEXT_OP_RETURN = 1,
  NEXT_OP_ENTER_LOOP = 2,
  NEXT_OP_LOOP_BACK = 3,
  NEXT_OP_SKIP_LOOP = 4,
  NEXT_OP_SKIP_IF = 5,
  NEXT_OP_SKIP_ELSE = 6,
};

constexpr int kCondMaxTerms = 60;
constexpr int kCondTermNameSize = 60;      // 59 characters and the terminator
constexpr int kCondMaxNameForField = 128;  // longer names are never stored
constexpr int kEqTextSize = 400;
constexpr int kEqPoolSize = 2048;

struct OZK_COND_TERM {
  double value;
  const char* text;
  OZK_OP_TYPE type;
  CtVar* variable;
  int32_t negate;
  char name[kCondTermNameSize];
};

struct OZK_EQ_RESULT {
  char text[kEqTextSize];
  char pool[kEqPoolSize];
  uint32_t pool_used;
  CtVar* target;
  CtVar* local;
  OZK_NEXT_OP_TYPE next;
};

inline bool IsValueTerm(OZK_OP_TYPE t) {
  return t == OP_NUMBER || t == OP_TEXT;
}
inline bool IsBinaryOperator(OZK_OP_TYPE t) {
  return t >= OP_EQ && t <= OP_OR;
}
inline bool IsFunctionCode(OZK_OP_TYPE t) {
  return t >= 23 && t <= 183;
}

// Number of arguments of a function code; -1 for codes that are no function.
inline int FunctionArgCount(OZK_OP_TYPE t) {
  if (t >= 23 && t <= 91) return 1;
  if (t >= 92 && t <= 127) return 2;
  if (t >= 128 && t <= 145) return 3;
  if (t >= 146 && t <= 178) return 0;
  if (t >= 179 && t <= 183) return 4;
  return -1;
}
