#include "cond/escape.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodeEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 1 >= text.size()) break;  // a trailing backslash is dropped
    const char e = text[++i];
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'v':
        out += '\v';
        break;
      case 'x': {
        // Up to two digits; the character that ends the digits is consumed with them, as the
        // appliance always did.
        int value = 0;
        size_t j = i + 1;
        int digits = 0;
        while (j < text.size() && digits < 2 && HexDigit(text[j]) >= 0) {
          value = value * 16 + HexDigit(text[j]);
          ++j, ++digits;
        }
        out += static_cast<char>(value);
        i = digits < 2 ? j : j - 1;
        break;
      }
      default:
        out += '\\';
        out += e;
        break;
    }
  }
  return out;
}
