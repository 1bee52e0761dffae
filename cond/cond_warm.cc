// The warm path of EvalCondition: the calling thread's table, the line's record found by the
// line's address, and the record's program run on a small stack of values. Everything else goes
// to the full evaluation (EvalTerms). What runs for every image lives in this one file so that it
// compiles into one function.
//
// A line whose program reads numbers alone runs without the tree lock, from the thread's own copy
// of the program (nobody else writes it, unlike the tables, which ClearFunctionCache clears and
// hands to other threads under the lock). The copy counts while the plain-number epoch and the
// object's cache generation are those it was made under; its values count when no thread took
// the tree lock while they were read (CtVar::BeginUnlockedRead). Node pointers of the copy may
// name nodes deleted since, or nodes that hold texts now, but then the epoch has moved: their
// memory stays node memory and the values read from it are dropped. Anything else, or a failed
// check, takes the lock as before.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "platform/mutex.h"
#include "vartree/tvar.h"

namespace {

size_t LineMemoSlot(const char* text) {
  const uint64_t h = reinterpret_cast<uintptr_t>(text) * UINT64_C(0x9E3779B97F4A7C15);
  static_assert((kCondRememberedLines & (kCondRememberedLines - 1)) == 0);
  return static_cast<size_t>(h >> (64 - std::countr_zero(unsigned{kCondRememberedLines})));
}

// Whether text is the record's line.
bool HoldsLine(const OZK_CACHED_COND_TERMS& rec, const char* text) {
  return rec.length != 0 && std::strcmp(rec.source, text) == 0;
}

// The record text was found in last by its address, when it still holds text; the common case,
// inlined into EvalCondition.
[[gnu::always_inline]] inline OZK_CACHED_COND_TERMS* RememberedLine(CondCacheTable* table,
                                                                    const char* text) {
  if (!table) return nullptr;
  const CondCacheTable::Line& line = table->lines[LineMemoSlot(text)];
  return line.text == text && HoldsLine(*line.record, text) ? line.record : nullptr;
}

// The element of op's array named by the value of op's index; null when it does not exist yet
// or the index is negative (a name that does not start with a digit is resolved indirectly).
// Out of line: a new index is rare, and its lookup would crowd the run loop.
[[gnu::noinline]] CtVar* Element(CondFastOp& op) {
  const int32_t n = cond::ToInt32(op.index->StoredNumber());
  if (op.last_element && n == op.last_index) return op.last_element;
  if (n < 0) return nullptr;
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof(digits), n);
  CtVar* const child = op.node->GetChild(std::string_view(digits, end - digits), 0, 0, 0);
  if (!child || child == op.node) return nullptr;
  op.last_index = n;
  op.last_element = child;
  return child;
}

// The number node holds, negated when negate is set; false when there is no node or it became
// text or got linked since the program was made (the line then takes the full way).
bool ReadNumber(const CtVar* node, bool negate, double* v) {
  if (!node || !cond::PlainNumber(*node)) return false;
  *v = negate ? -node->StoredNumber() : node->StoredNumber();
  return true;
}

// A value of the program as a term, for the operators and functions shared with the full
// evaluation; text null for a number.
OZK_COND_TERM AsTerm(double value, const char* text) {
  OZK_COND_TERM t;
  t.value = value;
  t.text = text;
  t.type = text ? OP_TEXT : OP_NUMBER;
  t.variable = nullptr;
  t.negate = 0;
  return t;
}

// A step of a program run without the lock: the numeric steps of CondFastOp with the operator
// folded into the step, and a node read folded into the operator after it, so that most steps of
// a line cost one dispatch. No step checks its nodes: the line counts only while the plain-number
// epoch is the one its nodes were checked under.
enum UnlockedKind : uint8_t {
  kReturn,  // ends every program
  kPushConstant,
  kPushNode,
  kPushElement,
  kNegateTop,
  kCallOne,
  kCallOnNode,  // pushes fn(node)
  kCallTwo,
  kSquareTop,  // pow(top, 2), the same number as a product
  kSqrtTop,
  kBothTrue,    // AND of two truth values (0 or 1): their minimum
  kEitherTrue,  // OR of two truth values: their maximum
  kFirstOperator,
};
// The operands of an operator step.
enum Operands : uint8_t {
  kBelowAndTop,      // replaces the two top values
  kTopAndNode,       // replaces the top
  kTopAndConstant,   // replaces the top
  kNodeAndNode,      // pushes
  kNodeAndConstant,  // pushes
  kTopAndProduct,    // top with node * other: the inner step of a sum of products
  kTopAndScaled,     // top with node * constant
};
constexpr int kOperatorCodes = OP_OR;  // the binary operators are 1..OP_OR

