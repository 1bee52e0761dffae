// Evaluation speed of typical condition lines with a warm term cache, beside muparser evaluating
// the same arithmetic and comparisons (lines muparser cannot express run on our side only).
// On a shared machine the speed of both drifts by tens of percent within a minute; compare them in
// short interleaved repetitions:
//   cond_bench --benchmark_enable_random_interleaving=true --benchmark_repetitions=40
//              --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include "cond/cond_output.h"
#include "vartree/tvar.h"

#ifdef VEL_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

struct Line {
  const char* ours;
  const char* muparser;  // null when muparser has no equivalent
};

const Line kLines[] = {
    {"a + b * c", "a + b * c"},
    {"(a - b) / c + a * 2", "(a - b) / c + a * 2"},
    {"a > 1 AND b < 5 OR c = 3", "a > 1 && b < 5 || c == 3"},
    {"a >= b OR c != 0", "a >= b || c != 0"},
    {"sqrt(a * a + b * b)", "sqrt(a * a + b * b)"},
    {"pow(a, 2) + sin(b)", "a^2 + sin(b)"},
    {"s = \"PASS\"", nullptr},
    {"find(\"S\", s) + strlen(s)", nullptr},
    {"Tbl[i] * 2", nullptr},
    {"Tbl[3] + a", nullptr},
};

class Fixture {
 public:
  Fixture() {
    CtVar& app = *cond_.AppVar();
    app["a"] = 3.0;
    app["b"] = 4.0;
    app["c"] = 5.0;
    app["s"] = "PASS";
    app["i"] = 2.0;
    for (int k = 0; k < 8; ++k) app["Tbl"][k] = k * 1.5;
  }
  CCondOutput& cond() { return cond_; }

 private:
  CtVar root_;
  CCondOutput cond_{&root_};
};

void BM_EvalCondition(benchmark::State& state) {
  static Fixture fixture;
  const char* line = kLines[state.range(0)].ours;
  state.SetLabel(line);
  OZK_EQ_RESULT result{};
  double sink = fixture.cond().EvalCondition(line, &result);  // warms the cache
  for (auto _ : state) {
    result.text[0] = '\0';
    result.pool_used = 0;
    sink += fixture.cond().EvalCondition(line, &result);
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvalCondition)->DenseRange(0, 9);

// Entering and leaving the tree lock: what a line that reads texts, or a line whose nodes changed
// while it ran, pays on top of its evaluation. Warm numeric lines read without it.
void BM_TreeLock(benchmark::State& state) {
  for (auto _ : state) {
    CtVarLock lock;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TreeLock);

#ifdef VEL_HAVE_MUPARSER
void BM_MuParser(benchmark::State& state) {
  const char* line = kLines[state.range(0)].muparser;
  state.SetLabel(line);
  double a = 3, b = 4, c = 5;
  mu::Parser parser;
  parser.DefineVar("a", &a);
  parser.DefineVar("b", &b);
  parser.DefineVar("c", &c);
  parser.SetExpr(line);
  double sink = parser.Eval();
  for (auto _ : state) {
    sink += parser.Eval();
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MuParser)->DenseRange(0, 5);
#endif

}  // namespace

BENCHMARK_MAIN();
