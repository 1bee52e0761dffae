#include "link/process_results.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "netmsg/lum_variant.h"

static_assert(std::endian::native == std::endian::little, "records are little-endian bytes");

namespace {

template <typename T>
T Truncate(double v) {
  if (std::isnan(v)) return 0;
  const double t = std::trunc(v);
  if (t <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (t >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(t);
}

bool IsUnsignedCount(int i) {
  return i == kResultInspected || i == kResultImageNumber;
}

// Copies at most size bytes of an element; the rest of the field stays zero.
void CopyBlock(const CLumVariant& v, int element, void* field, size_t size) {
  const std::string_view bytes = v.GetBytes(element);
  if (!bytes.empty()) std::memcpy(field, bytes.data(), std::min(size, bytes.size()));
}

// A text keeps its terminating zero: at most size - 1 bytes, and nothing after an embedded zero
// matters to a reader.
void CopyText(const CLumVariant& v, int element, char* field, size_t size) {
  CopyBlock(v, element, field, size - 1);
}

std::string_view TextOf(const char* field, size_t size) {
  return {field, strnlen(field, size)};
}

void AddBytes(CLumVariant* v, const void* data, size_t size) {
  v->AddData(data, static_cast<long>(size), true);
}

}  // namespace

int UnPackResultVar(const CLumVariant& v, OZK_PROCESS_RESULTS* out) {
  if (!out || v.GetType() != LUM_VT_DATA || v.GetSize() < 1) return 0;
  OZK_PROCESS_RESULTS r{};
  double d[kResultDoubles] = {};
  CopyBlock(v, 0, d, sizeof d);
  for (int i = 0; i < 9; ++i) {
    r.counts[i] = IsUnsignedCount(i) ? static_cast<int32_t>(Truncate<uint32_t>(d[i]))
                                     : Truncate<int32_t>(d[i]);
  }
  std::copy(d + 9, d + 12, r.values);
  r.value4 = d[12];
  CopyBlock(v, 1, r.block1, sizeof r.block1);
  CopyBlock(v, 2, r.block2, sizeof r.block2);
  CopyBlock(v, 3, r.block3, sizeof r.block3);
  CopyText(v, 4, r.text1, sizeof r.text1);
  CopyText(v, 5, r.text2, sizeof r.text2);
  CopyBlock(v, 6, &r.word, sizeof r.word);
  CopyText(v, 7, r.text3, sizeof r.text3);
  *out = r;
  return 1;
}

CLumVariant PackResultVar(const OZK_PROCESS_RESULTS& r) {
  double d[kResultDoubles];
  for (int i = 0; i < 9; ++i) {
    d[i] = IsUnsignedCount(i) ? static_cast<double>(static_cast<uint32_t>(r.counts[i]))
                              : static_cast<double>(r.counts[i]);
  }
  std::copy(r.values, r.values + 3, d + 9);
  d[12] = r.value4;
  CLumVariant v(LUM_VT_DATA);
  AddBytes(&v, d, sizeof d);
  AddBytes(&v, r.block1, sizeof r.block1);
  AddBytes(&v, r.block2, sizeof r.block2);
  AddBytes(&v, r.block3, sizeof r.block3);
  const std::string_view t1 = TextOf(r.text1, sizeof r.text1);
  const std::string_view t2 = TextOf(r.text2, sizeof r.text2);
  const std::string_view t3 = TextOf(r.text3, sizeof r.text3);
  AddBytes(&v, t1.data(), t1.size());
  AddBytes(&v, t2.data(), t2.size());
  AddBytes(&v, &r.word, sizeof r.word);
  AddBytes(&v, t3.data(), t3.size());
  return v;
}
