// XVelStorage: the keyed storage container a solution file is made of, as an interface.
//
// A storage holds named items (data, strings, numbers) and named blocks of raw bytes written at
// the current position. Every operation returns a code: 0 success, 1 nothing open, 2 cannot be
// opened for reading, 3 cannot be created, 4 short read or bad data, 5 write failed, 6 wrong
// magic, 7 positioning failed, 10 no item of that name. Names compare byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace storage_code {
constexpr int kOk = 0;
constexpr int kNotOpen = 1;
constexpr int kCannotOpen = 2;
constexpr int kCannotCreate = 3;
constexpr int kBadData = 4;
constexpr int kWriteFailed = 5;
constexpr int kWrongMagic = 6;
constexpr int kSeekFailed = 7;
constexpr int kNoItem = 10;
}  // namespace storage_code

class XVelStorage {
 public:
  virtual ~XVelStorage() = default;

  virtual int Open(const std::wstring& path) = 0;
  virtual int Close() = 0;
  virtual int Create(const std::wstring& path) = 0;
  virtual int Commit() = 0;

  virtual int WriteData(const std::string& name, const void* bytes, uint32_t length) = 0;
  virtual int WriteString(const std::string& name, const std::string& text) = 0;
  virtual int WriteByte(const std::string& name, uint8_t value) = 0;
  virtual int WriteDouble(const std::string& name, double value) = 0;
  virtual int WriteFloat(const std::string& name, float value) = 0;
  virtual int WriteDword(const std::string& name, uint32_t value) = 0;
  virtual int WriteLong(const std::string& name, int32_t value) = 0;
  // Records the current position under name; writes nothing.
  virtual int BeginBlock(const std::string& name) = 0;
  virtual int WriteBytes(const void* bytes, uint32_t length) = 0;

  virtual int ReadData(const std::string& name, std::vector<uint8_t>* out) = 0;
  virtual int ReadString(const std::string& name, std::string* out, uint32_t max_size,
                         const std::string& default_value) = 0;
  virtual int ReadByte(const std::string& name, uint8_t* out, uint8_t default_value) = 0;
  virtual int ReadDouble(const std::string& name, double* out, double default_value) = 0;
  virtual int ReadFloat(const std::string& name, float* out, float default_value) = 0;
  virtual int ReadDword(const std::string& name, uint32_t* out, uint32_t default_value) = 0;
  virtual int ReadLong(const std::string& name, int32_t* out, int32_t default_value) = 0;
  // Positions the reader at a block.
  virtual int SeekBlock(const std::string& name) = 0;
  virtual int ReadBytes(void* buffer, uint32_t length) = 0;

  virtual int DropCache(const std::wstring* path) = 0;
  virtual int ReadFixed(const std::string& name, void* buffer, uint32_t length) = 0;
  virtual int ReadFixedAt(uint32_t index, void* buffer, uint32_t length) = 0;
  virtual const std::string* GetItemName(uint32_t index) = 0;
  virtual uint32_t GetItemCount() = 0;
};
