// CSerialTvar: the byte stream behind a serialized tree record.
//
// A memory stream works over a caller's buffer (or, without one, only counts bytes); a storage
// stream passes bytes to an XVelStorage. Write returns 5 when a buffer would overflow, Read 4
// when it would run past the end; 0 is success. Memory streams always carry the 10-byte format
// field (version 1); a storage stream carries it when its version flag is set.
#pragma once

#include <cstdint>

class XVelStorage;

class CSerialTvar {
 public:
  enum Mode : uint32_t { kWrite = 0, kRead = 1 };

  // Over a memory buffer; a null buffer with kWrite counts the bytes written.
  CSerialTvar(uint8_t* buffer, uint32_t size, Mode mode);
  CSerialTvar(const uint8_t* buffer, uint32_t size);  // read-only memory stream
  CSerialTvar(XVelStorage* storage, uint32_t version);
  virtual ~CSerialTvar() = default;

  virtual int Write(const void* bytes, uint32_t length);
  virtual int Read(void* bytes, uint32_t length);

  uint32_t Position() const { return position_; }
  uint32_t Version() const { return version_; }
  // Bytes a memory stream still holds; storage streams cannot tell (UINT32_MAX).
  uint32_t Remaining() const;

 private:
  XVelStorage* storage_ = nullptr;
  uint8_t* buffer_ = nullptr;
  const uint8_t* read_buffer_ = nullptr;
  uint32_t size_ = 0;
  uint32_t position_ = 0;
  uint32_t version_ = 1;
  uint32_t mode_ = kWrite;
};
