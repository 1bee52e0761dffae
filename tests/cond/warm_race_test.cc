// Warm lines evaluated while another thread changes, deletes and re-creates their variables: a
// value must come from one state of the tree, never from a mix of two.
#include <atomic>
#include <thread>

#include "tests/cond/cond_fixture.h"

namespace {

// Every state keeps a + b = 0, c = a, Tbl[i] = a and a > 0; the writer changes a state within one
// hold of the tree lock, deleting variables and re-creating them in some rounds.
class WarmRaceTest : public CondTest {
 protected:
  void SetState(int k) {
    CtVarLock lock;
    const std::string element = std::to_string(k % 4);
    if (k % 3 == 0) {
      for (CtVar* gone : {cond_.AppVar()->Index("a", 0), Var("Tbl").Index(element.c_str(), 0)}) {
        if (gone) gone->Release();
      }
    }
    Var("a") = k;
    Var("b") = -k;
    Var("c") = k;
    Var("i") = k % 4;
    Var("Tbl")[element.c_str()] = k;
  }
};

TEST_F(WarmRaceTest, LinesSeeOneStateWhileAnotherThreadChangesIt) {
  const struct {
    const char* line;
    double value;
  } lines[] = {
      {"a + b", 0},
      {"c - a", 0},
      {"Tbl[i] - a", 0},
      {"a > 0 AND b < 0", 1},
      {"sqrt(c * c) - a + b * 0", 0},
  };
  SetState(1);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int k = 2; k < 5000; ++k) {
      SetState(k);
      std::this_thread::yield();  // lets the reader in without the lock
    }
    done = true;
  });
  int evaluations = 0;
  int mixed = 0;
  while (!done) {
    for (const auto& l : lines) {
      OZK_EQ_RESULT r{};
      if (cond_.EvalCondition(l.line, &r) != l.value) ++mixed;
      ++evaluations;
    }
  }
  writer.join();
  EXPECT_EQ(mixed, 0) << "of " << evaluations;
  EXPECT_GT(evaluations, 0);
}

}  // namespace
