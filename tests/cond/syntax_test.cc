#include "tests/cond/cond_fixture.h"

namespace {

TEST_F(CondTest, SyntaxCheckMessages) {
  struct Case {
    const char* line;
    const wchar_t* messages;
  };
  const Case cases[] = {
      {"a + b * (c - 1)", L""},
      {"", L""},
      {"sin(x) + pow(2, 3) + substring(\"ab\", 0, 1) + WriteRegField(1, 2, 3, 4)", L""},
      {"else", L""},
      {"endif", L""},
      {"- 3", L""},
      {"12abc", L" error consecutive operands 12 abc ;"},
      {"1.5 \"t\"", L" error consecutive operands 1.500 \"t\" ;"},
      {"* 3", L" * is missing left operand;"},
      {"3 +", L" + is missing right operand;"},
      {"a (b)", L" ( is missing operator or function on left ;"},
      {"a + 1 (b)", L" ( is missing operator or function on left ;"},
      {"a + (", L" ( is missing matching );"},
      {"(a + b", L" ) expected after ( ;"},
      {"trigger", L" Missing () after trigger ;"},
      {"trigger + 1", L" Missing ( after trigger ;"},
      {"trigger x", L" Missing () after trigger ;"},
      {"trigger ( x", L" Missing ) after trigger( ;"},
      {"sin", L" ( expected after sin ;"},
      {"sin x", L" ( expected after sin ;"},
      {"sin ( )", L" Missing operand after sin( ;"},
      {"sin(1, 2)", L" ) expected after sin ;"},
      {"sin(1) 2", L" operator expected after ) ;"},
      {"pow(1", L" pow missing proper operands ;"},
      {"pow(1 2)", L" error consecutive operands 1 2 ;"},
      {"pow(1 + 2)", L" pow has missing , after first operand ;"},
      {"pow(1,", L" pow missing proper 2nd operands ;"},
      {"pow(1, 2, 3)", L" pow has wrong number operands ;"},
      {"substring(s,", L" substring missing proper 2nd operand ;"},
      {"substring(s, 1 + 2)", L" substring has missing , after 2nd operand ;"},
      {"substring(s, 1, ", L" substring missing proper 3rd operand ;"},
      {"WriteRegField(1, 2, 3 + 4)", L" WriteRegField has missing , after 3rd operand ;"},
      {"WriteRegField(1, 2, 3, ", L" WriteRegField missing proper 4th operand ;"},
      {"endwhile + +", L""},
      {"+ 1 +", L" + is missing left operand; + is missing right operand;"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cond_.EquationSyntaxCheck(c.line), std::wstring(c.messages)) << c.line;
  }
}

}  // namespace