constexpr uint8_t OperatorStep(Operands from, OZK_OP_TYPE code) {
  return static_cast<uint8_t>(kFirstOperator + from * kOperatorCodes + (code - 1));
}
static_assert(kFirstOperator + (kTopAndScaled + 1) * kOperatorCodes <= UINT8_MAX + 1);

struct UnlockedOp {
  uint8_t kind = kReturn;  // UnlockedKind, or OperatorStep
  int32_t last_index = 0;  // kPushElement: the index value element was found for
  double constant = 0;
  CondNumericFn fn = nullptr;
  const CtVar* node = nullptr;     // kPushElement: the array
  const CtVar* other = nullptr;    // the second node of a pair; kPushElement: the index
  const CtVar* element = nullptr;  // kPushElement
};
constexpr int kUnlockedOps = 64;

struct Ran {
  double value;
  bool ok;  // false: an index names another element than last time
};

// The thread's copy of a line's program, found by the line's address.
// A page each, what every evaluation checks in the first cache line and the source from the
// second: strcmp takes a slower path when either string lies near the end of a page (it tests the
// two addresses' page offsets together), and a source near the start of a page leaves that to
// where the caller keeps the line.
struct alignas(4096) UnlockedLine {
  const char* text;     // null: empty
  uint64_t generation;  // the CCondOutput's cache generation
  uint64_t epoch;       // CtVar::PlainNumberEpoch()
  uint8_t clears_text;
  uint8_t calls;  // a step calls a function
  alignas(64) char source[kCondMaxCachedLine + 1];
  UnlockedOp op[kUnlockedOps];
};
static_assert(sizeof(UnlockedLine) == 4096);
struct UnlockedLines {
  UnlockedLine line[kCondRememberedLines];
};

// Initial-exec: one load relative to the thread pointer, no call. The owner frees it at exit.
thread_local UnlockedLines* t_unlocked [[gnu::tls_model("initial-exec")]] = nullptr;
thread_local std::unique_ptr<UnlockedLines> t_unlocked_owner;

bool GivesTruth(OZK_OP_TYPE code) {
  return (code >= OP_EQ && code <= OP_LE) || code == OP_AND || code == OP_OR;
}

// Turns a record's numeric program into unlocked steps, fusing as it goes; false when the program
// reads or makes a text or does not fit.
class UnlockedBuilder {
 public:
  explicit UnlockedBuilder(UnlockedOp* out) : out_(out) {}
  int count() const { return count_; }

  bool Add(const CondFastOp& op, const CondFastOp* next, bool* took_next) {
    *took_next = false;
    const bool binary = op.code >= OP_EQ && op.code <= OP_OR;
    switch (op.kind) {
      case CondFastOp::kConstant:
        if (op.constant == 2 && next && next->kind == CondFastOp::kCall2 && next->code == FN_POW) {
          *took_next = true;
          return Square();
        }
        return Push(UnlockedOp{.kind = kPushConstant, .constant = op.constant});
      case CondFastOp::kNode:
        return Push(UnlockedOp{.kind = kPushNode, .node = op.node}) && NegateIf(op.negate);
      case CondFastOp::kElement:
        return Push(UnlockedOp{.kind = kPushElement,
                               .last_index = op.last_index,
                               .node = op.node,
                               .other = op.index,
                               .element = op.last_element}) &&
               NegateIf(op.negate);
      case CondFastOp::kNegate:
        return Step(UnlockedOp{.kind = kNegateTop}, kNumber);
      case CondFastOp::kCall1:
        if (op.code == FN_SQRT) return Step(UnlockedOp{.kind = kSqrtTop}, kNumber);
        if (FusesWithPush()) {
          return Fuse(UnlockedOp{.kind = kCallOnNode, .fn = op.fn, .node = out_[count_ - 1].node},
                      kNumber);
        }
        return Step(UnlockedOp{.kind = kCallOne, .fn = op.fn}, kNumber);
      case CondFastOp::kCall2:
        return Pop(UnlockedOp{.kind = kCallTwo, .fn = op.fn});
      case CondFastOp::kOperator:
        return binary && Operator(op.code);
      case CondFastOp::kOperatorNode:
        if (!binary) return false;
        if (op.negate) {
          return Push(UnlockedOp{.kind = kPushNode, .node = op.node}) && NegateIf(true) &&
                 Operator(op.code);
        }
        if (FusesWithPush()) {
          return Fuse(UnlockedOp{.kind = OperatorStep(kNodeAndNode, op.code),
                                 .node = out_[count_ - 1].node,
                                 .other = op.node},
                      Result(op.code));
        }
        return Step(UnlockedOp{.kind = OperatorStep(kTopAndNode, op.code), .node = op.node},
                    Result(op.code));
      case CondFastOp::kOperatorConstant:
        if (!binary) return false;
        if (FusesWithPush()) {
          return Fuse(UnlockedOp{.kind = OperatorStep(kNodeAndConstant, op.code),
                                 .constant = op.constant,
                                 .node = out_[count_ - 1].node},
                      Result(op.code));
        }
        return Step(
            UnlockedOp{.kind = OperatorStep(kTopAndConstant, op.code), .constant = op.constant},
            Result(op.code));
      default:
        return false;
    }
  }

