// A tree with an "AppVar" branch and a parser/evaluator over it, for the expression tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cond/cond_output.h"
#include "vartree/tvar.h"

class CondTest : public ::testing::Test {
 protected:
  CtVar root_;
  CCondOutput cond_{&root_};

  CtVar& Var(const char* path) { return (*cond_.AppVar())[path]; }

  // Evaluates line twice (parsed, then from the cache) and expects the same outcome.
  double EvalTwice(const std::string& line) {
    const double first = Eval(line);
    const std::string first_text = text_;
    const double second = Eval(line);
    EXPECT_TRUE(first == second || (first != first && second != second)) << line;
    EXPECT_EQ(first_text, text_) << line;
    return second;
  }

  // Evaluates line with a fresh result record; the produced text lands in text_.
  double Eval(const std::string& line) {
    OZK_EQ_RESULT r;
    r.text[0] = '\0';
    r.pool_used = 0;
    r.target = nullptr;
    r.local = nullptr;
    r.next = NEXT_OP_CONTINUE;
    const double v = cond_.EvalCondition(line.c_str(), &r);
    text_ = r.text;
    next_ = r.next;
    return v;
  }

  std::string text_;
  OZK_NEXT_OP_TYPE next_ = NEXT_OP_CONTINUE;
};
