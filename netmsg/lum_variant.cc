#include "netmsg/lum_variant.h"

#include <cstdlib>
#include <limits>

namespace {

// Ten million elements is far beyond any message of this system; the cap keeps a bad index from
// turning into a huge allocation.
constexpr int kMaxElementIndex = 10'000'000;

bool IsIntegerType(LUM_VARIANT_TYPE t) {
  return t == LUM_VT_INT || t == LUM_VT_UINT || t == LUM_VT_INT64;
}

}  // namespace

CLumVariant::CLumVariant(LUM_VARIANT_TYPE type)
    : type_(type <= LUM_VT_LAST ? type : LUM_VT_EMPTY) {}
CLumVariant::CLumVariant(int v) {
  SetInteger(LUM_VT_INT, v);
}
CLumVariant::CLumVariant(unsigned int v) {
  SetInteger(LUM_VT_UINT, v);
}
CLumVariant::CLumVariant(long v) {
  SetInteger(LUM_VT_INT64, v);
}
CLumVariant::CLumVariant(unsigned long v) {
  if (v <= std::numeric_limits<uint32_t>::max()) {
    SetInteger(LUM_VT_UINT, static_cast<int64_t>(v));
  } else {
    SetInteger(LUM_VT_INT64, static_cast<int64_t>(v));
  }
}
CLumVariant::CLumVariant(long long v) {
  SetInteger(LUM_VT_INT64, v);
}
CLumVariant::CLumVariant(float v) {
  SetReal(LUM_VT_FLOAT, v);
}
CLumVariant::CLumVariant(double v) {
  SetReal(LUM_VT_DOUBLE, v);
}
CLumVariant::CLumVariant(const char* text) {
  AddString(text);
}
CLumVariant::CLumVariant(const wchar_t* text) {
  AddWString(text);
}
CLumVariant::CLumVariant(const void* data, long size, bool copy) {
  AddData(data, size, copy);
}

void CLumVariant::SetInteger(LUM_VARIANT_TYPE type, int64_t v) {
  type_ = type;
  integer_ = v;
}

void CLumVariant::SetReal(LUM_VARIANT_TYPE type, double v) {
  type_ = type;
  real_ = v;
}

bool CLumVariant::IsListType(LUM_VARIANT_TYPE t) {
  return t == LUM_VT_STRING || t == LUM_VT_WSTRING || t == LUM_VT_DATA || t == LUM_VT_IMAGE ||
         t == LUM_VT_COORD;
}

int CLumVariant::GetSize() const {
  if (type_ == LUM_VT_EMPTY) return static_cast<int>(elements_.size());
  return IsList() ? static_cast<int>(elements_.size()) : 1;
}

CLumVariant::Element* CLumVariant::Slot(LUM_VARIANT_TYPE kind, int index) {
  if (index < 0 || index > kMaxElementIndex) return nullptr;
  if (type_ == LUM_VT_EMPTY) type_ = kind;
  if (type_ != kind) return nullptr;
  if (static_cast<size_t>(index) >= elements_.size()) elements_.resize(index + 1);
  return &elements_[index];
}

const CLumVariant::Element* CLumVariant::Find(LUM_VARIANT_TYPE kind, int index) const {
  if (type_ != kind || index < 0 || static_cast<size_t>(index) >= elements_.size()) return nullptr;
  return &elements_[index];
}

int CLumVariant::SetString(const char* text, int index) {
  Element* e = Slot(LUM_VT_STRING, index);
  if (!e) return 0;
  e->bytes.assign(text ? text : "");
  return 1;
}

int CLumVariant::SetStringBytes(std::string_view bytes, int index) {
  Element* e = Slot(LUM_VT_STRING, index);
  if (!e) return 0;
  e->bytes.assign(bytes);
  return 1;
}

std::string_view CLumVariant::GetBytes(int index) const {
  if (type_ != LUM_VT_STRING && type_ != LUM_VT_DATA && type_ != LUM_VT_IMAGE) return {};
  if (index < 0 || static_cast<size_t>(index) >= elements_.size()) return {};
  return elements_[index].bytes.view();
}

int CLumVariant::AddString(const char* text) {
  return SetString(text, type_ == LUM_VT_STRING ? GetSize() : 0);
}

const char* CLumVariant::GetString(int index) const {
  const Element* e = Find(LUM_VT_STRING, index);
  return e ? e->bytes.c_str() : "";
}

int CLumVariant::SetWString(const wchar_t* text, int index) {
  Element* e = Slot(LUM_VT_WSTRING, index);
  if (!e) return 0;
  e->wide = text ? text : L"";
  return 1;
}

int CLumVariant::AddWString(const wchar_t* text) {
  return SetWString(text, type_ == LUM_VT_WSTRING ? GetSize() : 0);
}