 private:
  enum Value : uint8_t { kNumber, kTruth };  // a truth value is 0 or 1
  static Value Result(OZK_OP_TYPE code) { return GivesTruth(code) ? kTruth : kNumber; }

  bool Emit(const UnlockedOp& op) {
    if (count_ == kUnlockedOps - 1) return false;  // the last step returns
    out_[count_++] = op;
    return true;
  }
  bool Push(const UnlockedOp& op, Value v = kNumber) {
    if (depth_ == kUnlockedOps) return false;
    values_[depth_++] = v;
    return Emit(op);
  }
  bool Step(const UnlockedOp& op, Value v) {
    values_[depth_ - 1] = v;
    return Emit(op);
  }
  bool Pop(const UnlockedOp& op, Value v = kNumber) {
    --depth_;
    return Step(op, v);
  }
  bool NegateIf(bool negate) { return !negate || Step(UnlockedOp{.kind = kNegateTop}, kNumber); }
  // Whether the last step pushed a node that the next operator can read itself.
  bool FusesWithPush() const { return count_ > 0 && out_[count_ - 1].kind == kPushNode; }
  bool Fuse(const UnlockedOp& op, Value v) {
    out_[count_ - 1] = op;
    values_[depth_ - 1] = v;
    return true;
  }
  bool Square() {
    if (FusesWithPush()) {
      const CtVar* const node = out_[count_ - 1].node;
      return Fuse(
          UnlockedOp{.kind = OperatorStep(kNodeAndNode, OP_MUL), .node = node, .other = node},
          kNumber);
    }
    return Step(UnlockedOp{.kind = kSquareTop}, kNumber);
  }
  bool Operator(OZK_OP_TYPE code) {
    const bool truths =
        depth_ >= 2 && values_[depth_ - 1] == kTruth && values_[depth_ - 2] == kTruth;
    if (truths && (code == OP_AND || code == OP_OR)) {
      return Pop(UnlockedOp{.kind = code == OP_AND ? kBothTrue : kEitherTrue}, kTruth);
    }
    // A product just pushed is taken in by the operator that pops it.
    const uint8_t last = out_[count_ - 1].kind;  // the step that pushed the top
    if (last == OperatorStep(kNodeAndNode, OP_MUL) ||
        last == OperatorStep(kNodeAndConstant, OP_MUL)) {
      UnlockedOp folded = out_[count_ - 1];
      folded.kind = OperatorStep(
          last == OperatorStep(kNodeAndNode, OP_MUL) ? kTopAndProduct : kTopAndScaled, code);
      --depth_;
      return Fuse(folded, Result(code));
    }
    return Pop(UnlockedOp{.kind = OperatorStep(kBelowAndTop, code)}, Result(code));
  }

  UnlockedOp* out_;
  int count_ = 0;
  int depth_ = 0;
  Value values_[kUnlockedOps];
};

