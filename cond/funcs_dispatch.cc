// Calls of built-in functions: each family gets its codes; every other name evaluates to 0.
#include "cond/cond_internal.h"
#include "cond/cond_output.h"

// Every function ends here; names without a meaning in this library evaluate to 0.
void CCondOutput::CallFunction(OZK_COND_TERM* out, OZK_OP_TYPE code,
                               std::span<const OZK_COND_TERM> args, OZK_EQ_RESULT* result,
                               CtVar* function) {
  if (MathFunction(out, code, args, result)) return;
  if (TextFunction(out, code, args, result)) return;
  if (FlowFunction(out, code, args, result, function)) return;
  if (VarFunction(out, code, args)) return;
  cond::SetNumber(out, 0);
}

OZK_COND_TERM* CCondOutput::InvokeZnaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code,
                                            OZK_EQ_RESULT* result, CtVar* function) {
  CallFunction(term, code, {}, result, function);
  return term;
}

OZK_COND_TERM* CCondOutput::InvokeUnaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code,
                                            const OZK_COND_TERM& a, OZK_EQ_RESULT* result,
                                            CtVar* function) {
  CallFunction(term, code, std::span<const OZK_COND_TERM>(&a, 1), result, function);
  return term;
}

OZK_COND_TERM* CCondOutput::InvokeBinaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code,
                                             const OZK_COND_TERM& a, const OZK_COND_TERM& b,
                                             OZK_EQ_RESULT* result, CtVar* function) {
  const OZK_COND_TERM args[2] = {a, b};
  CallFunction(term, code, args, result, function);
  return term;
}

OZK_COND_TERM* CCondOutput::InvokeTrinaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code,
                                              const OZK_COND_TERM& a, const OZK_COND_TERM& b,
                                              const OZK_COND_TERM& c, OZK_EQ_RESULT* result) {
  const OZK_COND_TERM args[3] = {a, b, c};
  CallFunction(term, code, args, result, nullptr);
  return term;
}

OZK_COND_TERM* CCondOutput::InvokeQuadnaryFunc(OZK_COND_TERM* term, OZK_OP_TYPE code,
                                               std::span<const OZK_COND_TERM, 4> args,
                                               OZK_EQ_RESULT* result) {
  CallFunction(term, code, args, result, nullptr);
  return term;
}
