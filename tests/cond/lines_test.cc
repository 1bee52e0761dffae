#include "tests/cond/cond_fixture.h"

namespace {

TEST(EquationPartsTest, SplitsStatements) {
  struct Case {
    const char* line;
    int ok;
    const char* target;
    const char* expression;
    const char* condition;
  };
  const std::string long_target(60, 't');
  const std::string long_line = long_target + " = 1";
  const Case cases[] = {
      {"x = 5", 1, "x", "5", ""},
      {"  if (a > 1) x = 5", 1, "x", "5", "a > 1"},
      {"if (a > 1)", 1, "", "if(a > 1) ", ""},
      {"if ((a) > (b)) // note", 1, "", "if((a) > (b)) // note", ""},
      {"x == 5", 1, "x", "= 5", ""},
      {"a + b", 1, "", "a + b", ""},
      {"[My Var] = 3", 1, "[My Var]", "3", ""},
      {"Tbl[i = 2] = 3", 1, "Tbl[i = 2]", "3", ""},
      {"iffy = 3", 1, "iffy", "3", ""},
      {"   \t\n", 0, "", "", ""},
      {long_line.c_str(), 0, "", "", ""},
  };
  for (const auto& c : cases) {
    std::string target, expression, condition;
    EXPECT_EQ(CCondOutput::GetEquationParts(c.line, &target, &expression, &condition), c.ok)
        << c.line;
    if (!c.ok) continue;
    EXPECT_EQ(target, c.target) << c.line;
    EXPECT_EQ(expression, c.expression) << c.line;
    EXPECT_EQ(condition, c.condition) << c.line;
  }
}

TEST(EquationPartsTest, AllowedCharacters) {
  struct Case {
    const char* text;
    int valid_chars;
    int left_value_ok;
    wchar_t bad;
  };
  const Case cases[] = {
      {"abc.def_1", 1, 1, 0},         {"a\tb", 0, 0, L'\t'},   {"a~b", 0, 0, L'~'},
      {"Tbl[i+1]", 1, 1, 0},          {"Tbl[i+1", 1, 0, L'+'}, {"a+b", 1, 0, L'+'},
      {"\xC3\xA9t\xC3\xA9", 1, 1, 0}, {"x{y}", 1, 0, L'{'},
  };
  for (const auto& c : cases) {
    wchar_t bad = 0;
    EXPECT_EQ(CCondOutput::EquationValidChars(c.text, &bad), c.valid_chars) << c.text;
    if (!c.valid_chars) {
      EXPECT_EQ(bad, c.bad) << c.text;
    }
    bad = 0;
    EXPECT_EQ(CCondOutput::LeftValueOK(c.text, &bad), c.left_value_ok) << c.text;
    if (!c.left_value_ok) {
      EXPECT_EQ(bad, c.bad) << c.text;
    }
  }
}

}  // namespace
