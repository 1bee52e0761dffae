// Statement lines: splitting into condition, target and expression, and the allowed characters.
#include <string>
#include <string_view>

#include "cond/cond_output.h"

namespace {

constexpr std::string_view kBlanks = " \t\n";
constexpr size_t kMaxTargetLength = 59;

std::string_view SkipBlanks(std::string_view s) {
  const size_t at = s.find_first_not_of(kBlanks);
  return at == std::string_view::npos ? std::string_view() : s.substr(at);
}

// Offset of the ")" that closes the "(" at open, or npos.
size_t MatchingParen(std::string_view s, size_t open) {
  int depth = 0;
  for (size_t i = open; i < s.size(); ++i) {
    if (s[i] == '(') ++depth;
    if (s[i] == ')' && --depth == 0) return i;
  }
  return std::string_view::npos;
}

bool AllowedInTarget(unsigned char c) {
  return c >= 0x80 || (c >= 0x20 && c <= 0x22) || c == '.' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'z');
}

int Refuse(wchar_t* bad, unsigned char c) {
  if (bad) *bad = static_cast<wchar_t>(c);
  return 0;
}

}  // namespace

int CCondOutput::GetEquationParts(const char* line, std::string* target, std::string* expression,
                                  std::string* condition) {
  if (!line || !target || !expression || !condition) return 0;
  target->clear();
  expression->clear();
  condition->clear();
  std::string_view s = SkipBlanks(line);
  if (s.empty()) return 0;

  if (s.size() >= 3 && s.substr(0, 2) == "if") {
    const size_t open = s.find_first_not_of(" \t\n)", 2);
    const size_t close = open != std::string_view::npos && s[open] == '(' ? MatchingParen(s, open)
                                                                          : std::string_view::npos;
    if (close != std::string_view::npos) {
      *condition = std::string(s.substr(open + 1, close - open - 1));
      const std::string_view rest = SkipBlanks(s.substr(close + 1));
      if (rest.empty() || rest.substr(0, 2) == "//") {
        // The line opens an "if" block.
        *expression = "if(" + *condition + ") " + std::string(rest);
        condition->clear();
        return 1;
      }
      s = rest;
    }
  }

  size_t k = 0;
  for (;;) {
    k = s.find_first_of("=!<>+-*/()&|,%[", k);
    if (k == std::string_view::npos || s[k] != '[') break;
    const size_t close = s.find(']', k);
    if (close == std::string_view::npos) {
      ++k;  // an unclosed "[" is an ordinary character
      continue;
    }
    k = s.find_first_not_of(kBlanks, close + 1);
    if (k == std::string_view::npos) break;
  }
  if (k != std::string_view::npos && s[k] == '=') {
    std::string_view left = s.substr(0, k);
    while (!left.empty() && (left.back() == ' ' || left.back() == '\t')) left.remove_suffix(1);
    if (left.size() > kMaxTargetLength) return 0;
    *target = std::string(left);
    *expression = std::string(SkipBlanks(s.substr(k + 1)));
    return 1;
  }
  *expression = std::string(s);
  return 1;
}

int CCondOutput::EquationValidChars(const char* text, wchar_t* bad) {
  if (!text) return 1;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (!((*p >= 0x20 && *p <= 0x7D) || *p >= 0x80)) return Refuse(bad, *p);
  }
  return 1;
}

int CCondOutput::LeftValueOK(const char* text, wchar_t* bad) {
  if (!text) return 1;
  std::string_view s(text);
  int depth = 0;
  bool balanced = true;
  for (char c : s) {
    if (c == '[') ++depth;
    if (c == ']' && --depth < 0) balanced = false;
  }
  if (balanced && depth == 0) s = s.substr(0, s.find('['));
  for (unsigned char c : s) {
    if (!AllowedInTarget(c)) return Refuse(bad, c);
  }
  return 1;
}
