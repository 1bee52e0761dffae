#include "link/device_records.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace {

// Little-endian field access on a fixed record; every offset is a constant inside the record.
class RecordWriter {
 public:
  explicit RecordWriter(std::span<uint8_t> bytes) : bytes_(bytes) {
    std::fill(bytes_.begin(), bytes_.end(), 0);
  }
  void U32(size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[off + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void U64(size_t off, uint64_t v) {
    U32(off, static_cast<uint32_t>(v));
    U32(off + 4, static_cast<uint32_t>(v >> 32));
  }
  void F64(size_t off, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    U64(off, bits);
  }
  // Keeps the terminator: at most field - 1 bytes of text.
  void Text(size_t off, size_t field, const std::string& text) {
    const size_t n = std::min(text.size(), field - 1);
    std::memcpy(bytes_.data() + off, text.data(), n);
  }
  // UTF-16LE in a field of units code units, terminator kept.
  void WideText(size_t off, size_t units, const std::wstring& text) {
    std::u16string u = port::WideToUtf16(text);
    u.resize(std::min(u.size(), units - 1));
    for (size_t i = 0; i < u.size(); ++i) {
      bytes_[off + 2 * i] = static_cast<uint8_t>(u[i]);
      bytes_[off + 2 * i + 1] = static_cast<uint8_t>(u[i] >> 8);
    }
  }

 private:
  std::span<uint8_t> bytes_;
};

class RecordReader {
 public:
  explicit RecordReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t U32(size_t off) const {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes_[off + i]) << (8 * i);
    return v;
  }
  uint64_t U64(size_t off) const { return U32(off) | (static_cast<uint64_t>(U32(off + 4)) << 32); }
  double F64(size_t off) const {
    const uint64_t bits = U64(off);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  // Up to the first zero or the field's end, whichever comes first.
  std::string Text(size_t off, size_t field) const {
    const auto* begin = bytes_.data() + off;
    const auto* end = std::find(begin, begin + field, uint8_t{0});
    return std::string(begin, end);
  }
  std::wstring WideText(size_t off, size_t units) const {
    const std::string_view field(reinterpret_cast<const char*>(bytes_.data()) + off, 2 * units);
    return port::Utf16ToWide(port::Utf16LeBytesToString(field));
  }

 private:
  std::span<const uint8_t> bytes_;
};

}  // namespace

std::array<uint32_t, 7> VelFindData::Words() const {
  return {attributes,
          static_cast<uint32_t>(creation_time),
          static_cast<uint32_t>(creation_time >> 32),
          static_cast<uint32_t>(last_access_time),
          static_cast<uint32_t>(last_access_time >> 32),
          static_cast<uint32_t>(last_write_time),
          static_cast<uint32_t>(last_write_time >> 32)};
}

VelFindData VelFindData::FromWords(std::span<const uint32_t, 7> w, uint32_t size_low,
                                   uint32_t size_high, std::wstring name) {
  auto join = [](uint32_t lo, uint32_t hi) { return lo | (static_cast<uint64_t>(hi) << 32); };
  VelFindData d;
  d.attributes = w[0];
  d.creation_time = join(w[1], w[2]);
  d.last_access_time = join(w[3], w[4]);
  d.last_write_time = join(w[5], w[6]);
  d.size = join(size_low, size_high);
  d.name = std::move(name);
  return d;
}

std::array<uint8_t, kFindRecordSize> EncodeFindRecord(const VelFindData& data) {
  std::array<uint8_t, kFindRecordSize> bytes;
  RecordWriter w(bytes);
  const auto words = data.Words();
  for (size_t i = 0; i < words.size(); ++i) w.U32(4 * i, words[i]);
  w.U32(28, static_cast<uint32_t>(data.size >> 32));
  w.U32(32, static_cast<uint32_t>(data.size));
  w.WideText(kFindRecordNameOffset, kFindRecordNameUnits, data.name);
  return bytes;
}

bool DecodeFindRecord(std::span<const uint8_t> bytes, VelFindData* out) {
  if (bytes.size() != kFindRecordSize) return false;
  RecordReader r(bytes);
  std::array<uint32_t, 7> words;
  for (size_t i = 0; i < words.size(); ++i) words[i] = r.U32(4 * i);
  *out = VelFindData::FromWords(words, r.U32(32), r.U32(28),
                                r.WideText(kFindRecordNameOffset, kFindRecordNameUnits));
  return true;
}

std::array<uint8_t, kAppAttrSize> EncodeAppAttributes(const VelAppAttributes& attr) {
  std::array<uint8_t, kAppAttrSize> bytes;
  RecordWriter w(bytes);
  const std::string* texts[] = {&attr.library, &attr.solution_name, &attr.solution_version,
                                &attr.title, &attr.logo};
  for (size_t i = 0; i < 5; ++i) w.Text(i * kAppAttrTextSize, kAppAttrTextSize, *texts[i]);
  return bytes;
}

bool DecodeAppAttributes(std::span<const uint8_t> bytes, VelAppAttributes* out) {
  if (bytes.size() != kAppAttrSize) return false;
  RecordReader r(bytes);
  std::string* texts[] = {&out->library, &out->solution_name, &out->solution_version, &out->title,
                          &out->logo};
  for (size_t i = 0; i < 5; ++i) *texts[i] = r.Text(i * kAppAttrTextSize, kAppAttrTextSize);
  return true;
}

namespace {
constexpr size_t kGpioInputNames = 20;
constexpr size_t kGpioOutputNames = kGpioInputNames + kGpioMaxLines * kGpioNameSize;
}  // namespace

std::array<uint8_t, kGpioAttrRecordSize> EncodeGpioAttributes(const VelGpioAttributes& attr) {
  std::array<uint8_t, kGpioAttrRecordSize> bytes;
  RecordWriter w(bytes);
  w.U32(0, attr.num_inputs);
  w.U32(4, attr.num_outputs);
  w.U32(8, attr.first_input);
  w.U32(12, attr.first_output);
  w.U32(16, attr.flags);
  for (size_t i = 0; i < std::min(attr.input_names.size(), kGpioMaxLines); ++i)
    w.Text(kGpioInputNames + i * kGpioNameSize, kGpioNameSize, attr.input_names[i]);
  for (size_t i = 0; i < std::min(attr.output_names.size(), kGpioMaxLines); ++i)
    w.Text(kGpioOutputNames + i * kGpioNameSize, kGpioNameSize, attr.output_names[i]);
  return bytes;
}

bool DecodeGpioAttributes(std::span<const uint8_t> bytes, VelGpioAttributes* out) {
  if (bytes.size() != kGpioAttrRecordSize) return false;
  RecordReader r(bytes);
  out->num_inputs = r.U32(0);
  out->num_outputs = r.U32(4);
  out->first_input = r.U32(8);
  out->first_output = r.U32(12);
  out->flags = r.U32(16);
  out->input_names.clear();
  out->output_names.clear();
  for (size_t i = 0; i < std::min<size_t>(out->num_inputs, kGpioMaxLines); ++i)
    out->input_names.push_back(r.Text(kGpioInputNames + i * kGpioNameSize, kGpioNameSize));
  for (size_t i = 0; i < std::min<size_t>(out->num_outputs, kGpioMaxLines); ++i)
    out->output_names.push_back(r.Text(kGpioOutputNames + i * kGpioNameSize, kGpioNameSize));
  return true;
}

std::array<uint8_t, kGpioConfigSize> EncodeGpioConfig(const VelGpioConfig& c) {
  std::array<uint8_t, kGpioConfigSize> bytes;
  RecordWriter w(bytes);
  const uint32_t words[] = {c.line, c.mode, c.polarity, c.debounce_ms, c.pulse_ms};
  for (size_t i = 0; i < 5; ++i) w.U32(4 * i, words[i]);
  return bytes;
}

bool DecodeGpioConfig(std::span<const uint8_t> bytes, VelGpioConfig* out) {
  if (bytes.size() != kGpioConfigSize) return false;
  RecordReader r(bytes);
  *out = {r.U32(0), r.U32(4), r.U32(8), r.U32(12), r.U32(16)};
  return true;
}

std::array<uint8_t, kParamCapsRecordSize> EncodeParamCaps(const VelParamCaps& c) {
  std::array<uint8_t, kParamCapsRecordSize> bytes;
  RecordWriter w(bytes);
  w.U32(0, static_cast<uint32_t>(c.id));
  w.U32(4, c.kind);
  w.U32(8, static_cast<uint32_t>(c.group));
  w.U32(12, c.enum_count);
  w.F64(16, c.min);
  w.F64(24, c.max);
  w.F64(32, c.step);
  w.F64(40, c.default_value);
  w.Text(48, 64, c.name);
  w.Text(112, 32, c.units);
  w.Text(144, 256, c.description);
  return bytes;
}

bool DecodeParamCaps(std::span<const uint8_t> bytes, VelParamCaps* out) {
  if (bytes.size() != kParamCapsRecordSize) return false;
  RecordReader r(bytes);
  out->id = static_cast<int32_t>(r.U32(0));
  out->kind = r.U32(4);
  out->group = static_cast<int32_t>(r.U32(8));
  out->enum_count = r.U32(12);
  out->min = r.F64(16);
  out->max = r.F64(24);
  out->step = r.F64(32);
  out->default_value = r.F64(40);
  out->name = r.Text(48, 64);
  out->units = r.Text(112, 32);
  out->description = r.Text(144, 256);
  return true;
}

std::array<uint8_t, kEnumArgRecordSize> EncodeEnumArg(const VelEnumArg& arg) {
  std::array<uint8_t, kEnumArgRecordSize> bytes;
  RecordWriter w(bytes);
  w.F64(0, arg.value);
  w.Text(8, 48, arg.name);
  return bytes;
}

bool DecodeEnumArg(std::span<const uint8_t> bytes, VelEnumArg* out) {
  if (bytes.size() != kEnumArgRecordSize) return false;
  RecordReader r(bytes);
  out->value = r.F64(0);
  out->name = r.Text(8, 48);
  return true;
}

std::array<uint8_t, kGroupRecordSize> EncodeGroupProperties(const VelGroupProperties& g) {
  std::array<uint8_t, kGroupRecordSize> bytes;
  RecordWriter w(bytes);
  w.U32(0, static_cast<uint32_t>(g.id));
  w.U32(4, static_cast<uint32_t>(g.parent));
  w.U32(8, g.param_count);
  w.Text(16, 64, g.name);
  w.Text(80, 120, g.description);
  return bytes;
}

bool DecodeGroupProperties(std::span<const uint8_t> bytes, VelGroupProperties* out) {
  if (bytes.size() != kGroupRecordSize) return false;
  RecordReader r(bytes);
  out->id = static_cast<int32_t>(r.U32(0));
  out->parent = static_cast<int32_t>(r.U32(4));
  out->param_count = r.U32(8);
  out->name = r.Text(16, 64);
  out->description = r.Text(80, 120);
  return true;
}

std::array<uint8_t, kLogFileAttribSize> EncodeLogFileAttrib(const VelLogFileAttrib& attrib) {
  std::array<uint8_t, kLogFileAttribSize> bytes;
  RecordWriter w(bytes);
  const int32_t flags[] = {attrib.to_file,      attrib.pass,        attrib.recycle,
                           attrib.fail,         attrib.sub_folders, attrib.per_camera,
                           attrib.with_overlay, attrib.suspended};
  for (size_t i = 0; i < std::size(flags); ++i) w.U32(4 * i, static_cast<uint32_t>(flags[i]));
  for (size_t i = 0; i < attrib.cameras.size(); ++i)
    w.U32(32 + 4 * i, static_cast<uint32_t>(attrib.cameras[i]));
  w.U32(64, static_cast<uint32_t>(attrib.format));
  w.WideText(68, kLogFilePrefixUnits, attrib.prefix);
  return bytes;
}

bool DecodeLogFileAttrib(std::span<const uint8_t> bytes, VelLogFileAttrib* out) {
  if (bytes.size() != kLogFileAttribSize) return false;
  RecordReader r(bytes);
  int32_t* flags[] = {&out->to_file,     &out->pass,       &out->recycle,      &out->fail,
                      &out->sub_folders, &out->per_camera, &out->with_overlay, &out->suspended};
  for (size_t i = 0; i < std::size(flags); ++i) *flags[i] = static_cast<int32_t>(r.U32(4 * i));
  for (size_t i = 0; i < out->cameras.size(); ++i)
    out->cameras[i] = static_cast<int32_t>(r.U32(32 + 4 * i));
  out->format = static_cast<int32_t>(r.U32(64));
  out->prefix = r.WideText(68, kLogFilePrefixUnits);
  return true;
}
