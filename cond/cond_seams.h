// The services outside this subsystem that the expression evaluator calls.
//
// Each service is a small interface with a process-wide settable instance. Until the owning
// subsystem installs its own (the client session, the destination manager, the statement loop),
// a do-nothing default answers: parameters read 0, register transfers fail, user functions do not
// run. Set(nullptr) restores the default. The printer's default is the stand-in of printer.h.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

class CtVar;

// Device parameters ("P." names, the function of the client session).
class XCondParams {
 public:
  virtual ~XCondParams() = default;
  virtual double GetParam(const char* name, int flags) = 0;

  static XCondParams& Get();
  static void Set(XCondParams* params);
};

// Block transfers of destination registers, for "copy" on attached variables.
class XCondRegisters {
 public:
  virtual ~XCondRegisters() = default;
  // Read or write values.size() registers from index reg of dest; 1 on success.
  virtual int ReadRegisters(const char* dest, uint32_t reg, std::span<double> values,
                            CtVar* var) = 0;
  virtual int WriteRegisters(const char* dest, uint32_t reg, std::span<const double> values,
                             CtVar* var) = 0;

  static XCondRegisters& Get();
  static void Set(XCondRegisters* registers);
};

// The statement loop that runs user functions, and the periodic-function time budget.
class XCondFunctionRunner {
 public:
  virtual ~XCondFunctionRunner() = default;
  // Runs the user function name with parameters (children "p1", "p2"; receives "return").
  // Returns 1 when the function ran.
  virtual int InvokeFunction(const char* name, CtVar* parameters, uint32_t timeout_ms) = 0;
  // When the calling thread runs a periodic function: extends its budget by ms and returns
  // true; otherwise false.
  virtual bool ExtendPeriodicBudget(uint32_t ms) = 0;

  static XCondFunctionRunner& Get();
  static void Set(XCondFunctionRunner* runner);
};

// The printer: receives one finished document.
class XCondPrinter {
 public:
  virtual ~XCondPrinter() = default;
  // Returns 1 when the document was handed on.
  virtual int PrintDocument(std::string_view document) = 0;

  static XCondPrinter& Get();
  static void Set(XCondPrinter* printer);
};
