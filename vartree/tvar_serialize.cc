// The serialized record of a subtree and its stream, storage and file forms.
//
// Record of one node (integers little-endian 32-bit, the number a little-endian double):
//   header     type in the low 16 bits, the low 16 option bits in the high 16 bits
//   value      types 1, 2, 4: buffer size, then the buffer as held (when the size is non-zero);
//              any other type: the 8-byte number
//   format     10 bytes, only in streams of version 1
//   children   count, then per child: name length + 1, the name and its zero, the child's record
#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "platform/text.h"
#include "vartree/serial_tvar.h"
#include "vartree/tvar.h"
#include "vartree/vel_storage.h"

namespace {

constexpr int kStreamWriteOverflow = 5;
constexpr int kStreamReadShort = 4;
// Records nest no deeper than this; deeper ones come from corrupt or hostile input.
constexpr int kMaxRecordDepth = 1000;

bool HoldsBuffer(uint32_t type) {
  return type == OZK_TVAR_STRING || type == OZK_TVAR_DATA || type == OZK_TVAR_DEST;
}

bool WriteU32(CSerialTvar* s, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  return s->Write(b, 4) == 0;
}

bool ReadU32(CSerialTvar* s, uint32_t* v) {
  uint8_t b[4];
  if (s->Read(b, 4) != 0) return false;
  *v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

bool WriteDouble(CSerialTvar* s, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(bits >> (8 * i));
  return s->Write(b, 8) == 0;
}

bool ReadDouble(CSerialTvar* s, double* d) {
  uint8_t b[8];
  if (s->Read(b, 8) != 0) return false;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(b[i]) << (8 * i);
  std::memcpy(d, &bits, 8);
  return true;
}

// Reads size bytes in bounded steps, so that a corrupt size never allocates more than the
// stream really holds.
bool ReadBytes(CSerialTvar* s, uint32_t size, std::vector<uint8_t>* out) {
  if (size > s->Remaining()) return false;
  out->clear();
  constexpr uint32_t kStep = 1 << 16;
  for (uint32_t done = 0; done < size;) {
    const uint32_t n = std::min(kStep, size - done);
    out->resize(done + n);
    if (s->Read(out->data() + done, n) != 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CSerialTvar

CSerialTvar::CSerialTvar(uint8_t* buffer, uint32_t size, Mode mode)
    : buffer_(buffer), read_buffer_(buffer), size_(size), mode_(mode) {}

CSerialTvar::CSerialTvar(const uint8_t* buffer, uint32_t size)
    : read_buffer_(buffer), size_(size), mode_(kRead) {}

CSerialTvar::CSerialTvar(XVelStorage* storage, uint32_t version)
    : storage_(storage), version_(version) {}

uint32_t CSerialTvar::Remaining() const {
  if (storage_) return std::numeric_limits<uint32_t>::max();
  return read_buffer_ ? size_ - position_ : 0;
}

int CSerialTvar::Write(const void* bytes, uint32_t length) {
  if (storage_) {
    const int code = storage_->WriteBytes(bytes, length);
    if (code == 0) position_ += length;
    return code;
  }
  if (buffer_) {
    if (static_cast<uint64_t>(position_) + length > size_) return kStreamWriteOverflow;
    std::memcpy(buffer_ + position_, bytes, length);
  }
  position_ += length;
  return 0;
}

int CSerialTvar::Read(void* bytes, uint32_t length) {
  if (storage_) {
    const int code = storage_->ReadBytes(bytes, length);
    if (code == 0) position_ += length;
    return code;
  }
  if (!read_buffer_) return kStreamReadShort;
  if (static_cast<uint64_t>(position_) + length > size_) return kStreamReadShort;
  std::memcpy(bytes, read_buffer_ + position_, length);
  position_ += length;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Records

int CtVar::SaveStoredVar(CSerialTvar* s) {
  CtVarLock lock;
  if (!WriteU32(s, (type_ & 0xFFFF) | ((options_ & 0xFFFF) << 16))) return 0;
  if (HoldsBuffer(type_)) {
    if (!WriteU32(s, static_cast<uint32_t>(value_.size()))) return 0;
    if (!value_.empty() && s->Write(value_.data(), static_cast<uint32_t>(value_.size())) != 0) {
      return 0;
    }
  } else if (!WriteDouble(s, number_)) {
    return 0;
  }
  if (s->Version() && s->Write(format_.data(), kTVarFormatSize) != 0) return 0;
  if (!WriteU32(s, child_count_)) return 0;
  for (CtVar* c = first_child_; c; c = c->next_) {
    const std::string_view name = c->NameView();
    if (!WriteU32(s, static_cast<uint32_t>(name.size() + 1))) return 0;
    if (s->Write(name.data(), static_cast<uint32_t>(name.size())) != 0) return 0;
    const uint8_t zero = 0;
    if (s->Write(&zero, 1) != 0) return 0;
    if (!c->SaveStoredVar(s)) return 0;
  }
  return 1;
}

int CtVar::ReadStoredVar(CSerialTvar* s) {
  return ReadStoredVarAt(s, 0);
}

int CtVar::ReadStoredVarAt(CSerialTvar* s, int depth) {
  CtVarLock lock;
  uint32_t header;
  if (!ReadU32(s, &header)) return 0;
  SetOptionBits((options_ & TVAR_OPT_NO_DEST_REGISTER) | (header >> 16));
  SetStoredKind(header & 0xFFFF, remote_);
  if (HoldsBuffer(type_)) {
    value_.clear();
    number_ = 0;
    uint32_t size;
    if (!ReadU32(s, &size)) return 0;
    if (size && !ReadBytes(s, size, &value_)) {
      value_.clear();
      return 0;
    }
    TerminateText();
  } else {
    double number;
    if (!ReadDouble(s, &number)) return 0;
    number_ = number;
  }
  if (s->Version() && s->Read(format_.data(), kTVarFormatSize) != 0) return 0;
  uint32_t count;
  if (!ReadU32(s, &count)) return 0;
  char name[kTVarMaxRecordNameLength + 1];
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length;
    if (!ReadU32(s, &length) || length > kTVarMaxRecordNameLength) return 0;
    if (s->Read(name, length) != 0) return 0;
    name[length] = 0;
    CtVar* child = FindOrCreate(std::string_view(name, strnlen(name, length)), 0, 1, 0);
    if (!child) return 0;
    if (depth >= kMaxRecordDepth || !child->ReadStoredVarAt(s, depth + 1)) return 0;
  }
  return 1;
}

uint32_t CtVar::SerializeTreeSize() {
  CtVarLock lock;
  CSerialTvar counter(static_cast<uint8_t*>(nullptr), 0, CSerialTvar::kWrite);
  SaveStoredVar(&counter);
  return counter.Position();
}

int CtVar::SerializeTree(uint8_t* buffer, uint32_t size) {
  CtVarLock lock;
  CSerialTvar stream(buffer, size, CSerialTvar::kWrite);
  return SaveStoredVar(&stream);
}

std::vector<uint8_t> CtVar::SerializeTree() {
  CtVarLock lock;
  std::vector<uint8_t> record(SerializeTreeSize());
  SerializeTree(record.data(), static_cast<uint32_t>(record.size()));
  return record;
}

int CtVar::UnSerializeTree(const uint8_t* buffer, uint32_t size) {
  CtVarLock lock;
  CSerialTvar stream(buffer, size);
  return ReadStoredVar(&stream);
}

// ---------------------------------------------------------------------------------------------
// Storage

namespace {

// "CtVar_<name>", an unnamed node going by the name "CtVar".
std::string BlockName(const CtVar* node) {
  std::string block = "CtVar_";
  block += node->GetName() ? node->NameView() : std::string_view("CtVar");
  return block;
}

}  // namespace

int CtVar::Save(XVelStorage* storage) {
  if (!storage) return 0;
  CtVarLock lock;
  storage->WriteLong("CtVarVersion", 1);
  if (storage->BeginBlock(BlockName(this)) != storage_code::kOk) return 0;
  CSerialTvar stream(storage, 1);
  return SaveStoredVar(&stream);
}

int CtVar::Load(XVelStorage* storage) {
  if (!storage) return 0;
  CtVarLock lock;
  int32_t version = 0;
  storage->ReadLong("CtVarVersion", &version, 0);
  if (storage->SeekBlock(BlockName(this)) != storage_code::kOk) return 0;
  CSerialTvar stream(storage, static_cast<uint32_t>(version));
  ReadStoredVar(&stream);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Files

namespace {

bool SkipPast(FILE* f, char wanted) {
  for (int c; (c = std::fgetc(f)) != EOF;) {
    if (c == wanted) return true;
  }
  return false;
}

void SkipSpace(FILE* f) {
  int c;
  while ((c = std::fgetc(f)) != EOF && std::isspace(c)) {
  }
  if (c != EOF) std::ungetc(c, f);
}

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads up to max_digits hexadecimal digits after optional white space ("%0Nx").
bool ReadHex(FILE* f, int max_digits, uint32_t* value) {
  SkipSpace(f);
  uint32_t v = 0;
  int digits = 0;
  for (int c; digits < max_digits && (c = std::fgetc(f)) != EOF; ++digits) {
    const int h = HexValue(c);
    if (h < 0) {
      std::ungetc(c, f);
      break;
    }
    v = (v << 4) | static_cast<uint32_t>(h);
  }
  *value = v;
  return digits > 0;
}

// "%d" then ":".
bool ReadDecimal(FILE* f, int64_t* value) {
  SkipSpace(f);
  int c = std::fgetc(f);
  const bool negative = c == '-';
  if (c == '-' || c == '+') c = std::fgetc(f);
  int64_t v = 0;
  int digits = 0;
  for (; c != EOF && c >= '0' && c <= '9'; c = std::fgetc(f), ++digits) {
    if (v < (int64_t{1} << 40)) v = v * 10 + (c - '0');
  }
  if (c != EOF && c != ':') std::ungetc(c, f);
  *value = negative ? -v : v;
  return digits > 0;
}

}  // namespace

int CtVar::WriteFile(FILE* file, int mode) {
  if (mode != OZK_TVAR_FILE_BINARY && mode != OZK_TVAR_FILE_HEX) return 1;
  if (!file) return 0;
  std::vector<uint8_t> record;
  std::string name;
  {
    CtVarLock lock;
    record = SerializeTree();
    name = std::string(NameView());
  }
  const auto size = static_cast<uint32_t>(record.size());
  if (mode == OZK_TVAR_FILE_BINARY) {
    const uint8_t b[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                          static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    if (std::fwrite(b, 1, 4, file) != 4) return 0;
    return std::fwrite(record.data(), 1, size, file) == size ? 1 : 0;
  }
  if (std::fprintf(file, "\n[%d:%s]", static_cast<int>(size), name.c_str()) < 0) return 0;
  uint32_t sum = 0;
  std::string line;
  for (uint32_t i = 0; i < size; ++i) {
    if (i % 40 == 0) {
      if (!line.empty() && std::fputs(line.c_str(), file) < 0) return 0;
      line.clear();
      line += '\n';
    }
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", record[i]);
    line += hex;
    sum += record[i];
  }
  char tail[16];
  std::snprintf(tail, sizeof tail, "%08x\n", sum);
  line += tail;
  return std::fputs(line.c_str(), file) < 0 ? 0 : 1;
}

int CtVar::ReadFile(FILE* file, int mode) {
  if (mode != OZK_TVAR_FILE_BINARY && mode != OZK_TVAR_FILE_HEX) return 1;
  if (!file) return 0;
  std::vector<uint8_t> record;
  if (mode == OZK_TVAR_FILE_BINARY) {
    uint8_t b[4];
    if (std::fread(b, 1, 4, file) != 4) return 0;
    const uint32_t size = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    constexpr uint32_t kStep = 1 << 16;
    for (uint32_t done = 0; done < size;) {
      const uint32_t n = std::min(kStep, size - done);
      record.resize(done + n);
      if (std::fread(record.data() + done, 1, n, file) != n) return 0;
      done += n;
    }
  } else {
    if (!SkipPast(file, '[')) return 0;
    int64_t size;
    if (!ReadDecimal(file, &size)) return 0;
    if (!SkipPast(file, ']')) return 0;
    uint32_t sum = 0;
    for (int64_t i = 0; i < size; ++i) {
      uint32_t byte;
      if (!ReadHex(file, 2, &byte)) break;
      record.push_back(static_cast<uint8_t>(byte));
      sum += byte;
    }
    uint32_t checksum;
    if (!ReadHex(file, 8, &checksum) || checksum != sum) return 0;
    SkipSpace(file);
  }
  UnSerializeTree(record.data(), static_cast<uint32_t>(record.size()));
  return 1;
}

int CtVar::WriteFile(const wchar_t* path) {
  if (!path) return 0;
  const std::vector<uint8_t> record = SerializeTree();
  FILE* f = std::fopen(port::WideToUtf8(path).c_str(), "wb");
  if (!f) return 0;
  const bool ok = std::fwrite(record.data(), 1, record.size(), f) == record.size();
  return (std::fclose(f) == 0 && ok) ? 1 : 0;
}

int CtVar::ReadFile(const wchar_t* path) {
  if (!path) return 0;
  FILE* f = std::fopen(port::WideToUtf8(path).c_str(), "rb");
  if (!f) return 0;
  std::vector<uint8_t> record;
  uint8_t chunk[1 << 14];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    record.insert(record.end(), chunk, chunk + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) return 0;
  UnSerializeTree(record.data(), static_cast<uint32_t>(record.size()));
  return 1;
}