// Runs a program up to its return step, reading nodes as the tree holds them right now. The top
// value stays out of memory: most steps combine it with a node or a constant. kCalls: whether the
// program may call a function; the copy without calls keeps the top in a register throughout.
template <bool kCalls>
[[gnu::always_inline]] inline Ran RunUnlockedProgram(const UnlockedOp* it) {
  double top = 0;
  double below[kUnlockedOps];
  double* under = below;  // one past the value under top
  for (;; ++it) {
    const UnlockedOp& op = *it;
    switch (op.kind) {
      case kReturn:
        return {top, true};
      case kPushConstant:
        *under++ = top;
        top = op.constant;
        break;
      case kPushNode:
        *under++ = top;
        top = op.node->StoredNumber();
        break;
      case kPushElement:
        if (cond::ToInt32(op.other->StoredNumber()) != op.last_index) return {0, false};
        *under++ = top;
        top = op.element->StoredNumber();
        break;
      case kNegateTop:
        top = -top;
        break;
      case kCallOne:
        if constexpr (!kCalls) __builtin_unreachable();
        top = op.fn(top, 0);
        break;
      case kCallOnNode:
        if constexpr (!kCalls) __builtin_unreachable();
        *under++ = top;
        top = op.fn(op.node->StoredNumber(), 0);
        break;
      case kCallTwo:
        if constexpr (!kCalls) __builtin_unreachable();
        top = op.fn(*--under, top);
        break;
      case kSquareTop:
        top *= top;
        break;
      case kSqrtTop:
        top = std::sqrt(top);
        break;
      case kBothTrue:
        top = std::min(*--under, top);
        break;
      case kEitherTrue:
        top = std::max(*--under, top);
        break;
        // Each operator with each kind of operands: the operator code is a constant in each case.
#define VEL_UNLOCKED_OPERATOR(code)                                                             \
  case OperatorStep(kBelowAndTop, code):                                                        \
    top = cond::NumericOperator(code, *--under, top);                                           \
    break;                                                                                      \
  case OperatorStep(kTopAndNode, code):                                                         \
    top = cond::NumericOperator(code, top, op.node->StoredNumber());                            \
    break;                                                                                      \
  case OperatorStep(kTopAndConstant, code):                                                     \
    top = cond::NumericOperator(code, top, op.constant);                                        \
    break;                                                                                      \
  case OperatorStep(kNodeAndNode, code):                                                        \
    *under++ = top;                                                                             \
    top = cond::NumericOperator(code, op.node->StoredNumber(), op.other->StoredNumber());       \
    break;                                                                                      \
  case OperatorStep(kNodeAndConstant, code):                                                    \
    *under++ = top;                                                                             \
    top = cond::NumericOperator(code, op.node->StoredNumber(), op.constant);                    \
    break;                                                                                      \
  case OperatorStep(kTopAndProduct, code):                                                      \
    top = cond::NumericOperator(code, top, op.node->StoredNumber() * op.other->StoredNumber()); \
    break;                                                                                      \
  case OperatorStep(kTopAndScaled, code):                                                       \
    top = cond::NumericOperator(code, top, op.node->StoredNumber() * op.constant);              \
    break;
        VEL_UNLOCKED_OPERATOR(OP_EQ)
        VEL_UNLOCKED_OPERATOR(OP_NE)
        VEL_UNLOCKED_OPERATOR(OP_GT)
        VEL_UNLOCKED_OPERATOR(OP_GE)
        VEL_UNLOCKED_OPERATOR(OP_LT)
        VEL_UNLOCKED_OPERATOR(OP_LE)
        VEL_UNLOCKED_OPERATOR(OP_ADD)
        VEL_UNLOCKED_OPERATOR(OP_SUB)
        VEL_UNLOCKED_OPERATOR(OP_MUL)
        VEL_UNLOCKED_OPERATOR(OP_DIV)
        VEL_UNLOCKED_OPERATOR(OP_MOD)
        VEL_UNLOCKED_OPERATOR(OP_SHL)
        VEL_UNLOCKED_OPERATOR(OP_SHR)
        VEL_UNLOCKED_OPERATOR(OP_BITAND)
        VEL_UNLOCKED_OPERATOR(OP_BITOR)
        VEL_UNLOCKED_OPERATOR(OP_AND)
        VEL_UNLOCKED_OPERATOR(OP_OR)
#undef VEL_UNLOCKED_OPERATOR
      default:
        __builtin_unreachable();  // UnlockedBuilder makes no other step
    }
  }
}

}  // namespace

