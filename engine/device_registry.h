// The appliance's registry: typed values under a hive number, a key path and a value name
// (key and name compare case-insensitively), kept in memory and stored in a file by Flush.
//
// The file is one value a line, "hive<TAB>key<TAB>name<TAB>type<TAB>hex bytes"; lines that do
// not parse are skipped when loading, so a damaged file loses only its damaged lines.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <tuple>
#include <vector>

class CDeviceRegistry {
 public:
  static constexpr size_t kMaxValueSize = 64 * 1024;
  static constexpr size_t kMaxValues = 4096;

  // Loads path when it exists.
  explicit CDeviceRegistry(std::string path);

  // 1 and the value's type and bytes; 0 when there is no such value.
  int Read(uint32_t hive, const std::string& key, const std::string& name, uint32_t* type,
           std::vector<uint8_t>* value) const;
  // 0 for a key or name with a tab or line break, a value over kMaxValueSize, or a full registry.
  int Write(uint32_t hive, const std::string& key, const std::string& name, uint32_t type,
            std::span<const uint8_t> value);
  // Writes every value to the file; 1 on success.
  int Flush() const;

 private:
  using Key = std::tuple<uint32_t, std::string, std::string>;  // names folded to lower case
  struct Value {
    std::string key, name;  // as first written
    uint32_t type = 0;
    std::vector<uint8_t> bytes;
  };
  static Key MakeKey(uint32_t hive, const std::string& key, const std::string& name);
  void Load();

  std::string path_;
  mutable std::mutex mu_;
  std::map<Key, Value> values_;
};
