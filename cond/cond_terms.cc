// Tokenizing a line into terms and binding variable references.
#include <cctype>
#include <charconv>
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "cond/cond_seams.h"
#include "cond/op_table.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

constexpr const char* kPieceSeparators = " \t\n";
constexpr const char* kNameEnd = " \n\t=!<>+-*/()&|,%[";
constexpr const char* kNameEndNoBracket = " \n\t=!<>+-*/()&|,%";
// Index expressions nest (a[b[c[...]]]); deeper ones evaluate to 0 instead of recursing on.
constexpr int kMaxIndexDepth = 8;
thread_local int g_index_depth = 0;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool StartsName(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 128;
}

// Position of the "]" matching the "[" at open, or npos.
size_t MatchingBracket(std::string_view s, size_t open) {
  int depth = 0;
  for (size_t i = open; i < s.size(); ++i) {
    if (s[i] == '[') ++depth;
    if (s[i] == ']' && --depth == 0) return i;
  }
  return std::string_view::npos;
}

double ParseDecimal(const char* p, bool fractional) {
  double v = 0;
  if (fractional) {
    const char* end = p;
    while (IsDigit(*end) || *end == '.' || *end == 'e' || *end == 'E' ||
           ((*end == '+' || *end == '-') && end > p && (end[-1] == 'e' || end[-1] == 'E'))) {
      ++end;
    }
    if (std::from_chars(p, end, v, std::chars_format::general).ec != std::errc()) v = 0;
    return v;
  }
  for (; IsDigit(*p); ++p) v = v * 10 + (*p - '0');
  return v;
}

}  // namespace

namespace cond {

std::string_view NodeText(CtVar& var) {
  if (var.GetStoredType() == OZK_TVAR_DEST) {
    const char* text = static_cast<const char*>(var);
    return text ? std::string_view(text) : std::string_view();
  }
  uint32_t size = 0;
  const uint8_t* data = var.GetData(&size);
  if (!data) return {};
  const char* text = reinterpret_cast<const char*>(data);
  const size_t len = strnlen(text, size);
  return len < size ? std::string_view(text, len) : std::string_view();
}

}  // namespace cond

unsigned long CCondOutput::MakeCondTerms(char* text, OZK_COND_TERM* terms, CtVar* root,
                                         CtVar* local, int read) {
  if (!text || !terms) return 0;
  char* const saved = TokenPosition();
  unsigned long count = 0;
  for (char* piece = strtok(text, kPieceSeparators); piece && count < kCondMaxTerms;
       piece = strtok(nullptr, kPieceSeparators)) {
    if (piece[0] == '/' && piece[1] == '/') break;  // the rest of the line is a comment
    char* rest = piece;
    while (rest && *rest && count < kCondMaxTerms) {
      if (rest[0] == '/' && rest[1] == '/') break;  // ends this piece only
      rest = AddTerm(rest, terms, static_cast<int>(count), root, local, read);
      ++count;
    }
  }
  RestoreTokenPosition(saved);
  return count;
}

char* CCondOutput::ReadLiteral(char* start) {
  char* p = start;
  bool crossed = false;
  for (;;) {
    if (*p == '"') {
      *p = '\0';
      char* after = p + 1;
      if (crossed) {
        // The piece that holds the closing quote ends where the tokenizer would have ended it.
        char* end = after + std::strcspn(after, kPieceSeparators);
        char*& pos = TokenPosition();
        if (*end) {
          *end = '\0';
          pos = end + 1;
        } else {
          pos = nullptr;
        }
      }
      return after;
    }
    if (*p == '\0') {
      char*& pos = TokenPosition();
      if (pos && pos == p + 1) {
        *p = ' ';  // the separator that ended the piece belongs to the text
        crossed = true;
        ++p;
        continue;
      }
      pos = nullptr;  // no closing quote: the literal takes the rest of the line
      return p;
    }
    ++p;
  }
}