[[gnu::always_inline]] inline bool CCondOutput::RunUnlocked(const char* text, OZK_EQ_RESULT* result,
                                                            double* value) {
  const UnlockedLines* const lines = t_unlocked;
  if (!lines) return false;
  const UnlockedLine& line = lines->line[LineMemoSlot(text)];
  if (line.text != text || line.generation != cache_generation_.load(std::memory_order_relaxed) ||
      std::strcmp(line.source, text) != 0) {
    return false;
  }
  CtVar::UnlockedRead read;
  if (!CtVar::BeginUnlockedRead(&read) || read.epoch != line.epoch) return false;
  const Ran ran =
      line.calls ? RunUnlockedProgram<true>(line.op) : RunUnlockedProgram<false>(line.op);
  if (!ran.ok || !CtVar::EndUnlockedRead(read)) return false;
  if (line.clears_text && result) result->text[0] = '\0';
  *value = ran.value;
  return true;
}

void CCondOutput::RememberUnlocked(const char* text, OZK_CACHED_COND_TERMS& rec) {
  CondFastProgram& p = rec.fast;
  if (p.locked_only) return;
  UnlockedOp op[kUnlockedOps];
  UnlockedBuilder builder(op);
  for (int i = 0; i < p.count; ++i) {
    bool took_next;
    if (!builder.Add(p.op[i], i + 1 < p.count ? &p.op[i + 1] : nullptr, &took_next)) {
      p.locked_only = 1;
      return;
    }
    if (took_next) ++i;
  }
  if (!t_unlocked) {
    t_unlocked_owner = std::make_unique<UnlockedLines>();
    t_unlocked = t_unlocked_owner.get();
  }
  UnlockedLine& line = t_unlocked->line[LineMemoSlot(text)];
  line.generation = cache_generation_.load(std::memory_order_relaxed);
  line.epoch = CtVar::PlainNumberEpoch();
  line.text = text;
  line.clears_text = p.clears_text;
  line.calls = std::any_of(op, op + builder.count(), [](const UnlockedOp& step) {
    return step.kind == kCallOne || step.kind == kCallOnNode || step.kind == kCallTwo;
  });
  std::memset(line.source, 0, sizeof(line.source));
  std::memcpy(line.source, rec.source, rec.length);
  std::memcpy(line.op, op, sizeof(UnlockedOp) * builder.count());
  line.op[builder.count()] = UnlockedOp{.kind = kReturn};
}

[[gnu::always_inline]] inline bool CCondOutput::RunFastProgram(CondFastProgram& p,
                                                               OZK_EQ_RESULT* result,
                                                               double* value) {
  // The values live in memory, not in registers: the calls some steps make would force them
  // there around every step anyway. A text is known to be one from the program alone.
  double stack[kCondFastStack];
  const char* texts[kCondFastStack];
  const auto as_term = [&](int at, int k, const CondFastOp& op) {
    return AsTerm(stack[at], (op.texts >> k) & 1 ? texts[at] : nullptr);
  };
  int depth = 0;
  for (CondFastOp *it = p.op, *end = p.op + p.count; it != end; ++it) {
    CondFastOp& op = *it;
    switch (op.kind) {
      case CondFastOp::kConstant:
        stack[depth++] = op.constant;
        break;
      case CondFastOp::kNode:
      case CondFastOp::kElement:
        if (op.kind == CondFastOp::kElement && !cond::PlainNumber(*op.index)) return false;
        if (!ReadNumber(op.kind == CondFastOp::kNode ? op.node : Element(op), op.negate,
                        &stack[depth])) {
          return false;
        }
        ++depth;
        break;
      case CondFastOp::kOperatorNode: {
        double v;
        if (!ReadNumber(op.node, op.negate, &v)) return false;
        stack[depth - 1] = cond::NumericOperator(op.code, stack[depth - 1], v);
        break;
      }
      case CondFastOp::kOperatorConstant:
        stack[depth - 1] = cond::NumericOperator(op.code, stack[depth - 1], op.constant);
        break;
      case CondFastOp::kText: {
        const char* text = op.text;
        if (op.node) {
          if (!cond::TextNode(*op.node)) return false;
          text = cond::NodeText(*op.node).data();
        }
        texts[depth] = text ? text : "";
        stack[depth++] = 0;
        break;
      }
      case CondFastOp::kOperator:
        --depth;
        stack[depth - 1] = cond::NumericOperator(op.code, stack[depth - 1], stack[depth]);
        break;
      case CondFastOp::kTextOperator: {
        --depth;
        OZK_COND_TERM left = as_term(depth - 1, 0, op);
        cond::ApplyOperator(&left, op.code, as_term(depth, 1, op), result);
        stack[depth - 1] = left.value;
        break;
      }
      case CondFastOp::kCall1:
        stack[depth - 1] = op.fn(stack[depth - 1], 0);
        break;
      case CondFastOp::kCall2:
        --depth;
        stack[depth - 1] = op.fn(stack[depth - 1], stack[depth]);
        break;
      case CondFastOp::kTextCall: {
        depth -= op.nargs;
        const OZK_COND_TERM args[2] = {as_term(depth, 0, op), as_term(depth + 1, 1, op)};
        OZK_COND_TERM out = AsTerm(0, nullptr);
        CallFunction(&out, op.code, std::span<const OZK_COND_TERM>(args, op.nargs), result,
                     nullptr);
        stack[depth++] = out.value;
        break;
      }
      case CondFastOp::kNegate:
        stack[depth - 1] = -stack[depth - 1];
        break;
    }
  }
  // An assignment of int(...) always stores a number.
  if (p.clears_text && result) result->text[0] = '\0';
  *value = stack[0];
  return true;
}

