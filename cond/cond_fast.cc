// Compiling the numeric program of a cached line: its recorded steps become a postfix program
// over plain numbers, run by the warm path (cond_warm.cc). Texts may take part where they give a
// number (comparisons, arithmetic on value fields, strlen, find, getchar, int, float); a step
// that would produce a text, or change anything, leaves the line to the full evaluation.
#include <cctype>
#include <utility>

#include "cond/cond_internal.h"
#include "vartree/tvar.h"

namespace cond {

namespace {

template <OZK_OP_TYPE kCode>
double Numeric(double x, double y) {
  double v = 0;
  NumericFunction(kCode, x, y, &v);
  return v;
}

template <size_t... kCodes>
constexpr std::array<CondNumericFn, sizeof...(kCodes)> NumericTable(
    std::index_sequence<kCodes...>) {
  return {&Numeric<static_cast<OZK_OP_TYPE>(kCodes)>...};
}

// Every function of numbers by its code.
constexpr auto kNumeric = NumericTable(std::make_index_sequence<OP_SPENT>());

// The operator that gives the same value with the operands swapped; 0 when there is none. Numbers
// have no effect when read, so the order they are read in does not matter.
OZK_OP_TYPE Swapped(OZK_OP_TYPE code) {
  switch (code) {
    case OP_GT:
      return OP_LT;
    case OP_LT:
      return OP_GT;
    case OP_GE:
      return OP_LE;
    case OP_LE:
      return OP_GE;
    case OP_EQ:
    case OP_NE:
    case OP_ADD:
    case OP_MUL:
    case OP_BITAND:
    case OP_BITOR:
    case OP_AND:
    case OP_OR:
      return code;
    default:
      return 0;
  }
}

bool IsNumericCall(OZK_OP_TYPE code) {
  double unused;
  return NumericFunction(code, 0, 0, &unused);
}

// Functions that read texts and give a number without any other effect.
bool IsTextToNumberCall(OZK_OP_TYPE code) {
  return code == FN_STRLEN || code == FN_FIND || code == FN_GETCHAR || code == FN_INT ||
         code == FN_FLOAT;
}

// The recorded steps rewritten as an expression tree: each step makes a node out of the nodes its
// operands' terms hold at that point, so a term read twice gives the same value both times.
// Whether a value is a text is known from the nodes' types when the program is made; the program
// checks them when it reads the nodes.
struct Expr {
  enum Kind : uint8_t { kLeaf, kZero, kOperator, kNegate, kCall } kind;
  int8_t term;  // kLeaf
  int8_t nargs;
  uint8_t negate;
  OZK_OP_TYPE code;
  int16_t a, b;
  bool text;        // the value is a text
  bool reads_text;  // kOperator, kCall: an operand is a text
};

class Compiler {
 public:
  Compiler(const OZK_CACHED_COND_TERMS& rec, CtVar* app_var, CtVar* functions)
      : rec_(rec), app_var_(app_var), functions_(functions) {}