const wchar_t* CLumVariant::GetWString(int index) const {
  const Element* e = Find(LUM_VT_WSTRING, index);
  return e ? e->wide.c_str() : L"";
}

int CLumVariant::SetData(const void* data, long size, bool /*copy*/, int index) {
  if (size < 0 || (size > 0 && !data)) return 0;
  Element* e = Slot(LUM_VT_DATA, index);
  if (!e) return 0;
  e->bytes.assign(std::string_view(static_cast<const char*>(data), size));
  return 1;
}

int CLumVariant::AddData(const void* data, long size, bool copy) {
  return SetData(data, size, copy, type_ == LUM_VT_DATA ? GetSize() : 0);
}

const void* CLumVariant::GetData(int index) const {
  const Element* e = Find(LUM_VT_DATA, index);
  return e ? e->bytes.data() : nullptr;
}

long CLumVariant::GetDataSize(int index) const {
  const Element* e = Find(LUM_VT_DATA, index);
  return e ? static_cast<long>(e->bytes.size()) : 0;
}

int CLumVariant::AddImage(const void* pixels, long size, uint32_t width, uint32_t height,
                          uint32_t bits_pp, uint32_t img_type) {
  if (size < 0 || (size > 0 && !pixels)) return 0;
  Element* e = Slot(LUM_VT_IMAGE, type_ == LUM_VT_IMAGE ? GetSize() : 0);
  if (!e) return 0;
  e->bytes.assign(std::string_view(static_cast<const char*>(pixels), size));
  e->width = width;
  e->height = height;
  e->bits_pp = bits_pp;
  e->img_type = img_type;
  return 1;
}

int CLumVariant::AddCoord(double x, double y) {
  Element* e = Slot(LUM_VT_COORD, type_ == LUM_VT_COORD ? GetSize() : 0);
  if (!e) return 0;
  e->x = x;
  e->y = y;
  return 1;
}

int CLumVariant::GetCoord(double* x, double* y, int index) const {
  const Element* e = Find(LUM_VT_COORD, index);
  if (!e) return 0;
  if (x) *x = e->x;
  if (y) *y = e->y;
  return 1;
}

double CLumVariant::GetDouble(int index) const {
  if (type_ == LUM_VT_FLOAT || type_ == LUM_VT_DOUBLE) return index == 0 ? real_ : 0;
  if (IsIntegerType(type_)) {
    if (index != 0) return 0;
    return type_ == LUM_VT_UINT ? static_cast<double>(static_cast<uint32_t>(integer_))
                                : static_cast<double>(integer_);
  }
  if (type_ == LUM_VT_STRING) return std::strtod(GetString(index), nullptr);
  return 0;
}

int64_t CLumVariant::GetLongLong(int index) const {
  if (IsIntegerType(type_)) return index == 0 ? integer_ : 0;
  if (type_ == LUM_VT_STRING) return std::strtoll(GetString(index), nullptr, 10);
  const double d = GetDouble(index);
  // Out-of-range and NaN values have no integer form; they read as 0 rather than as UB.
  if (!(d > -9.2e18 && d < 9.2e18)) return 0;
  return static_cast<int64_t>(d);
}

uint32_t CLumVariant::GetImgWidth(int index) const {
  const Element* e = Find(LUM_VT_IMAGE, index);
  return e ? e->width : 0;
}

uint32_t CLumVariant::GetImgHeight(int index) const {
  const Element* e = Find(LUM_VT_IMAGE, index);
  return e ? e->height : 0;
}

uint32_t CLumVariant::GetImgBitsPP(int index) const {
  const Element* e = Find(LUM_VT_IMAGE, index);
  return e ? e->bits_pp : 0;
}

uint32_t CLumVariant::GetImgType(int index) const {
  const Element* e = Find(LUM_VT_IMAGE, index);
  return e ? e->img_type : 0;
}

const void* CLumVariant::GetImgBuff(int index) const {
  const Element* e = Find(LUM_VT_IMAGE, index);
  return e ? e->bytes.data() : nullptr;
}

long CLumVariant::GetImgBuffSize(int index) const {
  const Element* e = Find(LUM_VT_IMAGE, index);
  return e ? static_cast<long>(e->bytes.size()) : 0;
}

CLumVariant CLumVariant::FromScalar(LUM_VARIANT_TYPE type, int64_t integer, double real) {
  CLumVariant v;
  v.type_ = type;
  v.integer_ = IsIntegerType(type) ? integer : 0;
  v.real_ = (type == LUM_VT_FLOAT || type == LUM_VT_DOUBLE) ? real : 0;
  return v;
}

CLumVariant CLumVariant::FromList(LUM_VARIANT_TYPE type, std::vector<Element> elements) {
  CLumVariant v;
  v.type_ = type;
  v.elements_ = std::move(elements);
  return v;
}