CondCacheTable* CCondOutput::ThreadCacheTable() {
  const std::thread::id me = std::this_thread::get_id();
  for (int i = 0; i < kCondCacheThreads; ++i) {
    if (cache_threads_[i] == me) return cache_tables_[i].get();
  }
  for (int i = 0; i < kCondCacheThreads; ++i) {
    if (cache_threads_[i] == std::thread::id()) {
      cache_threads_[i] = me;
      if (!cache_tables_[i]) {
        cache_tables_[i] = std::make_unique<CondCacheTable>();  // zeroed
      }
      return cache_tables_[i].get();
    }
  }
  return nullptr;  // a seventh thread parses without the cache
}

OZK_CACHED_COND_TERMS* CCondOutput::FindCachedLine(CondCacheTable* table, const char* text,
                                                   size_t* len) {
  // One pass gives the length and the cache slot (the byte sum) of the line.
  unsigned sum = 0;
  const char* end = text;
  for (; *end; ++end) sum += static_cast<unsigned char>(*end);
  *len = static_cast<size_t>(end - text);
  if (!table || *len > static_cast<size_t>(kCondMaxCachedLine)) return nullptr;
  OZK_CACHED_COND_TERMS* rec = &table->records[sum % kCondCacheSlots];
  if (rec->length != *len + 1 || std::memcmp(rec->source, text, *len) != 0) return nullptr;
  table->lines[LineMemoSlot(text)] = CondCacheTable::Line{text, rec};
  return rec;
}

double CCondOutput::EvalCondition(const char* text, OZK_EQ_RESULT* result) {
  if (!text) return 0;
  double value;
  if (!(result && result->local) && RunUnlocked(text, result, &value)) return value;
  return EvalLocked(text, result);
}

// Out of line: the path without the lock then keeps few registers and a small frame.
[[gnu::noinline]] double CCondOutput::EvalLocked(const char* text, OZK_EQ_RESULT* result) {
  const bool local = result && result->local;
  double value;
  // The tree lock as CtVarLock takes it, without two calls into another file per line.
  std::lock_guard<port::RecursiveMutex> lock(*GetTreeLock());
  const uint64_t epoch = CtVar::StructureEpoch();
  CondCacheTable* const table = ThreadCacheTable();
  size_t len = 0;
  OZK_CACHED_COND_TERMS* rec = RememberedLine(table, text);
  if (rec) {
    len = rec->length - 1;
  } else {
    rec = FindCachedLine(table, text, &len);
  }
  if (rec && rec->pinned_nodes && rec->bound_epoch != epoch) rec = nullptr;
  if (rec && rec->fast.ready && rec->bound_epoch == epoch && rec->bound_local == nullptr &&
      !local && RunFastProgram(rec->fast, result, &value)) {
    RememberUnlocked(text, *rec);
    return value;
  }
  return EvalTerms(text, len, rec, epoch, result);
}