  bool Compile(CondFastProgram* p) {
    for (int i = 0; i < kCondMaxTerms; ++i) current_[i] = -1;
    for (uint32_t i = 0; i < rec_.count; ++i) {
      const OZK_OP_TYPE type = rec_.terms[i].type;
      if (IsValueTerm(type)) {
        current_[i] = Add({Expr::kLeaf, int8_t(i), 0, 0, 0, 0, 0, type == OP_TEXT, false});
      }
    }
    const int16_t zero = Add({Expr::kZero, -1, 0, 0, 0, 0, 0, false, false});
    for (int i = 0; i < rec_.tape_steps; ++i) {
      const CondTapeStep& s = rec_.tape[i];
      Expr e{Expr::kOperator, -1, 0, s.negate, s.code, 0, 0, false, false};
      int8_t target = s.left;
      if (s.kind == CondTapeStep::kOperator) {
        if (!IsBinaryOperator(s.code)) return false;
        e.a = current_[s.left];
        e.b = current_[s.right];
      } else if (s.kind == CondTapeStep::kNegateGroup) {
        e.kind = Expr::kNegate;
        e.a = e.b = current_[s.left];
      } else {
        if (s.nargs < 1 || s.nargs > 2) return false;
        e.kind = Expr::kCall;
        e.nargs = s.nargs;
        e.a = s.args[0] >= 0 ? current_[s.args[0]] : zero;
        e.b = s.nargs > 1 && s.args[1] >= 0 ? current_[s.args[1]] : zero;
        target = s.slot;
        if (s.code == FN_INT) p->clears_text = 1;
      }
      // A step may read only what holds a value: the evaluation in place would leave whatever it
      // left in a term it never wrote.
      if (e.a < 0 || e.b < 0) return false;
      e.reads_text = exprs_[e.a].text || (e.kind != Expr::kNegate && exprs_[e.b].text);
      if (!Typed(&e)) return false;
      current_[target] = Add(e);
    }
    const int16_t root = current_[rec_.tape_result];
    if (root < 0 || overflow_ || exprs_[root].text) return false;
    p->count = 0;
    depth_ = 0;
    return Emit(root, p);
  }

 private:
  // Whether the step can run here, and whether its value is a text.
  bool Typed(const Expr* e) const {
    switch (e->kind) {
      case Expr::kNegate:
        return !e->reads_text;  // a negated group that holds a text stays a text
      case Expr::kOperator:
        // A text on the left of "+" makes a joined text; everything else gives a number.
        return !(e->code == OP_ADD && exprs_[e->a].text);
      case Expr::kCall:
        return e->reads_text || !IsNumericCall(e->code) ? IsTextToNumberCall(e->code) : true;
      default:
        return true;
    }
  }

  int16_t Add(const Expr& e) {
    if (used_ >= static_cast<int>(sizeof(exprs_) / sizeof(exprs_[0]))) {
      overflow_ = true;
      return -1;
    }
    exprs_[used_] = e;
    return static_cast<int16_t>(used_++);
  }

  bool Push(CondFastProgram* p, const CondFastOp& op) {
    if (p->count >= kCondFastOps) return false;
    p->op[p->count++] = op;
    return true;
  }

  bool Emit(int16_t at, CondFastProgram* p) {
    const Expr& e = exprs_[at];
    CondFastOp op{};
    switch (e.kind) {
      case Expr::kZero:
        op.kind = CondFastOp::kConstant;
        return Grow() && Push(p, op);
      case Expr::kLeaf:
        return Grow() && Leaf(rec_.terms[e.term], rec_.rebind[e.term], &op) && Push(p, op);
      case Expr::kNegate:
        op.kind = CondFastOp::kNegate;
        return Emit(e.a, p) && Push(p, op);
      case Expr::kOperator:
      case Expr::kCall:
        op.code = e.code;
        op.nargs = e.kind == Expr::kOperator ? 2 : e.nargs;
        op.texts = (exprs_[e.a].text ? 1 : 0) | (op.nargs == 2 && exprs_[e.b].text ? 2 : 0);
        if (e.kind == Expr::kOperator) {
          op.kind = e.reads_text ? CondFastOp::kTextOperator : CondFastOp::kOperator;
        } else if (e.reads_text || !IsNumericCall(e.code)) {
          op.kind = CondFastOp::kTextCall;
        } else {
          op.kind = e.nargs == 2 ? CondFastOp::kCall2 : CondFastOp::kCall1;
          op.fn = kNumeric[e.code];
        }
        if (op.kind == CondFastOp::kOperator) {
          CondFastOp fused = op;
          if (Fuse(exprs_[e.b], &fused)) return Emit(e.a, p) && Push(p, fused);
          // "a + b * c" as "b * c + a": the lone operand is read in place as well.
          fused.code = Swapped(e.code);
          if (fused.code != 0 && Fuse(exprs_[e.a], &fused)) return Emit(e.b, p) && Push(p, fused);
        }
        if (!Emit(e.a, p)) return false;
        if (op.nargs == 2) {
          if (!Emit(e.b, p)) return false;
          --depth_;
        }
        if (!Push(p, op)) return false;
        if (e.kind == Expr::kCall && e.negate) {
          op = CondFastOp{};
          op.kind = CondFastOp::kNegate;
          return Push(p, op);
        }
        return true;
    }
    return false;
  }

