// The binary wire encoding of a CLumMsg. All integers little-endian.
//
//   message  := id:i32  count:u32  variant*count
//   variant  := type:u8  payload
//     INT, UINT, INT64      value:i64
//     FLOAT, DOUBLE         value:f64 (IEEE bits)
//     EMPTY                 nothing
//     STRING, DATA          n:u32  (len:u32 bytes[len])*n
//     WSTRING               n:u32  (units:u32 utf16le[units])*n
//     IMAGE                 n:u32  (width:u32 height:u32 bits:u32 type:u32 len:u32 bytes[len])*n
//     COORD                 n:u32  (x:f64 y:f64)*n
//
// Decoding is strict: every count and length is checked against the bytes that remain before
// anything is allocated, unknown type codes are refused, and the message must use the input
// exactly. A refused input leaves no partial message behind.
//
// Large data blocks and images need not be copied either way: LumWireEncoding points at them in
// the message, and a decoder given the frame that holds the input shares them with it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "netmsg/lum_msg.h"

// The encoding of a message as pieces that, sent in order, are the bytes EncodeLumMsg appends.
// The pieces point into the message for large element bytes: keep it unchanged while they are
// used.
class LumWireEncoding {
 public:
  explicit LumWireEncoding(const CLumMsg& msg);
  LumWireEncoding(const LumWireEncoding&) = delete;
  LumWireEncoding& operator=(const LumWireEncoding&) = delete;

  const std::vector<std::string_view>& Pieces() const { return pieces_; }
  size_t Size() const { return size_; }

 private:
  std::string small_;  // everything but the large element bytes
  std::vector<std::string_view> pieces_;
  size_t size_ = 0;
};

// Appends the encoding of msg to out.
void EncodeLumMsg(const CLumMsg& msg, std::string* out);
// Returns false (out cleared) for any input that is not exactly one well-formed message. With a
// frame that holds the input, large data blocks and images of out stay in it, sharing it.
bool DecodeLumMsg(std::string_view bytes, CLumMsg* out,
                  const std::shared_ptr<const char[]>& frame = nullptr);
