// The syntax check of a line, for an editor: the faults found, as fixed messages.
//
// It walks the terms the way the evaluator does (groups and calls first, then the operator
// levels), but instead of computing it reports what the evaluator would have to ignore.
#include <cmath>
#include <cstdio>
#include <string>

#include "cond/cond_output.h"
#include "cond/op_table.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

bool IsCloser(OZK_OP_TYPE t) {
  return t == OP_RPAREN || t == OP_COMMA;
}

int NextUnspent(const OZK_COND_TERM* terms, int from, int n) {
  for (int i = from; i < n; ++i) {
    if (terms[i].type != OP_SPENT) return i;
  }
  return -1;
}

int CountUnspent(const OZK_COND_TERM* terms, int from, int n) {
  int count = 0;
  for (int i = from; i < n; ++i) count += terms[i].type != OP_SPENT;
  return count;
}

std::string Render(const OZK_COND_TERM& t) {
  if (t.variable) return std::string(t.variable->NameView());
  if (t.type == OP_TEXT && t.text && *t.text) {
    std::string quoted(1, '"');
    quoted.append(t.text).push_back('"');
    return quoted;
  }
  const double whole = std::trunc(t.value);
  char buf[64];
  if (std::fabs(t.value - whole) < 0.0001 && std::fabs(whole) < 9.2e18) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(whole));
  } else {
    std::snprintf(buf, sizeof buf, "%.3f", t.value);
  }
  return buf;
}

// Appends pattern with its "%s" replaced by name.
void Say(std::wstring& messages, std::string_view pattern, std::string_view name = {}) {
  std::string text(pattern);
  if (const size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, name);
  messages += port::Utf8ToWide(text);
}

struct CheckState {
  std::wstring& messages;
  bool failed = false;
  bool stopped = false;  // "endwhile" ends the check of its line
};

int CheckRange(OZK_COND_TERM* terms, int n, CheckState& st, OZK_OP_TYPE* close_type);

int CheckCall(OZK_COND_TERM* terms, int at, int n, CheckState& st) {
  const OZK_OP_TYPE code = terms[at].type;
  const std::string name(OpName(code));
  const int nargs = FunctionArgCount(code);
  terms[at].type = OP_SPENT;
  if (code == FN_ENDWHILE) {
    st.stopped = true;
    return -1;
  }
  const int j = NextUnspent(terms, at + 1, n);
  const int after_name = CountUnspent(terms, at + 1, n);
  const auto fail = [&](std::string_view pattern) {
    Say(st.messages, pattern, name);
    st.failed = true;
    return -1;
  };

  if (nargs == 0) {
    if ((code == FN_ELSE || code == FN_ENDIF) && j < 0) {
      terms[at].type = OP_NUMBER;
      return at;
    }
    if (after_name < 2) return fail(" Missing () after %s ;");
    if (terms[j].type != OP_LPAREN) return fail(" Missing ( after %s ;");
    const int k = NextUnspent(terms, j + 1, n);
    if (k < 0 || terms[k].type != OP_RPAREN) return fail(" Missing ) after %s( ;");
    terms[k].type = OP_SPENT;
    terms[j].type = OP_NUMBER;
    return j;
  }

  if (nargs == 1) {
    if (j < 0 || terms[j].type != OP_LPAREN) return fail(" ( expected after %s ;");
    if (CountUnspent(terms, j, n) < 3) return fail(" Missing operand after %s( ;");
  } else if (after_name < 3 || terms[j].type != OP_LPAREN) {
    return fail(" %s missing proper operands ;");
  }
  terms[j].type = OP_SPENT;

  static constexpr std::string_view kMissingOperand[] = {"", " %s missing proper 2nd operand ;",
                                                         " %s missing proper 3rd operand ;",
                                                         " %s missing proper 4th operand ;"};
  static constexpr std::string_view kMissingComma[] = {" %s has missing , after first operand ;",
                                                       " %s has missing , after 2nd operand ;",
                                                       " %s has missing , after 3rd operand ;"};
  int start = j + 1;
  int close_at = -1;
  for (int k = 0; k < nargs; ++k) {
    if (k > 0 && 1 + CountUnspent(terms, start, n) < 3) {
      return fail(k == 1 && nargs == 2 ? " %s missing proper 2nd operands ;" : kMissingOperand[k]);
    }
    OZK_OP_TYPE close_type = 0;
    const int close = CheckRange(terms + start, n - start, st, &close_type);
    if (st.failed || st.stopped) return -1;
    const bool last = k == nargs - 1;
    if (nargs == 1 && close_type != OP_RPAREN) return fail(" ) expected after %s ;");
    if (!last && close_type != OP_COMMA) return fail(kMissingComma[k]);
    if (last && close_type != OP_RPAREN) return fail(" %s has wrong number operands ;");
    close_at = start + close;
    start = close_at + 1;
  }
  if (nargs == 1) {
    const int after = NextUnspent(terms, close_at + 1, n);
    if (after >= 0 && terms[after].type == OP_NUMBER) {
      return fail(" operator expected after ) ;");
    }
  }
  const int slot = j + 1 < n ? j + 1 : j;
  terms[slot].type = OP_NUMBER;
  return slot;
}

