// Evaluating a line: the cached term list is reduced in place, calls and groups first, then the
// operators level by level.
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "cond/op_table.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

bool IsCloser(OZK_OP_TYPE t) {
  return t == OP_RPAREN || t == OP_COMMA;
}

// Moves text pointers that point into from[0, size) to the same offset in to.
void Relocate(OZK_COND_TERM* terms, unsigned long count, const char* from, char* to, size_t size) {
  for (unsigned long i = 0; i < count; ++i) {
    const char* t = terms[i].text;
    if (t && t >= from && t < from + size) terms[i].text = to + (t - from);
  }
}

// A name whose brackets all hold digits resolves to the same node until the tree's structure
// changes; a computed index must be evaluated again.
bool HasComputedIndex(const char* name) {
  for (const char* p = std::strchr(name, '['); p; p = std::strchr(p + 1, '[')) {
    if (p[1] < '0' || p[1] > '9') return true;
  }
  return false;
}

// Bit i set when the range (up to its closer) holds work for precedence level i; calls and
// groups count for the first level.
uint32_t PendingLevels(const OZK_COND_TERM* terms, int n) {
  uint32_t pending = 0;
  for (int i = 0; i < n && !IsCloser(terms[i].type); ++i) {
    const OZK_OP_TYPE type = terms[i].type;
    if (type == OP_SPENT || IsValueTerm(type)) continue;
    if (IsFunctionCode(type)) {
      pending |= 1;
      continue;
    }
    for (int level = 0; level < kPrecedenceLevels; ++level) {
      if (type >= kPrecedence[level].low && type <= kPrecedence[level].high) {
        pending |= 1u << level;
        break;
      }
    }
  }
  return pending;
}

// The term lists being evaluated on this thread, innermost first.
struct EvalFrame {
  OZK_COND_TERM* terms;
  unsigned long count;
  EvalFrame* outer;
};
thread_local EvalFrame* t_frames = nullptr;

// Where the steps of the evaluation running on this thread are recorded; null when not.
struct TapeRecorder {
  OZK_COND_TERM* base;
  CondTapeStep steps[kCondMaxTerms];
  int count;
  bool overflow;
};
thread_local TapeRecorder* t_recorder = nullptr;

void Record(const CondTapeStep& step) {
  if (!t_recorder) return;
  if (t_recorder->count >= kCondMaxTerms) {
    t_recorder->overflow = true;
    return;
  }
  t_recorder->steps[t_recorder->count++] = step;
}

int8_t TapeIndex(const OZK_COND_TERM* term) {
  return static_cast<int8_t>(term - t_recorder->base);
}

// Every index of the steps lies within the line's terms.
bool TapeFits(const CondTapeStep* steps, int n, unsigned long count) {
  const auto in = [count](int8_t i) { return i >= 0 && static_cast<unsigned long>(i) < count; };
  for (int i = 0; i < n; ++i) {
    const CondTapeStep& s = steps[i];
    if (s.kind == CondTapeStep::kOperator && !(in(s.left) && in(s.right))) return false;
    if (s.kind == CondTapeStep::kNegateGroup && !in(s.left)) return false;
    if (s.kind == CondTapeStep::kCall) {
      if (!in(s.slot) || s.nargs < 0 || s.nargs > 4) return false;
      for (int k = 0; k < s.nargs; ++k) {
        if (s.args[k] != -1 && !in(s.args[k])) return false;
      }
    }
  }
  return true;
}

// Writes a call's value into its slot.
void StoreCallValue(OZK_COND_TERM& slot, const OZK_COND_TERM& out) {
  slot.value = out.value;
  slot.text = out.text;
  slot.type = out.type;
  slot.variable = out.variable;
  slot.negate = 0;
}

void ClearArgs(OZK_COND_TERM (&args)[4]) {
  for (auto& a : args) {
    cond::SetNumber(&a, 0);
    a.negate = 0;
    a.name[0] = '\0';
  }
}

}  // namespace

