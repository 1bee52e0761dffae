// Warm lines: a cached line evaluated again must see the tree as it is now, whether it runs as a
// compiled numeric program or through the full evaluation.
#include <latch>
#include <thread>
#include <vector>

#include "tests/cond/cond_fixture.h"

namespace {

class WarmTest : public CondTest {
 protected:
  void SetUp() override {
    Var("a") = 3.0;
    Var("b") = 4.0;
    Var("c") = 5.0;
  }
  // Three evaluations: parsed, recorded, then warm.
  double WarmValue(const std::string& line) {
    Warm(line);
    return Eval(line);
  }
};

TEST_F(WarmTest, NumericLinesGiveTheSameValueParsedAndWarm) {
  const struct {
    const char* line;
    double value;
  } cases[] = {
      {"a + b * c", 23},
      {"(a - b) / c + a * 2", 5.8},
      {"a > 1 AND b < 5 OR c = 3", 1},
      {"a >= b OR c != 0", 1},
      {"sqrt(a * a + b * b)", 5},
      {"pow(a, 2) + sin(0)", 9},
      {"-a + 1", -2},
      {"-(a + b) * 2", -14},
      {"-sqrt(b) + 1", -1},
      {"a / 0", 3},
      {"c % 0", 5},
      {"int(c / 2) + getbit(5, 2)", 3},
      {"atan2(0)", 0},
      {"a +", 3},
      {"1 << 65", 2},
      {"a b c", 3},
  };
  for (const auto& c : cases) {
    const double parsed = Eval(c.line);
    EXPECT_DOUBLE_EQ(parsed, c.value) << c.line;
    for (int round = 0; round < 3; ++round) {
      EXPECT_DOUBLE_EQ(Eval(c.line), c.value) << c.line << " round " << round;
      EXPECT_EQ(text_, "") << c.line;
    }
  }
}

TEST_F(WarmTest, WarmLinesReadCurrentValues) {
  EXPECT_DOUBLE_EQ(WarmValue("a * b - c"), 7);
  Var("a") = 10.0;
  Var("c") = -1.0;
  EXPECT_DOUBLE_EQ(Eval("a * b - c"), 41);
}

TEST_F(WarmTest, DeletedAndRecreatedVariableIsFoundAgain) {
  EXPECT_DOUBLE_EQ(WarmValue("a * 2 + b"), 10);
  cond_.AppVar()->Index("a", 0)->Release();
  EXPECT_EQ(cond_.AppVar()->Index("a", 0), nullptr);
  Var("a") = 7.0;
  EXPECT_DOUBLE_EQ(Eval("a * 2 + b"), 18);
  EXPECT_DOUBLE_EQ(Eval("a * 2 + b"), 18);
  // A rename moves the name to another node as well.
  Var("a").Rename("old");
  Var("a") = 1.0;
  EXPECT_DOUBLE_EQ(Eval("a * 2 + b"), 6);
}

TEST_F(WarmTest, ComputedIndexFollowsItsVariable) {
  for (int k = 0; k < 4; ++k) Var("Tbl")[k] = k * 10.0;
  Var("i") = 1.0;
  EXPECT_DOUBLE_EQ(WarmValue("Tbl[i] * 2 + a"), 23);
  Var("i") = 3.0;
  EXPECT_DOUBLE_EQ(Eval("Tbl[i] * 2 + a"), 63);
  EXPECT_DOUBLE_EQ(WarmValue("Tbl[i-1] + Tbl[2]"), 40);
  Var("i") = 2.0;
  EXPECT_DOUBLE_EQ(Eval("Tbl[i-1] + Tbl[2]"), 30);
}

TEST_F(WarmTest, VariableTurningToTextAndBackIsReadAsItIs) {
  EXPECT_DOUBLE_EQ(WarmValue("a + 1"), 4);
  EXPECT_DOUBLE_EQ(WarmValue("a * 2 + 1"), 7);
  Var("a") = "x";
  // Where a number is wanted the text counts as 0, not as the number the variable held.
  EXPECT_DOUBLE_EQ(Eval("a * 2 + 1"), 1);
  EXPECT_DOUBLE_EQ(Eval("a * 2 + 1"), 1);
  Eval("a + 1");
  EXPECT_EQ(text_, "x1");
  Eval("a + 1");
  EXPECT_EQ(text_, "x1");
  Var("a") = 5.0;
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 6);
  EXPECT_EQ(text_, "");
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 6);
}

TEST_F(WarmTest, RemoteLinkedNodeIsReadFromTheServer) {
  EXPECT_DOUBLE_EQ(WarmValue("a + 1"), 4);
  CountingRemote remote;
  CtVar& a = Var("a");
  a.SetRpc(&remote);
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 2);
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 3);
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 4);
  EXPECT_EQ(remote.reads, 3);
  a.SetRpc(nullptr);
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 4);  // the last value the server gave stays
}

TEST_F(WarmTest, LocalNodeTakesPrecedenceOverAWarmLine) {
  EXPECT_DOUBLE_EQ(WarmValue("a + 1"), 4);
  CtVar local;
  local["a"] = 10.0;
  OZK_EQ_RESULT r{};
  r.local = &local;
  EXPECT_DOUBLE_EQ(cond_.EvalCondition("a + 1", &r), 11);
  EXPECT_DOUBLE_EQ(cond_.EvalCondition("a + 1", &r), 11);
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 4);
  EXPECT_DOUBLE_EQ(Eval("a + 1"), 4);
}