  bool Grow() { return ++depth_ <= kCondFastStack; }

  // An operator whose right operand is a constant or a plain number node reads it in place of a
  // push and a pop: most operators of a line have such an operand.
  bool Fuse(const Expr& right, CondFastOp* op) {
    if (right.kind != Expr::kLeaf || right.text || rec_.rebind[right.term]) return false;
    CondFastOp leaf{};
    if (!Leaf(rec_.terms[right.term], false, &leaf)) return false;
    op->kind =
        leaf.kind == CondFastOp::kNode ? CondFastOp::kOperatorNode : CondFastOp::kOperatorConstant;
    op->node = leaf.node;
    op->negate = leaf.negate;
    op->constant = leaf.constant;
    return true;
  }

  bool Leaf(const OZK_COND_TERM& t, bool computed_index, CondFastOp* op) {
    if (t.type == OP_TEXT) {
      // A literal points into the record's copy of the line; a variable is read on every run.
      if (computed_index) return false;
      op->kind = CondFastOp::kText;
      op->node = t.variable;
      op->text = t.variable ? nullptr : t.text;
      return !t.variable || TextNode(*t.variable);
    }
    if (!t.variable) {
      op->kind = CondFastOp::kConstant;
      op->constant = t.value;
      return true;
    }
    if (!PlainNumber(*t.variable)) return false;
    op->kind = CondFastOp::kNode;
    op->node = t.variable;
    op->negate = t.negate != 0;
    return !computed_index || Element(t, op);
  }

  // "array[index]" with index the name of a number variable right below app_var: the element is
  // looked up by the index's value on every run (the array is the bound element's parent).
  bool Element(const OZK_COND_TERM& t, CondFastOp* op) {
    const std::string_view name(t.name);
    const size_t open = name.find('[');
    if (open == 0 || name.back() != ']' || name.find('[', open + 1) != std::string_view::npos) {
      return false;
    }
    const std::string_view index = name.substr(open + 1, name.size() - open - 2);
    if (index.empty() || !std::isalpha(static_cast<unsigned char>(index[0]))) return false;
    for (char c : index) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    if (FindBuiltinFunction(index) || !app_var_ || !t.variable->GetParent()) return false;
    if (functions_ && functions_->Index(index, 0)) return false;
    CtVar* const index_node = app_var_->Index(index, 0);
    if (!index_node || !PlainNumber(*index_node)) return false;
    op->kind = CondFastOp::kElement;
    op->node = t.variable->GetParent();
    op->index = index_node;
    op->last_element = nullptr;
    return true;
  }

  const OZK_CACHED_COND_TERMS& rec_;
  CtVar* const app_var_;
  CtVar* const functions_;
  int16_t current_[kCondMaxTerms];  // the expression each term holds now; -1: none
  Expr exprs_[2 * kCondMaxTerms + 1];
  int used_ = 0;
  bool overflow_ = false;
  int depth_ = 0;
};

}  // namespace

void CompileFastProgram(OZK_CACHED_COND_TERMS* rec, CtVar* app_var, CtVar* functions) {
  CondFastProgram& p = rec->fast;
  p.ready = 0;
  p.settled = 1;
  p.clears_text = 0;
  p.locked_only = 0;
  p.count = 0;
  if (rec->count == 0 || rec->count > kCondMaxTerms || rec->tape_steps < 0) return;
  if (rec->tape_result < 0 || rec->tape_result >= static_cast<int32_t>(rec->count)) return;
  Compiler compiler(*rec, app_var, functions);
  if (!compiler.Compile(&p)) return;
  p.ready = 1;
  p.settled = 0;
}

}  // namespace cond