double CCondOutput::EvalTerms(const char* text, size_t len, OZK_CACHED_COND_TERMS* rec,
                              uint64_t epoch, OZK_EQ_RESULT* result) {
  CtVar* const local = result ? result->local : nullptr;
  OZK_COND_TERM terms[kCondMaxTerms];
  char line[kCondMaxCachedLine + 1];
  std::string long_line;
  unsigned long count = 0;
  uint8_t rebind[kCondMaxTerms] = {};
  CondTapeStep tape[kCondMaxTerms];
  OZK_CACHED_COND_TERMS* line_record = rec;
  int tape_steps = -1;
  int tape_result = 0;
  OZK_CACHED_COND_TERMS* record_into = nullptr;
  if (rec) {
    count = rec->count;
    // Copies: evaluating an index below may reuse this record for another line.
    std::memcpy(rebind, rec->rebind, sizeof(rebind));
    tape_steps = rec->tape_steps;
    tape_result = rec->tape_result;
    if (tape_steps > 0) std::memcpy(tape, rec->tape, sizeof(CondTapeStep) * tape_steps);
    if (tape_steps < 0) record_into = rec;
    std::memcpy(line, rec->parsed, sizeof(line));
    std::memcpy(terms, rec->terms, sizeof(OZK_COND_TERM) * count);
    Relocate(terms, count, rec->working, line, sizeof(line));
    const bool bindings_current =
        rec->bound_epoch == epoch && local == nullptr && rec->bound_local == nullptr;
    if (bindings_current) {
      // The common case: the same nodes; only their values are read again.
      for (unsigned long i = 0; i < count; ++i) {
        OZK_COND_TERM& t = terms[i];
        if (!t.variable || !IsValueTerm(t.type)) continue;
        if (rebind[i]) {
          AddVar(t.name, &t, app_var_, local, 1);
        } else {
          BindLocked(&t, *t.variable, 1);
        }
        if (t.negate && t.type == OP_NUMBER) t.value = -t.value;
      }
    } else {
      ReadEqVars(terms, count, app_var_, local);
      // Index evaluation may have replaced the record; keep the new bindings only in our own.
      if (std::strcmp(rec->source, text) == 0) {
        for (unsigned long i = 0; i < count; ++i) {
          rec->terms[i].variable = terms[i].variable;
          if (IsValueTerm(terms[i].type)) rec->terms[i].type = terms[i].type;
        }
        rec->bound_epoch = CtVar::StructureEpoch();
        rec->bound_local = local;
        rec->fast.settled = 0;
      }
    }
  } else if (len <= static_cast<size_t>(kCondMaxCachedLine)) {
    std::memcpy(line, text, len + 1);
    count = MakeCondTerms(line, terms, app_var_, local, 1);
    if (OZK_CACHED_COND_TERMS* fresh = AddCondTermCacheEntry(text)) {
      std::memcpy(fresh->working, line, sizeof(line));
      std::memcpy(fresh->parsed, line, sizeof(line));
      std::memcpy(fresh->terms, terms, sizeof(OZK_COND_TERM) * count);
      Relocate(fresh->terms, count, line, fresh->working, sizeof(line));
      fresh->count = static_cast<uint32_t>(count);
      record_into = fresh;
      line_record = fresh;
      fresh->bound_epoch = epoch;
      fresh->bound_local = local;
      fresh->pinned_nodes = 0;
      for (unsigned long i = 0; i < count; ++i) {
        // Calls of user functions and variables with names too long to keep hold their node
        // only by pointer: the line is parsed again once any node has gone.
        if (terms[i].variable && (terms[i].name[0] == '\0' || IsFunctionCode(terms[i].type))) {
          fresh->pinned_nodes = 1;
        }
        fresh->rebind[i] = terms[i].name[0] != '\0' && HasComputedIndex(terms[i].name);
      }
    }
  } else {
    long_line.assign(text, len);
    count = MakeCondTerms(long_line.data(), terms, app_var_, local, 1);
  }

  if (count == 0) return 0;
  if (result && count == 1 && terms[0].type == OP_TEXT) {
    const std::string utf8 = port::MixedToUtf8(cond::TermText(terms[0]));
    const size_t n = std::min(utf8.size(), static_cast<size_t>(kEqTextSize - 1));
    std::memcpy(result->text, utf8.data(), n);
    result->text[n] = '\0';
  }
  EvalFrame frame{terms, count, t_frames};
  t_frames = &frame;
  TapeRecorder* const outer_recorder = t_recorder;
  t_recorder = nullptr;
  double value;
  if (tape_steps >= 0) {
    value = ReplayTape(terms, tape, tape_steps, tape_result, result);
  } else if (record_into) {
    TapeRecorder recorder;
    recorder.base = terms;
    recorder.count = 0;
    recorder.overflow = false;
    t_recorder = &recorder;
    const OZK_COND_TERM* v = ProcessCondTerms(terms, count, 0, result);
    t_recorder = nullptr;
    value = v->value;
    // Nested evaluations may have given the record to another line meanwhile.
    if (!recorder.overflow && TapeFits(recorder.steps, recorder.count, count) &&
        std::strcmp(record_into->source, text) == 0 && record_into->count == count) {
      std::memcpy(record_into->tape, recorder.steps, sizeof(CondTapeStep) * recorder.count);
      record_into->tape_steps = recorder.count;
      record_into->fast.settled = 0;
      record_into->tape_result = static_cast<int32_t>(v - terms);
    }
  } else {
    value = ProcessCondTerms(terms, count, 0, result)->value;
  }
  t_recorder = outer_recorder;
  t_frames = frame.outer;
  // Nested evaluations may have given the record to another line or moved the nodes meanwhile.
  if (line_record && !line_record->fast.settled && local == nullptr &&
      line_record->bound_local == nullptr && line_record->count == count &&
      std::strcmp(line_record->source, text) == 0 &&
      line_record->bound_epoch == CtVar::StructureEpoch()) {
    cond::CompileFastProgram(line_record, app_var_, equation_tree_);
  }
  return value;
}

