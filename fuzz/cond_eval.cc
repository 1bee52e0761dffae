// Arbitrary lines evaluated against a small tree, with and without a result record, until warm.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cond/cond_output.h"
#include "cond/cond_seams.h"
#include "vartree/tvar.h"

namespace {

// Printed documents are dropped: a fuzzing run must not fill the spool folder.
class DiscardPrinter : public XCondPrinter {
 public:
  int PrintDocument(std::string_view) override { return 1; }
};

void Populate(CtVar& app) {
  app["a"] = 2.0;
  app["b"] = 3.5;
  app["s"] = "text value";
  app["Tbl[0]"] = 1.0;
  app["Tbl[1]"] = 4.0;
  app["Tbl[2]"] = 9.0;
  app["i"] = 1.0;
  app["Names[0]"] = "Tbl";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CtVar* root = new CtVar();
  static CCondOutput* cond = [] {
    XCondPrinter::Set(new DiscardPrinter);
    auto* c = new CCondOutput(root);
    Populate(*c->AppVar());
    return c;
  }();
  const std::string line(reinterpret_cast<const char*>(data), size);
  OZK_EQ_RESULT result;
  std::memset(&result, 0, sizeof result);
  CtVar local;
  result.local = &local;
  cond->EvalCondition(line.c_str(), &result);
  if (std::strlen(result.text) >= sizeof(result.text)) __builtin_trap();
  if (result.pool_used > sizeof(result.pool)) __builtin_trap();
  // Parsed, recorded, compiled, then run from the thread's own copy without the tree lock.
  for (int k = 0; k < 4; ++k) cond->EvalCondition(line.c_str(), nullptr);
  CtVar& target = (*cond->AppVar())["out"];
  cond->EvalEquation(line.c_str(), &target, nullptr, nullptr);
  if (CtVar::LiveCount() > 2000) {
    cond->AppVar()->RemoveAllChildren();
    Populate(*cond->AppVar());
  }
  cond->FlushPrintQueue();
  return 0;
}
