// Fixed byte layouts of the device records that travel between the client and the appliance.
//
// Each record is a little-endian byte array of a fixed size; the structs here are their
// in-memory form, and Encode/Decode convert between the two. Decoding accepts any bytes: texts
// are cut at their field's end, and a record of the wrong size is refused.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// File find data, the Windows find-data layout: attributes, three FILETIMEs (low word first),
// size high, size low, two reserved words, the UTF-16 name at byte 44 (260 units) and the
// short name (14 units).
constexpr size_t kFindRecordSize = 592;
constexpr size_t kFindRecordNameOffset = 44;
constexpr size_t kFindRecordNameUnits = 260;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;

struct VelFindData {
  uint32_t attributes = 0;
  uint64_t creation_time = 0;
  uint64_t last_access_time = 0;
  uint64_t last_write_time = 0;
  uint64_t size = 0;
  std::wstring name;  // at most 259 UTF-16 units are kept

  // The first seven words (attributes and the three times), as the find messages carry them.
  std::array<uint32_t, 7> Words() const;
  static VelFindData FromWords(std::span<const uint32_t, 7> words, uint32_t size_low,
                               uint32_t size_high, std::wstring name);
};
std::array<uint8_t, kFindRecordSize> EncodeFindRecord(const VelFindData& data);
bool DecodeFindRecord(std::span<const uint8_t> bytes, VelFindData* out);

// Application attributes (VELAPP_ATTR): five zero-terminated 8-bit texts of 30 bytes.
constexpr size_t kAppAttrTextSize = 30;
constexpr size_t kAppAttrSize = 5 * kAppAttrTextSize;
struct VelAppAttributes {
  std::string library;  // the appliance library, e.g. "ZelvinEC.dll"
  std::string solution_name;
  std::string solution_version;
  std::string title;
  std::string logo;
};
std::array<uint8_t, kAppAttrSize> EncodeAppAttributes(const VelAppAttributes& attr);
bool DecodeAppAttributes(std::span<const uint8_t> bytes, VelAppAttributes* out);

// GPIO attributes (OZK_GPIO_ATTR): counts and first numbers of the inputs and outputs, a flags
// word, then 32 input and 32 output names of 30 bytes each.
constexpr size_t kGpioAttrRecordSize = 1948;
constexpr size_t kGpioMaxLines = 32;
constexpr size_t kGpioNameSize = 30;
struct VelGpioAttributes {
  uint32_t num_inputs = 0;
  uint32_t num_outputs = 0;
  uint32_t first_input = 0;
  uint32_t first_output = 0;
  uint32_t flags = 0;
  std::vector<std::string> input_names;   // at most kGpioMaxLines
  std::vector<std::string> output_names;  // at most kGpioMaxLines
};
std::array<uint8_t, kGpioAttrRecordSize> EncodeGpioAttributes(const VelGpioAttributes& attr);
bool DecodeGpioAttributes(std::span<const uint8_t> bytes, VelGpioAttributes* out);

// Configuration of one input or output line: five 32-bit words.
constexpr size_t kGpioConfigSize = 20;
struct VelGpioConfig {
  uint32_t line = 0;
  uint32_t mode = 0;
  uint32_t polarity = 0;
  uint32_t debounce_ms = 0;
  uint32_t pulse_ms = 0;
};
std::array<uint8_t, kGpioConfigSize> EncodeGpioConfig(const VelGpioConfig& config);
bool DecodeGpioConfig(std::span<const uint8_t> bytes, VelGpioConfig* out);

// Parameter capabilities: id, kind, group, enumeration count, range and default as doubles,
// then name (64), units (32) and description (256) texts; the rest is reserved.
constexpr size_t kParamCapsRecordSize = 664;
enum VelParamKind : uint32_t { kParamRange = 0, kParamEnum = 1 };
struct VelParamCaps {
  int32_t id = 0;
  uint32_t kind = kParamRange;
  int32_t group = 0;
  uint32_t enum_count = 0;
  double min = 0, max = 0, step = 0, default_value = 0;
  std::string name, units, description;
};
std::array<uint8_t, kParamCapsRecordSize> EncodeParamCaps(const VelParamCaps& caps);
bool DecodeParamCaps(std::span<const uint8_t> bytes, VelParamCaps* out);

// One enumeration argument of a parameter: its value, then a 48-byte name.
constexpr size_t kEnumArgRecordSize = 56;
struct VelEnumArg {
  double value = 0;
  std::string name;
};
std::array<uint8_t, kEnumArgRecordSize> EncodeEnumArg(const VelEnumArg& arg);
bool DecodeEnumArg(std::span<const uint8_t> bytes, VelEnumArg* out);

// Properties of a parameter group: id, parent, parameter count, a reserved word, then a 64-byte
// name and a 120-byte description.
constexpr size_t kGroupRecordSize = 200;
struct VelGroupProperties {
  int32_t id = 0;
  int32_t parent = 0;
  uint32_t param_count = 0;
  std::string name, description;
};
std::array<uint8_t, kGroupRecordSize> EncodeGroupProperties(const VelGroupProperties& group);
bool DecodeGroupProperties(std::span<const uint8_t> bytes, VelGroupProperties* out);

// Image history settings (OZK_LOG_FILE_ATTRIB), 292 bytes: eight switches (to file, pass,
// recycle, fail, class sub-folders, camera sub-folders, overlay, suspended), eight per-camera
// switches, the file format (0 BMP, 1 JPEG, negative: off) and a wide file-name prefix.
constexpr size_t kLogFileAttribSize = 292;
constexpr size_t kLogFilePrefixUnits = 112;
struct VelLogFileAttrib {
  int32_t to_file = 0, pass = 1, recycle = 0, fail = 0;
  int32_t sub_folders = 0, per_camera = 0, with_overlay = 0, suspended = 0;
  std::array<int32_t, 8> cameras{};
  int32_t format = 0;
  std::wstring prefix;  // at most 111 UTF-16 units are kept
};
std::array<uint8_t, kLogFileAttribSize> EncodeLogFileAttrib(const VelLogFileAttrib& attrib);
bool DecodeLogFileAttrib(std::span<const uint8_t> bytes, VelLogFileAttrib* out);
