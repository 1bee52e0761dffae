#include "netmsg/lum_wire.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/text.h"

static_assert(std::endian::native == std::endian::little, "the wire encoding assumes LE hosts");

namespace {

template <typename T>
void Put(std::string* out, T v) {
  out->append(reinterpret_cast<const char*>(&v), sizeof v);
}

void PutBytes(std::string* out, std::string_view bytes) {
  Put<uint32_t>(out, static_cast<uint32_t>(bytes.size()));
  out->append(bytes);
}

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}

  template <typename T>
  bool Get(T* v) {
    if (in_.size() < sizeof(T)) return false;
    std::memcpy(v, in_.data(), sizeof(T));
    in_.remove_prefix(sizeof(T));
    return true;
  }
  // A length-prefixed run of unit-sized items; the length is checked before anything is taken.
  bool GetRun(size_t unit, std::string_view* run) {
    uint32_t n;
    if (!Get(&n) || n > in_.size() / unit) return false;
    *run = in_.substr(0, n * unit);
    in_.remove_prefix(n * unit);
    return true;
  }
  // An element count, refused when even the smallest elements could not fill the rest.
  bool GetCount(size_t min_element_size, uint32_t* n) {
    return Get(n) && *n <= in_.size() / min_element_size;
  }
  bool AtEnd() const { return in_.empty(); }

 private:
  std::string_view in_;
};

void EncodeVariant(const CLumVariant& v, std::string* out) {
  const LUM_VARIANT_TYPE type = v.GetType();
  Put<uint8_t>(out, type);
  switch (type) {
    case LUM_VT_EMPTY:
      return;
    case LUM_VT_INT:
    case LUM_VT_UINT:
    case LUM_VT_INT64:
      Put<int64_t>(out, v.IntegerBits());
      return;
    case LUM_VT_FLOAT:
    case LUM_VT_DOUBLE:
      Put<double>(out, v.DoubleValue());
      return;
    default:
      break;
  }
  Put<uint32_t>(out, static_cast<uint32_t>(v.Elements().size()));
  for (const CLumVariant::Element& e : v.Elements()) {
    switch (type) {
      case LUM_VT_WSTRING: {
        const std::u16string units = port::WideToUtf16(e.wide);
        Put<uint32_t>(out, static_cast<uint32_t>(units.size()));
        out->append(reinterpret_cast<const char*>(units.data()), units.size() * 2);
        break;
      }
      case LUM_VT_IMAGE:
        Put<uint32_t>(out, e.width);
        Put<uint32_t>(out, e.height);
        Put<uint32_t>(out, e.bits_pp);
        Put<uint32_t>(out, e.img_type);
        PutBytes(out, e.bytes);
        break;
      case LUM_VT_COORD:
        Put<double>(out, e.x);
        Put<double>(out, e.y);
        break;
      default:  // STRING, DATA
        PutBytes(out, e.bytes);
        break;
    }
  }
}

bool DecodeElement(LUM_VARIANT_TYPE type, Reader* r, CLumVariant::Element* e) {
  std::string_view run;
  switch (type) {
    case LUM_VT_WSTRING: {
      if (!r->GetRun(2, &run)) return false;
      std::u16string units(run.size() / 2, u'\0');
      std::memcpy(units.data(), run.data(), run.size());
      e->wide = port::Utf16ToWide(units);
      return true;
    }
    case LUM_VT_IMAGE:
      if (!r->Get(&e->width) || !r->Get(&e->height) || !r->Get(&e->bits_pp) ||
          !r->Get(&e->img_type) || !r->GetRun(1, &run))
        return false;
      e->bytes.assign(run);
      return true;
    case LUM_VT_COORD:
      return r->Get(&e->x) && r->Get(&e->y);
    default:  // STRING, DATA
      if (!r->GetRun(1, &run)) return false;
      e->bytes.assign(run);
      return true;
  }
}

size_t MinElementSize(LUM_VARIANT_TYPE type) {
  switch (type) {
    case LUM_VT_IMAGE:
      return 20;
    case LUM_VT_COORD:
      return 16;
    default:
      return 4;
  }
}

bool DecodeVariant(Reader* r, CLumVariant* v) {
  uint8_t code;
  if (!r->Get(&code) || code > LUM_VT_LAST) return false;
  const auto type = static_cast<LUM_VARIANT_TYPE>(code);
  if (type == LUM_VT_EMPTY) {
    *v = CLumVariant();
    return true;
  }
  if (!CLumVariant::IsListType(type)) {
    int64_t integer = 0;
    double real = 0;
    const bool ok =
        (type == LUM_VT_FLOAT || type == LUM_VT_DOUBLE) ? r->Get(&real) : r->Get(&integer);
    if (ok) *v = CLumVariant::FromScalar(type, integer, real);
    return ok;
  }
  uint32_t n;
  if (!r->GetCount(MinElementSize(type), &n)) return false;
  std::vector<CLumVariant::Element> elements(n);
  for (CLumVariant::Element& e : elements) {
    if (!DecodeElement(type, r, &e)) return false;
  }
  *v = CLumVariant::FromList(type, std::move(elements));
  return true;
}

}  // namespace

void EncodeLumMsg(const CLumMsg& msg, std::string* out) {
  // Room for the bulk (texts, data, images) up front: growing by appends would copy a large
  // image several times over.
  size_t bulk = 8;
  for (int i = 0; i < msg.Size(); ++i) {
    bulk += 16;
    for (const CLumVariant::Element& e : msg.Get(i).Elements())
      bulk += 24 + e.bytes.size() + 4 * e.wide.size();
  }
  out->reserve(out->size() + bulk);
  Put<int32_t>(out, msg.GetId());
  Put<uint32_t>(out, static_cast<uint32_t>(msg.Size()));
  for (int i = 0; i < msg.Size(); ++i) EncodeVariant(msg.Get(i), out);
}

bool DecodeLumMsg(std::string_view bytes, CLumMsg* out) {
  out->Clear();
  Reader r(bytes);
  int32_t id;
  uint32_t count;
  // Every variant takes at least its type byte.
  if (!r.Get(&id) || !r.GetCount(1, &count)) return false;
  out->SetId(id);
  for (uint32_t i = 0; i < count; ++i) {
    CLumVariant v;
    if (!DecodeVariant(&r, &v)) {
      out->Clear();
      return false;
    }
    out->Add(std::move(v));
  }
  if (!r.AtEnd()) {
    out->Clear();
    return false;
  }
  return true;
}
