#include <vector>

#include "cond/cond_seams.h"
#include "tests/cond/cond_fixture.h"

namespace {

std::vector<OZK_OP_TYPE> Codes(CCondOutput& cond, std::string line, OZK_COND_TERM* terms) {
  const unsigned long n = cond.MakeCondTerms(line.data(), terms, cond.AppVar(), nullptr, 1);
  std::vector<OZK_OP_TYPE> codes;
  for (unsigned long i = 0; i < n; ++i) codes.push_back(terms[i].type);
  return codes;
}

TEST_F(CondTest, TokenizerSplitsTerms) {
  struct Case {
    const char* line;
    std::vector<OZK_OP_TYPE> codes;
  };
  const Case cases[] = {
      {"a<=b", {OP_NUMBER, OP_LE, OP_NUMBER}},
      {"a< =b", {OP_NUMBER, OP_LT, OP_EQ, OP_NUMBER}},
      {"ORDER", {OP_OR, OP_NUMBER}},
      {"order", {OP_NUMBER}},
      {"AndOr", {OP_NUMBER}},
      {"12abc", {OP_NUMBER, OP_NUMBER}},
      {"0x10", {OP_NUMBER, OP_NUMBER}},
      {"1e5", {OP_NUMBER, OP_NUMBER}},
      {"sin(x)", {23, OP_LPAREN, OP_NUMBER, OP_RPAREN}},
      {"SIN(1)", {23, OP_LPAREN, OP_NUMBER, OP_RPAREN}},
      {"substring(\"a b\", 0, 1)",
       {129, OP_LPAREN, OP_TEXT, OP_COMMA, OP_NUMBER, OP_COMMA, OP_NUMBER, OP_RPAREN}},
      {"a // comment + b", {OP_NUMBER}},
      {"// all comment", {}},
      {"[My Var] + [x", {OP_NUMBER, OP_ADD, OP_NUMBER}},
      {"#", {OP_NUMBER}},
      {"a!=b", {OP_NUMBER, OP_NE, OP_NUMBER}},
      {"x%y", {OP_NUMBER, OP_MOD, OP_NUMBER}},
  };
  for (const auto& c : cases) {
    OZK_COND_TERM terms[kCondMaxTerms];
    EXPECT_EQ(Codes(cond_, c.line, terms), c.codes) << c.line;
  }
}

TEST_F(CondTest, TermValuesAndNames) {
  OZK_COND_TERM terms[kCondMaxTerms];
  std::string line = "-4 'A' 1.2.3 x.y[2] [My  Var][3] \"q  r\"";
  ASSERT_EQ(cond_.MakeCondTerms(line.data(), terms, cond_.AppVar(), nullptr, 1), 6u);
  EXPECT_DOUBLE_EQ(terms[0].value, -4);
  EXPECT_EQ(terms[0].negate, 1);
  EXPECT_DOUBLE_EQ(terms[1].value, 65);
  EXPECT_DOUBLE_EQ(terms[2].value, 1.2);
  EXPECT_STREQ(terms[3].name, "x.y[2]");
  EXPECT_EQ(terms[3].variable, cond_.AppVar()->Index("x.y[2]", 0));
  EXPECT_STREQ(terms[4].name, "My Var[3]");
  EXPECT_NE(cond_.AppVar()->Index("My Var", 0), nullptr);
  EXPECT_STREQ(terms[5].text, "q  r");
}

TEST_F(CondTest, ParameterNamesReadTheDeviceParameter) {
  struct Params : XCondParams {
    double GetParam(const char* name, int) override { return std::string(name) == "Gain" ? 7 : 0; }
  } params;
  XCondParams::Set(&params);
  EXPECT_DOUBLE_EQ(Eval("P.Gain * 2"), 14);
  XCondParams::Set(nullptr);
  EXPECT_EQ(cond_.AppVar()->Index("P", 0), nullptr);
}

TEST_F(CondTest, ShadowVariablesArePruned) {
  cond_.SetShadowVarEnable(1);
  Var("kept") = 1.0;
  cond_.EquationSyntaxCheck("kept + typo1 + typo2 + typo1");
  EXPECT_EQ(cond_.ShadowVars(), (std::vector<std::string>{"typo1", "typo2"}));
  root_["Equations"]["1"]["Eq"] = "typo2 * 2";
  cond_.PruneShadowVars();
  EXPECT_EQ(cond_.AppVar()->Index("typo1", 0), nullptr);
  EXPECT_NE(cond_.AppVar()->Index("typo2", 0), nullptr);
  EXPECT_NE(cond_.AppVar()->Index("kept", 0), nullptr);
  EXPECT_TRUE(cond_.ShadowVars().empty());
}

TEST(GetVarSimpleNameTest, StripsResultAndCamera) {
  struct Case {
    const char* full;
    int camera;
    const char* simple;
  };
  const Case cases[] = {
      {"Camera 2.Blob.Result", 1, "Blob"}, {"Camera 01.Edge", 0, "Edge"},
      {"Blob.result", 0, "Blob"},          {"Cam.X", 0, "Cam.X"},
      {"Camera.X", 0, "Camera.X"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(GetVarSimpleName(c.full, &out), c.camera) << c.full;
    EXPECT_EQ(out, c.simple) << c.full;
  }
}

}  // namespace