char* CCondOutput::ReadBracketedName(char* start, std::string* name) {
  char* p = start + 1;
  for (;;) {
    char* close = std::strchr(p, ']');
    if (close) {
      name->append(p, close);
      p = close + 1;
      break;
    }
    name->append(p);
    char* piece = strtok(nullptr, " ");
    if (!piece) return nullptr;
    *name += ' ';
    p = piece;
  }
  if (*p == '[') {
    if (char* close = std::strchr(p, ']')) {
      name->append(p, close + 1);
      p = close + 1;
    }
  }
  return p;
}

char* CCondOutput::AddTerm(char* token, OZK_COND_TERM* terms, int index, CtVar* root, CtVar* local,
                           int read) {
  OZK_COND_TERM& t = terms[index];
  t.value = 0;
  t.text = nullptr;
  t.variable = nullptr;
  t.negate = 0;
  t.type = OP_NUMBER;
  t.name[0] = '\0';

  char* p = token;
  if (p[0] == '-' &&
      (index == 0 || (terms[index - 1].type >= OP_EQ && terms[index - 1].type <= OP_LPAREN))) {
    t.negate = 1;
    ++p;
    // A sign standing alone ("- 3") applies to the next piece.
    if (!*p && !(p = strtok(nullptr, kPieceSeparators))) return nullptr;
  }

  char* next = nullptr;
  size_t op_len = 0;
  if (*p == '[') {
    std::string name;
    next = ReadBracketedName(p, &name);
    if (next) {
      AddVar(name.c_str(), &t, root, local, read);
    } else {
      TokenPosition() = nullptr;  // unclosed: the rest of the line is spent
    }
  } else if (OZK_OP_TYPE op = MatchOperator(p, &op_len)) {
    t.type = op;
    next = p + op_len;
  } else if (!StartsName(*p)) {
    if (*p == '"') {
      t.type = OP_TEXT;
      t.text = p + 1;
      next = ReadLiteral(p + 1);
    } else if (p[0] == '\'' && p[1] && p[2] == '\'') {
      t.value = static_cast<signed char>(p[1]);
      next = p + 3;
    } else if (IsDigit(*p) || *p == '.') {
      t.value = ParseDecimal(p, std::strchr(p, '.') != nullptr);
      next = p;
      while (IsDigit(*next) || *next == '.') ++next;
    }
  } else {
    char* end = p;
    for (;;) {
      end += std::strcspn(end, kNameEnd);
      if (*end != '[') break;
      const size_t close = MatchingBracket(end, 0);
      if (close == std::string_view::npos) {
        end += std::strcspn(end, kNameEndNoBracket);
        break;
      }
      end += close + 1;
    }
    const std::string name(p, end);
    if (!AddFuncTerm(name.c_str(), &t)) AddVar(name.c_str(), &t, root, local, read);
    next = end;
  }

  if (t.negate && t.type == OP_NUMBER) t.value = -t.value;
  return next && *next ? next : nullptr;
}

int CCondOutput::AddFuncTerm(const char* name, OZK_COND_TERM* term) {
  if (!name || std::strchr(name, '[')) return 0;
  if (OZK_OP_TYPE code = FindBuiltinFunction(name)) {
    term->type = code;
    return 1;
  }
  if (!equation_tree_) return 0;
  CtVarLock lock;
  for (CtVar* fn = equation_tree_->GetFirstChild(); fn; fn = fn->GetNextSibling()) {
    if (!port::EqualsNoCase(fn->NameView(), name)) continue;
    CtVar* proto = fn->Index("Proto", 0);
    if (!proto) continue;
    const std::string_view text = cond::NodeText(*proto);
    const size_t open = text.find('(');
    if (open == std::string_view::npos) continue;
    const size_t first = text.find_first_not_of(" \t\n", open + 1);
    if (first != std::string_view::npos && text[first] == ')') {
      term->type = FN_CALL;
    } else {
      const size_t stop = text.find_first_of("),", open + 1);
      term->type = (stop != std::string_view::npos && text[stop] == ',') ? FN_CALL2 : FN_CALL1;
    }
    term->variable = fn;
    return 1;
  }
  return 0;
}

