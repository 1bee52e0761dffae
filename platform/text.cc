#include "platform/text.h"

#include <cstdint>

namespace port {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Decodes one UTF-8 sequence at text[i]; advances i past it. Overlong forms, surrogates and
// values above U+10FFFF are invalid and consume one byte.
char32_t DecodeUtf8(std::string_view text, size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t c;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= text.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || IsSurrogate(c)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (c >> 10));
    out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  }
}

// Decodes one code point from UTF-16 at text[i]; advances i.
char32_t DecodeUtf16(std::u16string_view text, size_t& i) {
  const char32_t u = text[i++];
  if (u >= 0xD800 && u <= 0xDBFF && i < text.size()) {
    const char32_t low = text[i];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++i;
      return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return IsSurrogate(u) ? kReplacement : u;
}

template <typename Out, typename In, typename Decode, typename Append>
Out Convert(In in, Decode decode, Append append) {
  Out out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size();) append(out, decode(in, i));
  return out;
}

char32_t DecodeWide(std::wstring_view text, size_t& i) {
  return static_cast<char32_t>(text[i++]);
}

void AppendWide(std::wstring& out, char32_t c) {
  if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
  out += static_cast<wchar_t>(c);
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  return Convert<std::wstring>(utf8, DecodeUtf8, AppendWide);
}
std::string WideToUtf8(std::wstring_view wide) {
  return Convert<std::string>(wide, DecodeWide, AppendUtf8);
}
std::u16string Utf8ToUtf16(std::string_view utf8) {
  return Convert<std::u16string>(utf8, DecodeUtf8, AppendUtf16);
}
std::string Utf16ToUtf8(std::u16string_view utf16) {
  return Convert<std::string>(utf16, DecodeUtf16, AppendUtf8);
}
std::u16string WideToUtf16(std::wstring_view wide) {
  return Convert<std::u16string>(wide, DecodeWide, AppendUtf16);
}
std::wstring Utf16ToWide(std::u16string_view utf16) {
  return Convert<std::wstring>(utf16, DecodeUtf16, AppendWide);
}

std::u16string Utf16LeBytesToString(std::string_view bytes) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    out += unit;
  }
  return out;
}

size_t FindMixedMark(std::string_view text) {
  for (size_t i = text.find('\xFF'); i != std::string_view::npos; i = text.find('\xFF', i + 1)) {
    if (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xFE) return i;
  }
  return std::string_view::npos;
}

std::string_view MixedTextView(const char* text) {
  if (!text) return std::string_view();
  const std::string_view bytes(text);
  const size_t mark = FindMixedMark(bytes);
  if (mark == std::string_view::npos) return bytes;
  size_t end = mark + 2;
  while (text[end] != 0 || text[end + 1] != 0) end += 2;
  return std::string_view(text, end);
}

std::string MixedToUtf8(std::string_view text, size_t max_tail_bytes) {
  const size_t mark = FindMixedMark(text);
  if (mark == std::string_view::npos) return std::string(text);
  std::string out(text.substr(0, mark));
  const std::u16string tail = Utf16LeBytesToString(text.substr(mark + 2));
  size_t written = 0;
  std::string piece;
  for (size_t i = 0; i < tail.size();) {
    piece.clear();
    AppendUtf8(piece, DecodeUtf16(tail, i));
    if (written + piece.size() > max_tail_bytes) break;
    out += piece;
    written += piece.size();
  }
  return out;
}

std::wstring MixedToWide(std::string_view text) {
  const size_t mark = FindMixedMark(text);
  if (mark == std::string_view::npos) return Utf8ToWide(text);
  std::wstring out;
  for (size_t i = 0; i < mark; ++i)
    out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
  out += Utf16ToWide(Utf16LeBytesToString(text.substr(mark + 2)));
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AsciiLower(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiLower(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace port
