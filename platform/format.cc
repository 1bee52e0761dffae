#include "platform/format.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace port {
namespace {

bool ReadDigits(std::string_view f, size_t& i, std::string& directive) {
  size_t n = 0;
  while (i < f.size() && std::isdigit(static_cast<unsigned char>(f[i]))) {
    if (++n > 3) return false;
    directive += f[i++];
  }
  return true;
}

long long TruncateToInteger(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return 9'200'000'000'000'000'000LL;
  if (v <= -9.2e18) return -9'200'000'000'000'000'000LL;
  return static_cast<long long>(v);
}

}  // namespace

bool FormatNumber(std::string_view f, double value, std::string* out) {
  std::string prefix, suffix, directive;
  char conversion = 0;
  for (size_t i = 0; i < f.size();) {
    const char c = f[i];
    if (c == '\0') break;
    if (c != '%') {
      (conversion ? suffix : prefix) += c, ++i;
      continue;
    }
    if (i + 1 < f.size() && f[i + 1] == '%') {
      (conversion ? suffix : prefix) += "%%", i += 2;
      continue;
    }
    if (conversion) return false;  // a second conversion
    directive.assign(1, '%');
    ++i;
    while (i < f.size() && std::strchr("-+ #0", f[i]) && f[i] != '\0') directive += f[i++];
    if (!ReadDigits(f, i, directive)) return false;
    if (i < f.size() && f[i] == '.') {
      directive += f[i++];
      if (!ReadDigits(f, i, directive)) return false;
    }
    while (i < f.size() && std::strchr("hlLqjzt", f[i]) && f[i] != '\0') ++i;  // sizes are ours
    if (i >= f.size() || f[i] == '\0' || !std::strchr("diouxXceEfFgGaA", f[i])) return false;
    conversion = f[i++];
  }
  if (!conversion) {
    // Literal text only: printf would print it as it is (with "%%" folded).
    std::string text;
    for (size_t i = 0; i < prefix.size(); ++i) {
      text += prefix[i];
      if (prefix[i] == '%') ++i;
    }
    *out = text;
    return true;
  }
  const std::string format = prefix + directive + (std::strchr("diouxX", conversion) ? "ll" : "") +
                             std::string(1, conversion) + suffix;
  char buf[2048];  // holds 3-digit widths and precisions of any double
  int n;
  if (std::strchr("diouxX", conversion)) {
    n = std::snprintf(buf, sizeof buf, format.c_str(), TruncateToInteger(value));
  } else if (conversion == 'c') {
    n = std::snprintf(buf, sizeof buf, format.c_str(),
                      static_cast<int>(static_cast<unsigned char>(TruncateToInteger(value))));
  } else {
    n = std::snprintf(buf, sizeof buf, format.c_str(), value);
  }
  if (n < 0) return false;
  out->assign(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
  return true;
}

char* FormatFixed(double value, int decimals, char* text) {
  static constexpr uint64_t kPow10[] = {1,      10,      100,      1000,      10000,
                                        100000, 1000000, 10000000, 100000000, 1000000000};
  decimals = std::clamp(decimals, 0, 9);
  const double scaled = std::fabs(value) * static_cast<double>(kPow10[decimals]);
  // The product is off from the exact decimal value by at most half an ulp; only when that
  // could move it across a rounding midpoint does printf's exact rounding need the slow path.
  if (scaled < 0x1p52) {  // false for infinities and NaN
    const uint64_t whole = static_cast<uint64_t>(scaled);
    const double fraction = scaled - static_cast<double>(whole);
    if (std::fabs(fraction - 0.5) > scaled * 0x1p-50) {
      const uint64_t units = whole + (fraction > 0.5 ? 1 : 0);
      char* end = text;
      if (std::signbit(value)) *end++ = '-';
      end = std::to_chars(end, text + kFixedTextMax, units / kPow10[decimals]).ptr;
      if (decimals > 0) {
        *end++ = '.';
        uint64_t part = units % kPow10[decimals];
        for (char* digit = end + decimals; digit != end; part /= 10) *--digit = '0' + part % 10;
        end += decimals;
      }
      return end;
    }
  }
  const auto r =
      std::to_chars(text, text + kFixedTextMax, value, std::chars_format::fixed, decimals);
  return r.ec == std::errc() ? r.ptr : text;
}

}  // namespace port
