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

// Lines made of random tokens: whatever the warm program makes of them, it must agree with a
// fresh evaluation, before and after the variables change their values and their types.
// Lines whose warm programs fold node reads, constants and calls into their operators, and AND/OR
// of comparisons into one step: each agrees with the full evaluation as values change, as a node
// turns into a text and back, and as an element is deleted. One line at a time: a warm line is
// known by its address, and another line may take its place.
TEST_F(WarmTest, FoldedStepsAgreeWithAFreshEvaluation) {
  const char* lines[] = {
      "a + b * c",           "(a - b) / c + a * 2",      "a > 1 AND b < 5 OR c = 3",
      "a >= b OR c != 0",    "sqrt(a * a + b * b)",      "pow(a, 2) + sin(b)",
      "pow(a + b, 2) - a",   "-sin(b) + cos(-a) * -c",   "a AND b OR 0",
      "(a > 1) AND b",       "-(a < b) OR c > 9",        "a - -b / 0 % 2",
      "Tbl[i] * 2 - Tbl[i]", "atan2(a, b) + int(a) | 1", "(a = b) AND (b = c) AND 1 > a",
      "c - a * b / b * a",   "c >= b * 2 OR a < c * b",
  };
  for (const std::string line : lines) {
    Var("a") = 3.0;
    Var("b") = 4.0;
    Var("c") = 5.0;
    Var("i") = 2.0;
    for (int k = 0; k < 4; ++k) Var("Tbl")[k] = k + 0.5;
    Warm(line);
    ExpectWarmAsFresh(line, "warming");
    Var("a") = 0.0;
    Var("b") = -2.5;
    Var("c") = 3.0;
    ExpectWarmAsFresh(line, "new values");
    Var("b") = "7";
    ExpectWarmAsFresh(line, "b turning into a text");
    Var("b") = 4.0;
    Var("a") = 5.0;
    ExpectWarmAsFresh(line, "b a number again");
    Var("Tbl")[2].Release();
    ExpectWarmAsFresh(line, "the element deleted");
  }
}

TEST_F(WarmTest, RandomLinesAgreeWithAFreshEvaluation) {
  const char* tokens[] = {"a",       "b",       "-c",   "2",       "0",     "s",      "\"PASS\"",
                          "Tbl[i]",  "(",       ")",    "-(",      "+",     "-",      "*",
                          "/",       "%",       "=",    "!=",      ">",     "<=",     "AND",
                          "OR",      "<<",      "&",    "|",       "sqrt(", "pow(",   ",",
                          "strlen(", "find(",   "int(", "getbit(", "-sin(", "atan2(", "i",
                          "string(", "getchar("};
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
    Var("s") = 4.0;
    Var("a") = "12abc";
    ExpectWarmAsFresh(line, "a text and a number trading places");
  }
}

}  // namespace
