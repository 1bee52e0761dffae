// Text conversion between the encodings that meet in this library.
//
// Inside the variable tree and on the wire texts are 8-bit, normally UTF-8. A text may also come
// in "mixed" form: an 8-bit prefix, the two bytes 0xFF 0xFE, then UTF-16LE code units up to a zero
// unit. Paths, file names and user-visible texts are wide strings (wchar_t holds UTF-32 here).
// Wire and file formats fixed as UTF-16 use std::u16string (UTF-16LE whatever the host order).
//
// Every decoder accepts arbitrary bytes: invalid sequences and unpaired surrogates become U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace port {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
std::u16string WideToUtf16(std::wstring_view wide);
std::wstring Utf16ToWide(std::u16string_view utf16);

// UTF-16LE units read from raw bytes: pairs up to the first zero unit or the end (an odd last
// byte is ignored).
std::u16string Utf16LeBytesToString(std::string_view bytes);

// Index of the first 0xFF 0xFE pair, or npos.
size_t FindMixedMark(std::string_view text);

// The extent of a zero-terminated text that may be mixed: up to the first zero byte, or, when a
// 0xFF 0xFE pair comes before it, on through the UTF-16 units after the pair up to a zero unit
// (whose bytes are not part of the view). A plain strlen would cut the tail at the first unit
// below 0x100. Only for texts that end as they claim: a 0xFF 0xFE pair in a text that ends at one
// zero byte makes the scan run past its end; texts whose extent is known are passed as views.
std::string_view MixedTextView(const char* text);

// The 8-bit form a mixed text is stored as: the prefix kept as it is, the UTF-16 tail converted to
// UTF-8 (at most max_tail_bytes of output; a character that does not fit whole is left out).
// A text without the mark is returned unchanged.
constexpr size_t kMixedTailLimit = 520;
std::string MixedToUtf8(std::string_view text, size_t max_tail_bytes = kMixedTailLimit);

// The wide form of an 8-bit text: a leading 0xFF 0xFE makes the rest UTF-16; otherwise the
// bytes before a 0xFF 0xFE pair are taken one by one (as Latin-1) and the units after it as
// UTF-16; a text without the pair is decoded as UTF-8.
std::wstring MixedToWide(std::string_view text);

// ASCII-only case folding, as the tree compares names.
inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
// Inline: tree lookups call it for every name they compare.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // the usual case: names written alike
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}
int CompareNoCase(std::string_view a, std::string_view b);

}  // namespace port
