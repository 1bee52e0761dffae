#include "cond/cond_seams.h"

#include <atomic>

#include "cond/printer.h"

namespace {

class NoParams : public XCondParams {
 public:
  double GetParam(const char*, int) override { return 0; }
};

class NoRegisters : public XCondRegisters {
 public:
  int ReadRegisters(const char*, uint32_t, std::span<double>, CtVar*) override { return 0; }
  int WriteRegisters(const char*, uint32_t, std::span<const double>, CtVar*) override { return 0; }
};

class NoFunctionRunner : public XCondFunctionRunner {
 public:
  int InvokeFunction(const char*, CtVar*, uint32_t) override { return 0; }
  bool ExtendPeriodicBudget(uint32_t) override { return false; }
};

template <typename Service, typename Default>
class Slot {
 public:
  Service& Get() {
    Service* s = current_.load(std::memory_order_acquire);
    return s ? *s : default_;
  }
  void Set(Service* s) { current_.store(s, std::memory_order_release); }

 private:
  Default default_;
  std::atomic<Service*> current_{nullptr};
};

Slot<XCondParams, NoParams> g_params;
Slot<XCondRegisters, NoRegisters> g_registers;
Slot<XCondFunctionRunner, NoFunctionRunner> g_runner;
Slot<XCondPrinter, CCondPrinter> g_printer;

}  // namespace

XCondParams& XCondParams::Get() {
  return g_params.Get();
}
void XCondParams::Set(XCondParams* p) {
  g_params.Set(p);
}
XCondRegisters& XCondRegisters::Get() {
  return g_registers.Get();
}
void XCondRegisters::Set(XCondRegisters* r) {
  g_registers.Set(r);
}
XCondFunctionRunner& XCondFunctionRunner::Get() {
  return g_runner.Get();
}
void XCondFunctionRunner::Set(XCondFunctionRunner* r) {
  g_runner.Set(r);
}
XCondPrinter& XCondPrinter::Get() {
  return g_printer.Get();
}
void XCondPrinter::Set(XCondPrinter* p) {
  g_printer.Set(p);
}
