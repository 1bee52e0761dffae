// Whether a caller's zero-terminated text still equals a copy kept of it, at the speed of a hot
// path that checks it on every call.
//
// The copy is compared 16 bytes at a time where a 16-byte load from the caller's text cannot
// leave the text's memory page, so it cannot fault even past the text's end; bytes past the first
// difference never decide anything, and the text's end is a difference unless the copy ends there
// too. Such loads may touch bytes outside the text, hence no address or thread sanitizing here.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace port {

constexpr size_t kKeptTextChunk = 16;

// kept holds size bytes (the last one the zero) and is readable for size rounded up to a
// multiple of kKeptTextChunk.
__attribute__((no_sanitize("address", "thread"))) inline bool SameAsKeptText(const char* kept,
                                                                             size_t size,
                                                                             const char* text) {
  size_t i = 0;
#ifdef __SSE2__
  constexpr uintptr_t kPage = 4096;
  for (; i < size; i += kKeptTextChunk) {
    if ((reinterpret_cast<uintptr_t>(text + i) & (kPage - 1)) > kPage - kKeptTextChunk) break;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kept + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const unsigned differ =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) & 0xFFFF;
    const size_t left = size - i;
    const unsigned counted = left >= kKeptTextChunk ? 0xFFFF : (1u << left) - 1;
    if (differ & counted) return false;
  }
#endif
  for (; i < size; ++i) {
    if (kept[i] != text[i]) return false;
  }
  return true;
}

}  // namespace port
