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
#pragma once

#include <string>
#include <string_view>

#include "netmsg/lum_msg.h"

// Appends the encoding of msg to out.
void EncodeLumMsg(const CLumMsg& msg, std::string* out);
// Returns false (out cleared) for any input that is not exactly one well-formed message.
bool DecodeLumMsg(std::string_view bytes, CLumMsg* out);
