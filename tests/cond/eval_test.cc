#include <cmath>

#include "tests/cond/cond_fixture.h"

namespace {

struct Case {
  const char* line;
  double value;
};

TEST_F(CondTest, ArithmeticPrecedenceAndSigns) {
  const Case cases[] = {
      {"2+3*4", 14},     {"10-4-3", 3},       {"2<<3+1", 32},  {"1 OR 0 AND 0", 1},
      {"5 & 3 = 1", 0},  {"-5*2", -10},       {"3 - -3", 6},   {"pow(2, -1)", 2},
      {"(2+3)*4", 20},   {"2*(3+(4-1))", 12}, {"7 / 0", 7},    {"7 % 0", 7},
      {"-7 % 3", -1},    {"0.5 AND 1", 0},    {"0.5 OR 0", 0}, {"1.5 OR 0", 1},
      {"9 / 2", 4.5},    {"-16 >> 2", -4},    {"1 << 65", 2},  {"6 | 9", 15},
      {"3 = 3", 1},      {"3 != 3", 0},       {"2 >= 3", 0},   {"2 <= 3", 1},
      {"'A'", 65},       {"1.2.3", 1.2},      {"12", 12},      {"", 0},
      {"- 3", -3},       {"2 * - 3", -6},     {"-(2+3)", -5},  {"-sqrt(16)", -4},
      {"1 // 2 + 3", 1}, {"1//c + 5", 6},     {"(1", 1},       {"1)", 1},
      {"+", 0},          {"2 +", 2},          {"* 3", 3},      {"()", 0},
      {".5 * 4", 2},     {"1.5e3", 1500},     {"'\xE9'", -23}, {"007", 7},
      {"Tbl[2+1]", 0},  // an index that starts with a digit is kept as written
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(EvalWarm(c.line), c.value) << c.line;
  }
}

TEST_F(CondTest, VariablesBindBelowAppVar) {
  Var("a") = 2.0;
  Var("b") = 3.0;
  Var("Grp.c") = 4.0;
  Var("My Var") = 8.0;
  const Case cases[] = {
      {"a + b * Grp.c", 14},
      {"A*B", 6},
      {"-a", -2},
      {"[My Var] / 2", 4},
      {"missing + 1", 1},
      {"a > 1 AND b < 4", 1},
      {"ORDER", 0},
      {"-(a + b) * 2", -10},
      {"-sqrt(b * 3) + 1", -2},
      {"a / 0", 2},
      {"a b", 2},
      {"a +", 2},
      {"int(b / 2) + getbit(5, 2)", 2},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(EvalWarm(c.line), c.value) << c.line;
  // ORDER is OR followed by the variable DER, which the evaluation created.
  EXPECT_NE(cond_.AppVar()->Index("DER", 0), nullptr);
  EXPECT_NE(cond_.AppVar()->Index("missing", 0), nullptr);
}

TEST_F(CondTest, TextComparisonsAndConcatenation) {
  Var("s") = "abc";
  Var("t") = "abd";
  const Case cases[] = {
      {"\"abc\" = s", 1}, {"s != t", -1}, {"t != s", 1},    {"s != s", 0}, {"s < t", 1},
      {"s = 0", 0},       {"s != 0", 1},  {"\"\" != 0", 0}, {"s > t", 0},  {"s >= \"abc\"", 1},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(EvalWarm(c.line), c.value) << c.line;

  Eval("s + t");
  EXPECT_EQ(text_, "abcabd");
  Eval("s + 3.9");
  EXPECT_EQ(text_, "abc3");
  Eval("\"two  blanks\"");
  EXPECT_EQ(text_, "two  blanks");
  Eval("\"unclosed  rest of line");
  EXPECT_EQ(text_, "unclosed  rest of line");
  // Without a result record texts add as numbers.
  EXPECT_DOUBLE_EQ(cond_.EvalCondition("s + t", nullptr), 0);
}

TEST_F(CondTest, ProducedTextsStayWithinTheResultRecord) {
  std::string long_text(500, 'x');
  Var("big") = long_text.c_str();
  for (int i = 0; i < 8; ++i) Eval("big + big + big + big + big");
  EXPECT_EQ(text_.size(), static_cast<size_t>(kEqTextSize - 1));
  EXPECT_EQ(text_, std::string(kEqTextSize - 1, 'x'));
}

TEST_F(CondTest, EvalEquationStoresNumberOrText) {
  CtVar& target = Var("out");
  cond_.EvalEquation("2 + 3", &target, nullptr, nullptr);
  EXPECT_EQ(target.GetType(), static_cast<uint32_t>(OZK_TVAR_INT));
  EXPECT_DOUBLE_EQ(static_cast<double>(target), 5);

  Var("x") = "12";
  Var("y") = "34";
  cond_.EvalEquation("x + y", &target, nullptr, nullptr);
  EXPECT_STREQ(static_cast<const char*>(target), "1234");
  cond_.EvalEquation("int(x + y)", &target, nullptr, nullptr);
  EXPECT_DOUBLE_EQ(static_cast<double>(target), 1234);
  EXPECT_EQ(target.GetType(), static_cast<uint32_t>(OZK_TVAR_INT));
  cond_.EvalEquation("\"\"", &target, nullptr, nullptr);
  EXPECT_EQ(target.GetType(), static_cast<uint32_t>(OZK_TVAR_STRING));
}

TEST_F(CondTest, CachedLineFollowsComputedIndexAndRecreatedVariables) {
  Var("Tbl[0]") = 10.0;
  Var("Tbl[1]") = 11.0;
  Var("Tbl[5]") = 15.0;
  Var("i") = 0.0;
  EXPECT_DOUBLE_EQ(Eval("Tbl[i]"), 10);
  Var("i") = 1.0;
  EXPECT_DOUBLE_EQ(Eval("Tbl[i]"), 11);
  Var("i") = 4.0;
  EXPECT_DOUBLE_EQ(Eval("Tbl[i+1]"), 15);

  Var("v") = 1.0;
  EXPECT_DOUBLE_EQ(Eval("v * 2"), 2);
  cond_.AppVar()->Index("v", 0)->Release(0, 0, 1, 0);
  ASSERT_EQ(cond_.AppVar()->Index("v", 0), nullptr);
  Var("v") = 7.0;
  EXPECT_DOUBLE_EQ(Eval("v * 2"), 14);
}

TEST_F(CondTest, LongNamesAreBoundButNotStored) {
  const std::string name59(59, 'n');
  const std::string name128(128, 'm');
  Var(name59.c_str()) = 3.0;
  Var(name128.c_str()) = 4.0;
  OZK_COND_TERM terms[kCondMaxTerms];
  std::string line = name59 + " + " + name128;
  ASSERT_EQ(cond_.MakeCondTerms(line.data(), terms, cond_.AppVar(), nullptr, 1), 3u);
  EXPECT_EQ(std::string(terms[0].name), name59);
  EXPECT_EQ(terms[2].name[0], '\0');
  EXPECT_NE(terms[2].variable, nullptr);
  EXPECT_DOUBLE_EQ(Eval(name128 + " + 1"), static_cast<double>(*terms[2].variable) + 1);
  EXPECT_DOUBLE_EQ(Eval(name128 + " + 1"), static_cast<double>(*terms[2].variable) + 1);
}

}  // namespace