TEST_F(WarmTest, IntOfANumberClearsTheResultText) {
  WarmValue("int(c / 2)");
  OZK_EQ_RESULT r{};
  std::strcpy(r.text, "stale");
  EXPECT_DOUBLE_EQ(cond_.EvalCondition("int(c / 2)", &r), 2);
  EXPECT_STREQ(r.text, "");
}

TEST_F(WarmTest, ForgottenTableAssignmentIsNotReusedByTheOldThread) {
  WarmValue("a * 3");
  OZK_COND_TERM terms[kCondMaxTerms];
  ASSERT_EQ(cond_.GetCondTermsFromCache("a * 3", terms), 3);
  cond_.ClearFunctionCache();
  // All alive at once, so that no thread identifier is reused among them.
  std::latch all_evaluated(kCondCacheThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kCondCacheThreads; ++t) {
    threads.emplace_back([this, &all_evaluated] {
      OZK_EQ_RESULT r{};
      cond_.EvalCondition("b + 1", &r);
      all_evaluated.arrive_and_wait();
    });
  }
  for (auto& th : threads) th.join();
  // Every table now belongs to another thread: this one parses without a cache.
  EXPECT_DOUBLE_EQ(Eval("a * 3"), 9);
  EXPECT_EQ(cond_.GetCondTermsFromCache("a * 3", terms), -1);
  EXPECT_EQ(cond_.LookupCondCacheEntry(0), nullptr);
}

}  // namespace

namespace {

TEST_F(WarmTest, LinesReadingTextsFollowTheirVariables) {
  Var("s") = "PASS";
  Var("t") = "abc";
  const char* lines[] = {
      "s = \"PASS\"",
      "s != \"PASS\" OR a > 2",
      "t < s",
      "find(\"S\", s) + strlen(s)",
      "getchar(s, 1) + getchar(s, 99)",
      "int(t) + float(\"2.5\") * 2",
      "-strlen(t) + (s = t)",
      "s * 2 + a",      // a text counts as 0 in arithmetic
      "a + s",          // a number on the left of "+" adds the value field
      "a - s > t * 1",  // read in place of a push while they are numbers
      "s + 1",          // a text on the left joins: the full evaluation
      "(s) = \"PASS\"",
      "-(s) = \"PASS\"",    // a negated group of a text stays a text
      "string(a) = \"3\"",  // a produced text: the full evaluation
  };
  // Each variable gets a text, or a number when the text is null.
  const struct {
    const char* s;
    const char* t;
    const char* why;
  } steps[] = {
      {"FAIL", "abc", "a new text"},
      {"", "", "empty texts"},
      {"PASS", nullptr, "t turning to a number"},
      {nullptr, nullptr, "s turning to a number"},
      {"12abc", "12abc", "both texts again"},
  };
  for (const char* line : lines) {
    Var("s") = "PASS";
    Var("t") = "abc";
    Warm(line);
    ExpectWarmAsFresh(line, "warming");
    for (const auto& step : steps) {
      if (step.s) {
        Var("s") = step.s;
      } else {
        Var("s") = 4.0;
      }
      if (step.t) {
        Var("t") = step.t;
      } else {
        Var("t") = 7.0;
      }
      ExpectWarmAsFresh(line, step.why);
      ExpectWarmAsFresh(line, std::string(step.why) + ", once more");
    }
  }
}

TEST_F(WarmTest, ATextVariableDeletedAndRecreatedIsFoundAgain) {
  Var("s") = "PASS";
  const std::string line = "strlen(s) + (s = \"PASS\")";
  Warm(line);
  EXPECT_DOUBLE_EQ(Eval(line), 5);
  cond_.AppVar()->Index("s", 0)->Release();
  Var("s") = "NO";
  EXPECT_DOUBLE_EQ(Eval(line), 2);
  EXPECT_DOUBLE_EQ(Eval(line), 2);
  CountingRemote remote;
  Var("s").SetRpc(&remote);  // a linked text is read through the server, as a number here
  ExpectWarmAsFresh(line, "linking the text to a server");
  Var("s").SetRpc(nullptr);
}

}  // namespace

namespace {

// Lines made of random tokens: whatever the warm program makes of them, it must agree with a
// fresh evaluation, before and after the variables change.
TEST_F(WarmTest, RandomLinesAgreeWithAFreshEvaluation) {
  const char* tokens[] = {"a",       "b",     "-c",   "2",       "0",     "s",      "\"PASS\"",
                          "Tbl[i]",  "(",     ")",    "-(",      "+",     "-",      "*",
                          "/",       "%",     "=",    "!=",      ">",     "<=",     "AND",
                          "OR",      "<<",    "&",    "|",       "sqrt(", "pow(",   ",",
                          "strlen(", "find(", "int(", "getbit(", "-sin(", "atan2(", "i"};
  constexpr size_t kTokens = sizeof(tokens) / sizeof(tokens[0]);
  for (int k = 0; k < 4; ++k) Var("Tbl")[k] = k + 0.5;
  Var("i") = 1.0;
  Var("s") = "PASS";
  uint32_t seed = 12345;
  const auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 300; ++round) {
    std::string line;
    const uint32_t length = 1 + next(12);
    for (uint32_t t = 0; t < length; ++t) {
      if (!line.empty()) line += ' ';
      line += tokens[next(kTokens)];
    }
    Var("a") = 3.0;
    Var("i") = 1.0;
    Var("s") = "PASS";
    Warm(line);
    ExpectWarmAsFresh(line, "warming");
    Var("a") = -7.25;
    Var("i") = 3.0;
    Var("s") = "S";
    ExpectWarmAsFresh(line, "new values");
  }
}

}  // namespace
