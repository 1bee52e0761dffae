#include <filesystem>

#include "cond/cond_seams.h"
#include "cond/escape.h"
#include "tests/common/temp_dir.h"
#include "tests/cond/cond_fixture.h"

namespace {

struct Case {
  const char* line;
  double value;
};

TEST_F(CondTest, NumericFunctions) {
  Var("s") = " -42.5xyz";
  const Case cases[] = {
      {"sqrt(16) + pow(2, 10)", 1028},
      {"int(-3.7)", -3},
      {"int(s)", -42},
      {"float(s)", -42.5},
      {"float(2.25)", 2.25},
      {"SetBit(0, 65)", 2},
      {"ClearBit(7, 1)", 5},
      {"GetBit(5, 2) + GetBit(5, 1)", 1},
      {"logn(exp(2))", 2},
      {"atan2(1, 1) * 4", 3.141592653589793},
      {"logstart(1, 2) + trigger() + GetTime() + ImageProcess(1, 2, 3, 4)", 0},
      {"SendEmail(\"a\", \"b\", \"c\") + SetEmailInfo(\"s\", \"f\")", 0},
      {"Delay(50)", 0},
      {"timemillisec() > 0", 1},
  };
  for (const auto& c : cases) EXPECT_NEAR(EvalWarm(c.line), c.value, 1e-12) << c.line;
}

TEST_F(CondTest, TextFunctions) {
  Var("s") = "abc";
  const Case cases[] = {
      {"strlen(s)", 3},          {"strlen(5)", 0},
      {"find(\"b\", s)", 1},     {"find(\"z\", s)", -1},
      {"find(1, s)", -1},        {"getchar(s, 1)", 'b'},
      {"getchar(s, 3)", 0},      {"getchar(s, 0 - 1)", 0},
      {"getchar(s, -1)", 'b'},  // "-" after "," has no left operand and is dropped
      {"substring(s, 5, 1)", 0}, {"char(66)", 66},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(EvalWarm(c.line), c.value) << c.line;

  struct TextCase {
    const char* line;
    const char* text;
  };
  const TextCase texts[] = {
      {"substring(s, 1, 100)", "bc"}, {"substring(s, 0, 2)", "ab"}, {"char(65) + s", "Aabc"},
      {"string(12.9)", "12"},         {"s + string(-3)", "abc-3"},
  };
  for (const auto& c : texts) {
    EvalWarm(c.line);
    EXPECT_EQ(text_, c.text) << c.line;
  }
  Eval("setchar(s, 0, 'x')");
  EXPECT_EQ(text_, "xbc");
  EXPECT_STREQ(static_cast<const char*>(Var("s")), "xbc");
  EXPECT_DOUBLE_EQ(cond_.EvalCondition("substring(s, 0, 1)", nullptr), 0);
}

TEST_F(CondTest, StringFormatsTemplates) {
  Var("Count") = 7.0;
  Eval("string(\"[Count%03d]\\t[65]\")");
  EXPECT_EQ(text_, "007\tA");
}

TEST_F(CondTest, FlowFunctionsLeaveRequests) {
  struct Case {
    const char* line;
    OZK_NEXT_OP_TYPE next;
  };
  const Case cases[] = {
      {"if(1)", NEXT_OP_CONTINUE},     {"if(0)", NEXT_OP_SKIP_IF},
      {"if(0.5)", NEXT_OP_CONTINUE},   {"while(2)", NEXT_OP_ENTER_LOOP},
      {"while(0)", NEXT_OP_SKIP_LOOP}, {"endwhile(0)", NEXT_OP_LOOP_BACK},
      {"else", NEXT_OP_SKIP_ELSE},     {"endif", NEXT_OP_CONTINUE},
      {"return(3)", NEXT_OP_RETURN},
  };
  for (const auto& c : cases) {
    Eval(c.line);
    EXPECT_EQ(next_, c.next) << c.line;
  }
  CtVar local;
  OZK_NEXT_OP_TYPE next = NEXT_OP_CONTINUE;
  cond_.EvalEquation("return(\"done\")", nullptr, &local, &next);
  EXPECT_EQ(next, NEXT_OP_RETURN);
  EXPECT_STREQ(static_cast<const char*>(local["return"]), "done");
  // A text of the line ends at its zero byte, a 0xFF 0xFE pair in it notwithstanding: nothing
  // after the zero (the rest of the line, or memory past the term) becomes part of the value.
  cond_.EvalEquation("return(\"x\xFF\xFE\") + 1", nullptr, &local, &next);
  EXPECT_STREQ(static_cast<const char*>(local["return"]), "x");
  CtVar& target = Var("out");
  cond_.EvalEquation("\"y\xFF\xFE\"", &target, nullptr, nullptr);
  EXPECT_STREQ(static_cast<const char*>(target), "y");
}

TEST_F(CondTest, UserFunctionCallsGoThroughTheRunner) {
  struct Runner : XCondFunctionRunner {
    std::string called;
    int InvokeFunction(const char* name, CtVar* params, uint32_t timeout_ms) override {
      called = name;
      EXPECT_EQ(timeout_ms, 1000u);
      const double p1 = static_cast<double>((*params)["p1"]);
      const double p2 = static_cast<double>((*params)["p2"]);
      if (called == "Join") {
        (*params)["return"] = "joined";
      } else {
        (*params)["return"] = p1 * 10 + p2;
      }
      return 1;
    }
    bool ExtendPeriodicBudget(uint32_t) override { return false; }
  } runner;
  XCondFunctionRunner::Set(&runner);
  (*cond_.EquationTree())["Mix"]["Proto"] = "(a, b)";
  (*cond_.EquationTree())["Join"]["Proto"] = "()";
  EXPECT_DOUBLE_EQ(Eval("Mix(4, 2) + 1"), 43);
  EXPECT_EQ(runner.called, "Mix");
  Eval("Join()");
  EXPECT_EQ(text_, "joined");
  XCondFunctionRunner::Set(nullptr);
  EXPECT_DOUBLE_EQ(Eval("Mix(4, 2) + 1"), 1);

  // A cached call of a function that is deleted is parsed again: Mix is now a variable, and the
  // line reads as "Mix" followed by a stray group.
  XCondFunctionRunner::Set(&runner);
  cond_.EquationTree()->Index("Mix", 0)->Release(0, 0, 1, 0);
  runner.called.clear();
  EXPECT_DOUBLE_EQ(Eval("Mix(4, 2) + 1"), 0);
  EXPECT_EQ(runner.called, "");
  XCondFunctionRunner::Set(nullptr);
}

TEST_F(CondTest, TextsSurviveAUserFunctionThatChangesThem) {
  struct Runner : XCondFunctionRunner {
    CtVar* app;
    int InvokeFunction(const char* name, CtVar*, uint32_t) override {
      if (std::string(name) == "Grow") {
        (*app)["s"] = std::string(300, 'g').c_str();
      } else {
        app->Index("s", 0)->Release(0, 0, 1, 0);
      }
      return 1;
    }
    bool ExtendPeriodicBudget(uint32_t) override { return false; }
  } runner;
  runner.app = cond_.AppVar();
  XCondFunctionRunner::Set(&runner);
  (*cond_.EquationTree())["Grow"]["Proto"] = "()";
  (*cond_.EquationTree())["Drop"]["Proto"] = "()";
  Var("s") = "ab";
  // The call returns the number 0, which the concatenation appends.
  Eval("s + Grow()");
  EXPECT_EQ(text_, std::string(300, 'g') + "0");
  Eval("s + Drop()");
  EXPECT_EQ(text_, "0");
  XCondFunctionRunner::Set(nullptr);
}

TEST_F(CondTest, SortKeepsCompanionsAligned) {
  Var("A[0]") = 3.0;
  Var("A[1]") = 1.0;
  Var("A[2]") = 2.0;
  Var("N[0]") = "a";
  Var("N[1]") = "b";
  Var("N[2]") = "c";
  Var("Comp[0]") = "N";
  Eval("Sort(A, 1, Comp)");
  for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(static_cast<double>(Var("A")[i]), i + 1);
  EXPECT_STREQ(static_cast<const char*>(Var("N")[0]), "b");
  EXPECT_STREQ(static_cast<const char*>(Var("N")[1]), "c");
  EXPECT_DOUBLE_EQ(static_cast<double>(Var("N")[2]), 0);  // the saved left value, as a number
  Eval("Sort(A, 0, 0)");
  EXPECT_DOUBLE_EQ(static_cast<double>(Var("A")[0]), 3);
  EXPECT_DOUBLE_EQ(Eval("Sort(1, 1, 1)"), 0);
}

TEST_F(CondTest, CopyMovesAtMostThirtyTwoValues) {
  for (int i = 0; i < 40; ++i) Var("Src")[i] = static_cast<double>(i);
  Eval("copy(Src, Dst, 100)");
  EXPECT_EQ(Var("Dst").GetArrayDimension(), 32);
  EXPECT_DOUBLE_EQ(static_cast<double>(Var("Dst")[31]), 31);
  Eval("copy(Src[5], Dst[1], 2)");
  EXPECT_DOUBLE_EQ(static_cast<double>(Var("Dst")[1]), 5);
  EXPECT_DOUBLE_EQ(static_cast<double>(Var("Dst")[2]), 6);
  EXPECT_DOUBLE_EQ(static_cast<double>(Var("Dst")[3]), 3);
}

TEST(EscapeTest, DecodesBackslashes) {
  struct Case {
    const char* in;
    std::string out;
  };
  const Case cases[] = {
      {"a\\nb", "a\nb"}, {"\\\\", "\\"},      {"\\t\\r\\f\\v", "\t\r\f\v"},
      {"\\x41B", "AB"},  {"\\x4g!", "\x04!"}, {"\\q", "\\q"},
      {"end\\", "end"},  {"\\x4", "\x04"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeEscapes(c.in), c.out) << c.in;
}

TEST_F(CondTest, PrintSpoolsTheQueue) {
  const auto spool =
      std::filesystem::temp_directory_path() /
      ("vel_spool_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
       std::to_string(reinterpret_cast<uintptr_t>(this)));
  std::filesystem::remove_all(spool);
  setenv("VEL_PRINT_SPOOL", spool.c_str(), 1);
  unsetenv("VEL_PRINT_COMMAND");
  Eval("print(\"line one\\n\", 0)");
  EXPECT_FALSE(std::filesystem::exists(spool));
  Eval("print(\"two\", 1)");
  ASSERT_TRUE(std::filesystem::exists(spool));
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(spool)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadFile(files[0]), "line one\ntwo");
  EXPECT_EQ(cond_.PrintQueueSize(), 0u);

  // A text that would take the queue to 20000 bytes is dropped.
  std::string big(19990, 'x');
  cond_.AddPrintQueueStr(big.c_str());
  cond_.AddPrintQueueStr("0123456789");
  EXPECT_EQ(cond_.PrintQueueSize(), big.size());
  std::filesystem::remove_all(spool);
  cond_.FlushPrintQueue();
  EXPECT_TRUE(std::filesystem::exists(spool));
  std::filesystem::remove_all(spool);
  unsetenv("VEL_PRINT_SPOOL");
}

TEST_F(CondTest, PrintCommandReceivesTheDocument) {
  const auto out = std::filesystem::temp_directory_path() /
                   ("vel_print_cmd_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
  std::filesystem::remove(out);
  const std::string command = "cat > '" + out.string() + "'";
  setenv("VEL_PRINT_COMMAND", command.c_str(), 1);
  Eval("print(\"a\\x41\\tb\", 1)");
  unsetenv("VEL_PRINT_COMMAND");
  EXPECT_EQ(ReadFile(out), "aA\tb");
  std::filesystem::remove(out);
}

}  // namespace
