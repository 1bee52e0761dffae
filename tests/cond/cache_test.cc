#include <atomic>
#include <thread>
#include <vector>

#include "tests/cond/cond_fixture.h"

namespace {

TEST_F(CondTest, CacheRecordsAreKeptPerLine) {
  Var("a") = 2.0;
  OZK_COND_TERM terms[kCondMaxTerms];
  EXPECT_EQ(cond_.GetCondTermsFromCache("a * 3", terms), -1);
  EXPECT_DOUBLE_EQ(Eval("a * 3"), 6);
  EXPECT_EQ(cond_.GetCondTermsFromCache("a * 3", terms), 3);
  EXPECT_EQ(terms[0].variable, cond_.AppVar()->Index("a", 0));
  // Same byte sum, same slot: the newer line replaces the record.
  EXPECT_DOUBLE_EQ(Eval("3 * a"), 6);
  EXPECT_EQ(cond_.GetCondTermsFromCache("a * 3", terms), -1);
  EXPECT_EQ(cond_.GetCondTermsFromCache("3 * a", nullptr), -1);  // clears the record
  EXPECT_EQ(cond_.GetCondTermsFromCache("3 * a", terms), -1);
  Eval("a * 3");
  cond_.ClearFunctionCache();
  EXPECT_EQ(cond_.GetCondTermsFromCache("a * 3", terms), -1);
}

TEST_F(CondTest, HostileLinesAreBounded) {
  const std::string literal = "\"" + std::string(450, 'x') + "\"";
  Eval(literal);
  EXPECT_EQ(text_.size(), static_cast<size_t>(kEqTextSize - 1));

  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "(";
  deep += "1";
  for (int i = 0; i < 100; ++i) deep += ")";
  EXPECT_DOUBLE_EQ(Eval(deep), 0);  // only the first 60 terms are read: no value among them

  std::string nested = "1";
  for (int i = 0; i < 20; ++i) nested = "Tbl[" + nested + "]";
  Var("Tbl[1]") = 1.0;
  Eval(nested);  // index evaluation stops nesting; the line still evaluates
  EXPECT_DOUBLE_EQ(Eval("Tbl[Tbl[Tbl[1]]]"), 1);

  std::string sixty_one;
  for (int i = 0; i < 61; ++i) sixty_one += "1 + ";
  EXPECT_DOUBLE_EQ(Eval(sixty_one), 30);  // 60 terms: thirty ones and the last "+" has no right

  const std::string name128(128, 'q');
  EXPECT_DOUBLE_EQ(Eval(name128 + " + 2"), 2);
}

TEST_F(CondTest, ThreadsEvaluateIndependently) {
  for (int i = 0; i < 10; ++i) Var("Tbl")[i] = i * 10.0;
  Var("i") = 3.0;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {  // more threads than cache tables
    threads.emplace_back([&, t] {
      for (int k = 0; k < 200; ++k) {
        OZK_EQ_RESULT r{};
        const std::string line = "Tbl[i] + " + std::to_string(t);
        if (cond_.EvalCondition(line.c_str(), &r) != 30 + t) ++wrong;
        if (cond_.EvalCondition("Tbl[i-1] * 2", &r) != 40) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
