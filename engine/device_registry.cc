#include "engine/device_registry.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace {

bool Clean(const std::string& text) {
  return text.find_first_of("\t\r\n") == std::string::npos;
}

std::string Lower(std::string text) {
  for (char& c : text) c = port::AsciiLower(c);
  return text;
}

bool ParseHex(const std::string& hex, std::vector<uint8_t>* out) {
  if (hex.size() % 2 != 0 || hex.size() / 2 > CDeviceRegistry::kMaxValueSize) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = port::AsciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = nibble(hex[i]);
    const int lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

}  // namespace

CDeviceRegistry::CDeviceRegistry(std::string path) : path_(std::move(path)) {
  Load();
}

CDeviceRegistry::Key CDeviceRegistry::MakeKey(uint32_t hive, const std::string& key,
                                              const std::string& name) {
  return {hive, Lower(key), Lower(name)};
}

int CDeviceRegistry::Read(uint32_t hive, const std::string& key, const std::string& name,
                          uint32_t* type, std::vector<uint8_t>* value) const {
  std::lock_guard lock(mu_);
  auto it = values_.find(MakeKey(hive, key, name));
  if (it == values_.end()) return 0;
  *type = it->second.type;
  *value = it->second.bytes;
  return 1;
}

int CDeviceRegistry::Write(uint32_t hive, const std::string& key, const std::string& name,
                           uint32_t type, std::span<const uint8_t> value) {
  if (!Clean(key) || !Clean(name) || value.size() > kMaxValueSize) return 0;
  std::lock_guard lock(mu_);
  const Key k = MakeKey(hive, key, name);
  auto it = values_.find(k);
  if (it == values_.end()) {
    if (values_.size() >= kMaxValues) return 0;
    it = values_.emplace(k, Value{key, name, 0, {}}).first;
  }
  it->second.type = type;
  it->second.bytes.assign(value.begin(), value.end());
  return 1;
}

int CDeviceRegistry::Flush() const {
  std::ostringstream text;
  {
    std::lock_guard lock(mu_);
    for (const auto& [k, v] : values_) {
      text << std::get<0>(k) << '\t' << v.key << '\t' << v.name << '\t' << v.type << '\t';
      for (uint8_t b : v.bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        text << hex;
      }
      text << '\n';
    }
  }
  const std::string temp = path_ + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text.str();
    if (!out.good()) return 0;
  }
  // Replacing in one step keeps the old file whole if the device stops mid-write.
  return std::rename(temp.c_str(), path_.c_str()) == 0 ? 1 : 0;
}

void CDeviceRegistry::Load() {
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  while (std::getline(in, line) && values_.size() < kMaxValues) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
    if (fields.size() == 4) fields.emplace_back();  // an empty value
    if (fields.size() != 5) continue;
    char* end = nullptr;
    const unsigned long hive = std::strtoul(fields[0].c_str(), &end, 10);
    if (*end != '\0' || fields[0].empty()) continue;
    const unsigned long type = std::strtoul(fields[3].c_str(), &end, 10);
    if (*end != '\0' || fields[3].empty()) continue;
    std::vector<uint8_t> bytes;
    if (!ParseHex(fields[4], &bytes)) continue;
    values_[MakeKey(static_cast<uint32_t>(hive), fields[1], fields[2])] =
        Value{fields[1], fields[2], static_cast<uint32_t>(type), std::move(bytes)};
  }
}
