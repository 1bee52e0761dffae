// The warm path of EvalCondition: the calling thread's table, the line's record found by the
// line's address, and the record's program run on a small stack of values. Everything else goes
// to the full evaluation (EvalTerms). What runs for every image lives in this one file so that it
// compiles into one function.
#include <charconv>
#include <cstring>
#include <mutex>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "platform/mutex.h"
#include "vartree/tvar.h"

namespace {

size_t LineMemoSlot(const char* text) {
  const uint64_t h = reinterpret_cast<uintptr_t>(text) * UINT64_C(0x9E3779B97F4A7C15);
  return static_cast<size_t>(h >> 59) % kCondRememberedLines;
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

}  // namespace

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
      !(result && result->local)) {
    double value;
    if (RunFastProgram(rec->fast, result, &value)) return value;
  }
  return EvalTerms(text, len, rec, epoch, result);
}