std::string CCondOutput::ResolveIndexes(const char* name) {
  std::string out(name);
  size_t open = out.find('[');
  while (open != std::string::npos) {
    size_t close = MatchingBracket(out, open);
    if (close == std::string::npos) break;
    if (!IsDigit(out[open + 1])) {
      const std::string expression = out.substr(open + 1, close - open - 1);
      double v = 0;
      if (g_index_depth < kMaxIndexDepth) {
        ++g_index_depth;
        v = EvalCondition(expression.c_str(), nullptr);
        --g_index_depth;
      }
      const std::string tail = out.substr(close + 1);
      out = out.substr(0, open) + "[" + std::to_string(cond::ToInt32(v)) + "]";
      close = out.size() - 1;
      out += tail;
    }
    open = (close + 1 < out.size() && out[close + 1] == '[') ? close + 1 : std::string::npos;
  }
  return out;
}

void CCondOutput::AddVar(const char* name, OZK_COND_TERM* term, CtVar* root, CtVar* local,
                         int read) {
  term->type = OP_NUMBER;
  term->value = 0;
  term->text = nullptr;
  term->variable = nullptr;
  const size_t len = std::strlen(name);
  if (name != term->name) {
    if (len < static_cast<size_t>(kCondTermNameSize)) {
      std::memcpy(term->name, name, len + 1);
    } else {
      term->name[0] = '\0';
    }
  }
  if (len == 0) return;
  if (name[0] == 'P' && name[1] == '.') {
    term->value = XCondParams::Get().GetParam(name + 2, 0);
    return;
  }
  const std::string resolved = std::strchr(name, '[') ? ResolveIndexes(name) : std::string(name);
  if (local) {
    CtVar* found = local->GetChild(std::string_view(resolved), 0, 0, 0);
    if (found && found != local) {
      SetTerm(term, *found, read);
      return;
    }
  }
  if (!root) return;
  NoteShadowVar(resolved, root);
  SetTerm(term, (*root)[std::string_view(resolved)], read);
}

void CCondOutput::SetTerm(OZK_COND_TERM* term, CtVar& var, int read) {
  CtVarLock lock;
  BindLocked(term, var, read);
}

void CCondOutput::BindLocked(OZK_COND_TERM* term, CtVar& var, int read) {
  term->variable = &var;
  // The stored type is enough except for destination registers; it spares a lock per variable.
  uint32_t type = var.GetStoredType();
  if (type == OZK_TVAR_DEST) type = var.GetType();
  if (type == OZK_TVAR_STRING) {
    // A text counts as 0 where a number is wanted, also when the term held a number before.
    term->type = OP_TEXT;
    term->value = 0;
    term->text = read ? cond::NodeText(var).data() : nullptr;
    if (!term->text) term->text = "";
  } else {
    // A variable that held text before must not keep pointing at its old buffer.
    term->type = OP_NUMBER;
    term->text = nullptr;
    if (read) {
      // Only mirrored and register-attached nodes need the full read.
      term->value =
          (type == OZK_TVAR_DEST || var.GetRpc()) ? static_cast<double>(var) : var.StoredNumber();
    }
  }
}

void CCondOutput::ReadEqVars(OZK_COND_TERM* terms, unsigned long count, CtVar* root, CtVar* local) {
  for (unsigned long i = 0; i < count; ++i) {
    OZK_COND_TERM& t = terms[i];
    if (!IsValueTerm(t.type) || !t.variable) continue;
    if (t.name[0] == '\0') {
      SetTerm(&t, *t.variable, 1);
      continue;
    }
    AddVar(t.name, &t, root, local, 1);
    if (t.negate && t.type == OP_NUMBER) t.value = -t.value;
  }
}
