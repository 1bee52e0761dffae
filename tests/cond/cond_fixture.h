// A tree with an "AppVar" branch and a parser/evaluator over it, for the expression tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cond/cond_output.h"
#include "vartree/tvar.h"
#include "vartree/tvar_seams.h"

// A server whose node value grows by one on every read.
class CountingRemote : public XTVarRemote {
 public:
  int ReadVar(const std::string&, uint32_t, TVarRemoteValue* out) override {
    out->type = OZK_TVAR_DOUBLE;
    out->number = ++reads;
    return 1;
  }
  int WriteVar(const std::string&, uint32_t, double, std::span<const uint8_t>,
               const std::string&) override {
    return 1;
  }
  int GetNextChildName(const std::string&, const std::string&, std::string*) override { return 0; }
  uint32_t GetNumChildren(const std::string&) override { return 0; }
  uint32_t Release(const std::string&, int) override { return 0; }
  uint32_t ReadTreeSize(const std::string&) override { return 0; }
  int ReadTree(const std::string&, uint32_t, std::vector<uint8_t>*) override { return 0; }
  int Lock(const std::string&, uint32_t) override { return 1; }
  int UnLock(const std::string&) override { return 1; }
  int MoveUp(const std::string&) override { return 0; }
  int MoveDown(const std::string&) override { return 0; }
  uint32_t GetRefCount(const std::string&) override { return 0; }
  int Rename(const std::string&, const std::string&) override { return 0; }
  int PlaceAfter(const std::string&, const std::string&) override { return 0; }
  XTVarDests* GetAppDest() override { return nullptr; }

  int reads = 0;
};

class CondTest : public ::testing::Test {
 protected:
  CtVar root_;
  CCondOutput cond_{&root_};

  CtVar& Var(const char* path) { return (*cond_.AppVar())[path]; }

  // Evaluates line until it runs warm (parsed, recorded, compiled, then from the program) and
  // expects every evaluation to give the first one's outcome.
  double EvalWarm(const std::string& line) {
    const double first = Eval(line);
    const std::string first_text = text_;
    for (int k = 0; k < 3; ++k) {
      const double again = Eval(line);
      EXPECT_TRUE(first == again || (first != first && again != again)) << line << " " << k;
      EXPECT_EQ(first_text, text_) << line << " " << k;
    }
    return first;
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

  // line evaluated by an evaluator that has never seen it (its own cache): the full evaluation.
  double Fresh(const std::string& line, std::string* text) {
    CCondOutput fresh(&root_);
    OZK_EQ_RESULT r{};
    const double v = fresh.EvalCondition(line.c_str(), &r);
    *text = r.text;
    return v;
  }

  // Evaluates the warm line (first: it may be the one to create a missing element) and expects
  // the fresh evaluation's value and text.
  void ExpectWarmAsFresh(const std::string& line, const std::string& why) {
    const double warm = Eval(line);
    std::string fresh_text;
    const double fresh = Fresh(line, &fresh_text);
    EXPECT_TRUE(warm == fresh || (warm != warm && fresh != fresh))
        << line << " after " << why << ": warm " << warm << ", fresh " << fresh;
    EXPECT_EQ(text_, fresh_text) << line << " after " << why;
  }

  // Evaluates line until it is warm (parsed, recorded, then compiled).
  void Warm(const std::string& line) {
    for (int k = 0; k < 3; ++k) Eval(line);
  }

  std::string text_;
  OZK_NEXT_OP_TYPE next_ = NEXT_OP_CONTINUE;
};
