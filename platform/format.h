// printf-style formatting of one number with a format that comes from data (a node's format
// field, a template). The format is checked before use: it may hold literal text, "%%" and exactly
// one numeric conversion (d i o u x X c e E f F g G a A) with flags, width and precision of at
// most 3 digits each. Anything else (%s, %n, *, two conversions) is refused, so a stored format
// can never read a missing argument or write through one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace port {

// Formats value (integer conversions take it truncated toward zero). Returns false, leaving out
// untouched, when the format is refused.
bool FormatNumber(std::string_view format, double value, std::string* out);

// The longest text FormatFixed writes: a sign, 309 integer digits, the point and 9 decimals.
inline constexpr size_t kFixedTextMax = 320;

// Writes value as printf's "%.<decimals>f" would print it (decimals 0 to 9), the same digits
// rounded the same way, at a fraction of printf's cost (result lines format every column of every
// image this way), into text, which holds kFixedTextMax chars. Returns the end of the text.
char* FormatFixed(double value, int decimals, char* text);

}  // namespace port