double CCondOutput::ReplayTape(OZK_COND_TERM* terms, const CondTapeStep* steps, int count,
                               int value, OZK_EQ_RESULT* result) {
  for (int i = 0; i < count; ++i) {
    const CondTapeStep& s = steps[i];
    switch (s.kind) {
      case CondTapeStep::kOperator: {
        const OZK_COND_TERM right = terms[s.right];
        cond::ApplyOperator(&terms[s.left], s.code, right, result);
        break;
      }
      case CondTapeStep::kNegateGroup:
        if (terms[s.left].type == OP_NUMBER) terms[s.left].value = -terms[s.left].value;
        break;
      case CondTapeStep::kCall: {
        OZK_COND_TERM args[4];
        ClearArgs(args);
        for (int k = 0; k < s.nargs; ++k) {
          if (s.args[k] >= 0) args[k] = terms[s.args[k]];
        }
        OZK_COND_TERM out;
        cond::SetNumber(&out, 0);
        out.negate = 0;
        CallFunction(&out, s.code, std::span<const OZK_COND_TERM>(args, s.nargs), result,
                     s.function);
        if (s.negate && out.type == OP_NUMBER) out.value = -out.value;
        StoreCallValue(terms[s.slot], out);
        break;
      }
    }
  }
  return terms[value].value;
}

void CCondOutput::RepointTextsAfterCall(uint64_t epoch_before) {
  // A user function may have changed or deleted variables whose texts the lines being evaluated
  // on this thread point into.
  const bool nodes_kept = CtVar::StructureEpoch() == epoch_before;
  for (EvalFrame* f = t_frames; f; f = f->outer) {
    for (unsigned long i = 0; i < f->count; ++i) {
      OZK_COND_TERM& t = f->terms[i];
      if (t.type != OP_TEXT || !t.variable) continue;
      const bool still_text = nodes_kept && t.variable->GetStoredType() == OZK_TVAR_STRING;
      t.text = still_text ? cond::NodeText(*t.variable).data() : nullptr;
      if (!t.text) t.text = "";
    }
  }
}

