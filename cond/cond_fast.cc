// The numeric program of a cached line: a warm line whose values are all plain numbers is run on
// an array of doubles, without copying term records or binding its variables again.
#include <array>

#include "cond/cond_internal.h"
#include "cond/op_table.h"
#include "vartree/tvar.h"

namespace cond {

namespace {

constexpr int8_t kZeroRegister = kCondMaxTerms;
constexpr OZK_OP_TYPE kNegateCode = 0;

// Text, register-attached and mirrored nodes need the full read.
bool PlainNumber(const CtVar& node) {
  const uint32_t type = node.GetStoredType();
  return type != OZK_TVAR_STRING && type != OZK_TVAR_DEST && !node.GetRpc();
}

bool IsNumericCall(OZK_OP_TYPE code) {
  double unused;
  return NumericFunction(code, 0, 0, &unused);
}

// Which registers hold a value so far: a step may read only those, or the program would depend
// on what the evaluation in place leaves in a term it never wrote.
using Defined = std::array<bool, kCondMaxTerms + 1>;

bool CompileLoads(const OZK_CACHED_COND_TERMS& rec, CondFastProgram* p, Defined* defined) {
  for (uint32_t i = 0; i < rec.count; ++i) {
    const OZK_COND_TERM& t = rec.terms[i];
    if (!IsValueTerm(t.type) && static_cast<int32_t>(i) != rec.tape_result) continue;
    CondFastLoad load{nullptr, t.value, static_cast<int8_t>(i), 0};
    if (t.variable && IsValueTerm(t.type)) {
      if (rec.rebind[i] || !PlainNumber(*t.variable)) return false;
      load.node = t.variable;
      load.negate = t.negate != 0;
    } else if (t.type == OP_TEXT) {
      return false;
    }
    p->load[p->loads++] = load;
    (*defined)[i] = true;
  }
  return true;
}

bool CompileSteps(const OZK_CACHED_COND_TERMS& rec, CondFastProgram* p, Defined* defined) {
  for (int i = 0; i < rec.tape_steps; ++i) {
    const CondTapeStep& s = rec.tape[i];
    CondFastStep f{s.code, s.left, s.left, s.right, s.negate};
    if (s.kind == CondTapeStep::kOperator && !IsBinaryOperator(s.code)) return false;
    if (s.kind == CondTapeStep::kNegateGroup) {
      f.code = kNegateCode;
      f.b = f.a;
    }
    if (s.kind == CondTapeStep::kCall) {
      if (!IsNumericCall(s.code) || s.nargs > 2) return false;
      f.target = s.slot;
      f.a = s.nargs > 0 && s.args[0] >= 0 ? s.args[0] : kZeroRegister;
      f.b = s.nargs > 1 && s.args[1] >= 0 ? s.args[1] : kZeroRegister;
    }
    if (!(*defined)[f.a] || !(*defined)[f.b]) return false;
    (*defined)[f.target] = true;
    p->step[p->steps++] = f;
  }
  return (*defined)[rec.tape_result];
}

}  // namespace

void CompileFastProgram(OZK_CACHED_COND_TERMS* rec) {
  CondFastProgram& p = rec->fast;
  p.ready = 0;
  p.settled = 1;
  p.loads = 0;
  p.steps = 0;
  if (rec->count == 0 || rec->count > kCondMaxTerms || rec->tape_steps < 0) return;
  if (rec->tape_result < 0 || rec->tape_result >= static_cast<int32_t>(rec->count)) return;
  Defined defined{};
  defined[kZeroRegister] = true;
  if (!CompileLoads(*rec, &p, &defined) || !CompileSteps(*rec, &p, &defined)) return;
  p.result = static_cast<int8_t>(rec->tape_result);
  p.ready = 1;
  p.settled = 0;
}

bool RunFastProgram(const OZK_CACHED_COND_TERMS& rec, OZK_EQ_RESULT* result, double* value) {
  const CondFastProgram& p = rec.fast;
  double regs[kCondMaxTerms + 1];
  regs[kZeroRegister] = 0;
  for (int i = 0; i < p.loads; ++i) {
    const CondFastLoad& load = p.load[i];
    if (!load.node) {
      regs[load.reg] = load.constant;
      continue;
    }
    // A node that became text or got linked since the program was made: evaluate the full way.
    if (!PlainNumber(*load.node)) return false;
    const double v = load.node->StoredNumber();
    regs[load.reg] = load.negate ? -v : v;
  }
  for (int i = 0; i < p.steps; ++i) {
    const CondFastStep& s = p.step[i];
    const double x = regs[s.a];
    const double y = regs[s.b];
    double v = 0;
    if (IsBinaryOperator(s.code)) {
      v = NumericOperator(s.code, x, y);
    } else if (s.code == kNegateCode) {
      v = -x;
    } else {
      NumericFunction(s.code, x, y, &v);
      // An assignment of int(...) always stores a number.
      if (s.code == FN_INT && result) result->text[0] = '\0';
      if (s.negate) v = -v;
    }
    regs[s.target] = v;
  }
  *value = regs[p.result];
  return true;
}

}  // namespace cond
