#include "netmsg/lum_wire.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/text.h"

static_assert(std::endian::native == std::endian::little, "the wire encoding assumes LE hosts");

namespace {

// Element bytes from this size on are sent from where they lie and decoded in place; below it,
// copying them is cheaper than keeping track of them.
constexpr size_t kInPlaceMin = 4096;

// Collects an encoding: small fields are copied, large element bytes only noted with the offset
// where they go.
class Writer {
 public:
  struct Run {
    size_t offset;
    std::string_view bytes;
  };

  explicit Writer(std::string* small) : small_(small) {}

  template <typename T>
  void Put(T v) {
    small_->append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void Append(std::string_view bytes) { small_->append(bytes); }
  void PutBytes(std::string_view bytes) {
    Put<uint32_t>(static_cast<uint32_t>(bytes.size()));
    if (bytes.size() < kInPlaceMin)
      small_->append(bytes);
    else
      runs_.push_back({small_->size(), bytes});
  }
  const std::vector<Run>& Runs() const { return runs_; }

 private:
  std::string* small_;
  std::vector<Run> runs_;
};

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

void EncodeVariant(const CLumVariant& v, Writer* out) {
  const LUM_VARIANT_TYPE type = v.GetType();
  out->Put<uint8_t>(type);
  switch (type) {
    case LUM_VT_EMPTY:
      return;
    case LUM_VT_INT:
    case LUM_VT_UINT:
    case LUM_VT_INT64:
      out->Put<int64_t>(v.IntegerBits());
      return;
    case LUM_VT_FLOAT:
    case LUM_VT_DOUBLE:
      out->Put<double>(v.DoubleValue());
      return;
    default:
      break;
  }
  out->Put<uint32_t>(static_cast<uint32_t>(v.Elements().size()));
  for (const CLumVariant::Element& e : v.Elements()) {
    switch (type) {
      case LUM_VT_WSTRING: {
        const std::u16string units = port::WideToUtf16(e.wide);
        out->Put<uint32_t>(static_cast<uint32_t>(units.size()));
        out->Append({reinterpret_cast<const char*>(units.data()), units.size() * 2});
        break;
      }
      case LUM_VT_IMAGE:
        out->Put<uint32_t>(e.width);
        out->Put<uint32_t>(e.height);
        out->Put<uint32_t>(e.bits_pp);
        out->Put<uint32_t>(e.img_type);
        out->PutBytes(e.bytes.view());
        break;
      case LUM_VT_COORD:
        out->Put<double>(e.x);
        out->Put<double>(e.y);
        break;
      default:  // STRING, DATA
        out->PutBytes(e.bytes.view());
        break;
    }
  }
}

// Large data blocks and images stay in the frame they arrived in; texts are always copied, as
// they must end with a terminator.
void TakeBytes(std::string_view run, const std::shared_ptr<const char[]>& frame, LumBytes* out) {
  if (frame && run.size() >= kInPlaceMin)
    *out = LumBytes(frame, run);
  else
    out->assign(run);
}

bool DecodeElement(LUM_VARIANT_TYPE type, Reader* r, const std::shared_ptr<const char[]>& frame,
                   CLumVariant::Element* e) {
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
      TakeBytes(run, frame, &e->bytes);
      return true;
    case LUM_VT_COORD:
      return r->Get(&e->x) && r->Get(&e->y);
    default:  // STRING, DATA
      if (!r->GetRun(1, &run)) return false;
      TakeBytes(run, type == LUM_VT_DATA ? frame : nullptr, &e->bytes);
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

bool DecodeVariant(Reader* r, const std::shared_ptr<const char[]>& frame, CLumVariant* v) {
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
    if (!DecodeElement(type, r, frame, &e)) return false;
  }
  *v = CLumVariant::FromList(type, std::move(elements));
  return true;
}

}  // namespace

LumWireEncoding::LumWireEncoding(const CLumMsg& msg) {
  Writer w(&small_);
  w.Put<int32_t>(msg.GetId());
  w.Put<uint32_t>(static_cast<uint32_t>(msg.Size()));
  for (int i = 0; i < msg.Size(); ++i) EncodeVariant(msg.Get(i), &w);
  auto add = [this](std::string_view piece) {
    if (piece.empty()) return;
    pieces_.push_back(piece);
    size_ += piece.size();
  };
  const std::string_view small = small_;
  size_t at = 0;
  for (const Writer::Run& run : w.Runs()) {
    add(small.substr(at, run.offset - at));
    add(run.bytes);
    at = run.offset;
  }
  add(small.substr(at));
}

void EncodeLumMsg(const CLumMsg& msg, std::string* out) {
  const LumWireEncoding encoding(msg);
  out->reserve(out->size() + encoding.Size());
  for (std::string_view piece : encoding.Pieces()) out->append(piece);
}

bool DecodeLumMsg(std::string_view bytes, CLumMsg* out,
                  const std::shared_ptr<const char[]>& frame) {
  out->Clear();
  Reader r(bytes);
  int32_t id;
  uint32_t count;
  // Every variant takes at least its type byte.
  if (!r.Get(&id) || !r.GetCount(1, &count)) return false;
  out->SetId(id);
  for (uint32_t i = 0; i < count; ++i) {
    CLumVariant v;
    if (!DecodeVariant(&r, frame, &v)) {
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