double CCondOutput::EvalEquation(const char* text, CtVar* target, CtVar* local,
                                 OZK_NEXT_OP_TYPE* next) {
  OZK_EQ_RESULT result;
  result.text[0] = '\0';
  result.pool_used = 0;
  result.target = target;
  result.local = local;
  result.next = NEXT_OP_CONTINUE;
  const double value = EvalCondition(text, &result);
  if (target) {
    if (result.text[0] == '\0' && !(text && text[0] == '"')) {
      *target = value;
    } else {
      *target = std::string_view(result.text, strnlen(result.text, sizeof(result.text)));
    }
  }
  if (next) *next = result.next;
  return value;
}

OZK_COND_TERM* CCondOutput::ProcessCondTerms(OZK_COND_TERM* terms, unsigned long count, int consume,
                                             OZK_EQ_RESULT* result) {
  const int n = static_cast<int>(std::min<unsigned long>(count, kCondMaxTerms));
  int close = -1;
  OZK_OP_TYPE close_type = 0;
  const int v = EvalRange(terms, n, result, &close, &close_type);
  if (v < 0) return terms;
  if (consume) terms[v].type = OP_SPENT;
  return &terms[v];
}

int CCondOutput::EvalRange(OZK_COND_TERM* terms, int n, OZK_EQ_RESULT* result, int* close,
                           OZK_OP_TYPE* close_type) {
  uint32_t pending = PendingLevels(terms, n);
  for (int level = 0; level < kPrecedenceLevels && pending; ++level) {
    if (!(pending & (1u << level))) continue;
    const CondPrecedenceLevel range = kPrecedence[level];
    int last_value = -1;
    for (int i = 0; i < n; ++i) {
      OZK_COND_TERM& t = terms[i];
      if (t.type == OP_SPENT) continue;
      if (IsValueTerm(t.type)) {
        last_value = i;
        continue;
      }
      if (IsCloser(t.type)) break;
      if (IsFunctionCode(t.type)) {
        last_value = EvalCall(terms, i, n, result);
        if (last_value > i) i = last_value;
        continue;
      }
      if (t.type == OP_LPAREN) {
        EvalGroup(terms, i, n, result);
        continue;
      }
      if (t.type < range.low || t.type > range.high) continue;
      int left = last_value;
      for (int j = i - 1; left < 0 && j >= 0; --j) {
        if (terms[j].type != OP_SPENT) left = j;
      }
      if (left < 0) {
        t.type = OP_SPENT;  // no left operand: the operator is dropped
        continue;
      }
      PerformOp(&terms[left], &t, static_cast<unsigned long>(n - i - 1), result);
      last_value = left;
    }
    if (level == 0) pending = PendingLevels(terms, n);  // the groups and calls are gone now
  }
  *close = -1;
  *close_type = 0;
  for (int i = 0; i < n; ++i) {
    if (IsCloser(terms[i].type)) {
      *close = i;
      *close_type = terms[i].type;
      terms[i].type = OP_SPENT;
      break;
    }
  }
  const int end = *close >= 0 ? *close : n;
  for (int i = 0; i < end; ++i) {
    if (IsValueTerm(terms[i].type)) return i;
  }
  return -1;
}

int CCondOutput::EvalGroup(OZK_COND_TERM* terms, int at, int n, OZK_EQ_RESULT* result) {
  const bool negate = terms[at].negate != 0;
  terms[at].type = OP_SPENT;
  if (at + 1 >= n) return -1;
  int close = -1;
  OZK_OP_TYPE close_type = 0;
  int v = EvalRange(terms + at + 1, n - at - 1, result, &close, &close_type);
  if (v < 0) return -1;
  v += at + 1;
  if (negate) {
    if (terms[v].type == OP_NUMBER) terms[v].value = -terms[v].value;
    if (t_recorder) {
      CondTapeStep step{};
      step.kind = CondTapeStep::kNegateGroup;
      step.left = TapeIndex(&terms[v]);
      Record(step);
    }
  }
  return v;
}