// Checks one range up to its closing ")" or ","; returns the closer's offset (-1 at the end).
int CheckRange(OZK_COND_TERM* terms, int n, CheckState& st, OZK_OP_TYPE* close_type) {
  *close_type = 0;
  // Groups and calls, left to right.
  int prev = -1;
  for (int i = 0; i < n; ++i) {
    OZK_COND_TERM& t = terms[i];
    if (t.type == OP_SPENT) continue;
    if (IsCloser(t.type)) break;
    if (t.type == OP_LPAREN) {
      if (prev >= 0 && IsValueTerm(terms[prev].type)) {
        Say(st.messages, " ( is missing operator or function on left ;");
      }
      if (NextUnspent(terms, i + 1, n) < 0) {
        Say(st.messages, " ( is missing matching );");
        st.failed = true;
        return -1;
      }
      t.type = OP_SPENT;
      OZK_OP_TYPE inner = 0;
      CheckRange(terms + i + 1, n - i - 1, st, &inner);
      if (st.failed || st.stopped) return -1;
      if (inner != OP_RPAREN) {
        Say(st.messages, " ) expected after %s ;", "(");
        st.failed = true;
        return -1;
      }
      prev = -1;
      continue;
    }
    if (IsFunctionCode(t.type)) {
      const int slot = CheckCall(terms, i, n, st);
      if (st.failed || st.stopped) return -1;
      prev = i = slot;
      continue;
    }
    prev = i;
  }
  // The operators, level by level.
  for (int level = 1; level < kPrecedenceLevels; ++level) {
    const CondPrecedenceLevel range = kPrecedence[level];
    int last_value = -1;
    for (int i = 0; i < n; ++i) {
      OZK_COND_TERM& t = terms[i];
      if (t.type == OP_SPENT) continue;
      if (IsCloser(t.type)) break;
      if (IsValueTerm(t.type)) {
        last_value = i;
        continue;
      }
      if (t.type < range.low || t.type > range.high) continue;
      const std::string name(OpName(t.type));
      int left = last_value;
      for (int j = i - 1; left < 0 && j >= 0; --j) {
        if (terms[j].type != OP_SPENT) left = j;
      }
      if (left < 0) {
        if (t.type != OP_SUB) Say(st.messages, " %s is missing left operand;", name);
        t.type = OP_SPENT;
        continue;
      }
      const int right = NextUnspent(terms, i + 1, n);
      if (right < 0 || IsCloser(terms[right].type)) {
        Say(st.messages, " %s is missing right operand;", name);
        st.failed = true;
        return -1;
      }
      t.type = OP_SPENT;
      terms[right].type = OP_SPENT;
      last_value = left;
    }
  }
  for (int i = 0; i < n; ++i) {
    if (IsCloser(terms[i].type)) {
      *close_type = terms[i].type;
      terms[i].type = OP_SPENT;
      return i;
    }
  }
  return -1;
}

}  // namespace

int CCondOutput::SyntaxCheckTokenOrder(OZK_COND_TERM* terms, unsigned long count,
                                       std::wstring& messages) {
  for (unsigned long i = 0; i + 1 < count; ++i) {
    if (IsValueTerm(terms[i].type) && IsValueTerm(terms[i + 1].type)) {
      Say(messages,
          " error consecutive operands " + Render(terms[i]) + " " + Render(terms[i + 1]) + " ;");
      return 0;
    }
  }
  return 1;
}

OZK_COND_TERM* CCondOutput::SyntaxCheckCondTerms(OZK_COND_TERM* terms, unsigned long count,
                                                 int consume, std::wstring& messages) {
  const int n = static_cast<int>(std::min<unsigned long>(count, kCondMaxTerms));
  CheckState st{messages};
  OZK_OP_TYPE close_type = 0;
  const int close = CheckRange(terms, n, st, &close_type);
  if (st.failed) return nullptr;
  const int end = close >= 0 ? close : n;
  for (int i = 0; i < end; ++i) {
    if (IsValueTerm(terms[i].type)) {
      if (consume) terms[i].type = OP_SPENT;
      return &terms[i];
    }
  }
  return terms;
}

std::wstring CCondOutput::EquationSyntaxCheck(const char* text) {
  std::wstring messages;
  if (!text) return messages;
  std::string copy(text);
  OZK_COND_TERM terms[kCondMaxTerms];
  CtVarLock lock;
  const unsigned long count = MakeCondTerms(copy.data(), terms, app_var_, nullptr, 0);
  if (count && SyntaxCheckTokenOrder(terms, count, messages)) {
    SyntaxCheckCondTerms(terms, count, 0, messages);
  }
  return messages;
}