int CCondOutput::EvalCall(OZK_COND_TERM* terms, int at, int n, OZK_EQ_RESULT* result) {
  const OZK_OP_TYPE code = terms[at].type;
  CtVar* const function = terms[at].variable;
  const bool negate = terms[at].negate != 0;
  const int nargs = FunctionArgCount(code);
  terms[at].type = OP_SPENT;

  int j = at + 1;
  while (j < n && terms[j].type == OP_SPENT) ++j;
  const bool paren = j < n && terms[j].type == OP_LPAREN;
  if (paren) terms[j].type = OP_SPENT;

  OZK_COND_TERM args[4];
  ClearArgs(args);
  int8_t arg_index[4] = {-1, -1, -1, -1};
  int slot = at;
  if (nargs == 0) {
    if (paren) {
      int k = j + 1;
      while (k < n && terms[k].type == OP_SPENT) ++k;
      if (k < n && terms[k].type == OP_RPAREN) terms[k].type = OP_SPENT;
      slot = j;
    }
  } else {
    int start = paren ? j + 1 : j;
    for (int k = 0; k < nargs && start < n; ++k) {
      int close = -1;
      OZK_OP_TYPE close_type = 0;
      const int v = EvalRange(terms + start, n - start, result, &close, &close_type);
      if (v >= 0) {
        args[k] = terms[start + v];
        terms[start + v].type = OP_SPENT;
        if (t_recorder) arg_index[k] = TapeIndex(&terms[start + v]);
      }
      if (close < 0 || close_type == OP_RPAREN) break;  // the call's argument list is over
      start += close + 1;
    }
    if (j < n) slot = (paren && j + 1 < n) ? j + 1 : j;
  }

  OZK_COND_TERM out;
  cond::SetNumber(&out, 0);
  out.negate = 0;
  // A user function runs statements of its own: they are not steps of this line.
  TapeRecorder* const recorder = t_recorder;
  t_recorder = nullptr;
  CallFunction(&out, code, std::span<const OZK_COND_TERM>(args, nargs > 0 ? nargs : 0), result,
               function);
  t_recorder = recorder;
  if (negate && out.type == OP_NUMBER) out.value = -out.value;
  StoreCallValue(terms[slot], out);
  if (t_recorder) {
    CondTapeStep step{};
    step.kind = CondTapeStep::kCall;
    step.code = code;
    step.function = function;
    step.negate = negate;
    step.slot = TapeIndex(&terms[slot]);
    step.nargs = static_cast<int8_t>(nargs > 0 ? nargs : 0);
    std::memcpy(step.args, arg_index, sizeof(arg_index));
    Record(step);
  }
  return slot;
}

OZK_COND_TERM* CCondOutput::PerformOp(OZK_COND_TERM* left, OZK_COND_TERM* op,
                                      unsigned long remaining, OZK_EQ_RESULT* result) {
  OZK_COND_TERM* const terms = op;
  const int n = static_cast<int>(std::min<unsigned long>(remaining, kCondMaxTerms)) + 1;
  int r = 1;
  while (r < n && terms[r].type == OP_SPENT) ++r;
  if (r >= n || IsCloser(terms[r].type)) return left;
  if (terms[r].type == OP_LPAREN) {
    r = EvalGroup(terms, r, n, result);
  } else if (IsFunctionCode(terms[r].type)) {
    r = EvalCall(terms, r, n, result);
  }
  const OZK_OP_TYPE code = op->type;
  op->type = OP_SPENT;
  if (r < 0) return left;
  const OZK_COND_TERM right = terms[r];
  terms[r].type = OP_SPENT;
  cond::ApplyOperator(left, code, right, result);
  if (t_recorder) {
    CondTapeStep step{};
    step.kind = CondTapeStep::kOperator;
    step.code = code;
    step.left = TapeIndex(left);
    step.right = TapeIndex(&terms[r]);
    Record(step);
  }
  return left;
}
