// Comm roles and the per-destination settings record.
//
// A destination's settings live in its tree node; the manager keeps a cached copy per slot in a
// fixed 292-byte record whose first field is the role. The rest of the record is laid out by the
// role's connection class, and two records are compared byte for byte to tell whether two nodes
// name the same device, so the record is always zero-filled before it is filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

class CtVar;

enum OZK_COMM_ROLE_TYPE : uint32_t {
  OZK_ROLE_NONE = 0,
  OZK_ROLE_SOCK_SERVER = 1,
  OZK_ROLE_COM_PORT = 2,
  OZK_ROLE_MODBUS_TCP = 3,
  OZK_ROLE_MODBUS_SERIAL = 4,
  OZK_ROLE_CONTROL_LOGIX = 5,
  OZK_ROLE_SOCK_CLIENT = 6,
  OZK_ROLE_MELSEC_ETHERNET = 7,
  OZK_ROLE_MELSEC_SERIAL = 8,
  OZK_ROLE_ETHERNET_IP = 9,
  OZK_ROLE_GPI = 10,
  OZK_ROLE_GPO = 11,
  OZK_ROLE_MODBUS_SLAVE_TCP = 12,
  OZK_ROLE_MODBUS_SLAVE_SERIAL = 13,
  OZK_ROLE_SNP = 14,
  OZK_ROLE_SRTP = 15,
  OZK_ROLE_MOTOMAN = 16,
  OZK_ROLE_NIDAQ = 17,
  OZK_ROLE_PROFINET = 18,
  OZK_ROLE_SLMP_CLIENT = 19,
  OZK_ROLE_SLMP_SERVER = 20,
};
constexpr uint32_t kOzkMaxRole = 20;

constexpr size_t kDestDefRecSize = 292;

struct DEST_DEF_REC {
  uint32_t role;
  uint8_t body[kDestDefRecSize - 4];
};
static_assert(sizeof(DEST_DEF_REC) == kDestDefRecSize);

// Body of roles 1 and 6 (socket server and client).
struct DEST_SOCK_BODY {
  uint32_t port;
  char host[16];
};

// Body of role 2 (serial port).
struct DEST_COM_BODY {
  char port_name[20];
  uint32_t baud_rate;
  uint32_t parity;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint32_t stop_bits;  // 0 one, 1 one and a half, 2 two
  uint32_t byte_size;
  uint32_t flow_ctl;  // OZK_HANDSHAKE_TYPE
};

// A Modbus register set; also the body of roles 3, 4, 12 and 13 (serial roles: port 0, no host).
struct DEST_MODBUS_REC {
  uint32_t port;
  char host[16];
  uint32_t device;
  uint32_t reg_addr;
  uint32_t data_type;
  uint32_t reg_func;
  uint32_t num_regs;
};
// A MELSEC or OMRON PLC link (roles 7 and 8): the keys of its node, in their order.
struct DEST_MELSEC_REC {
  uint32_t role;
  uint32_t port;
  char host[16];
  uint32_t protocol;
  uint32_t format;
  uint8_t station;
  uint8_t net;
  uint8_t pc;
  uint8_t block;
  uint32_t reg_addr;
  uint32_t reg_type;
  uint16_t req_io;
  uint16_t req_station;
};
static_assert(sizeof(DEST_SOCK_BODY) == 20 && sizeof(DEST_COM_BODY) == 40 &&
              sizeof(DEST_MODBUS_REC) == 40 && sizeof(DEST_MELSEC_REC) == 48);

enum OZK_HANDSHAKE_TYPE : uint32_t {
  OZK_HANDSHAKE_NONE = 0,
  OZK_HANDSHAKE_HARDWARE = 1,
  OZK_HANDSHAKE_XONXOFF = 2,
};

// The body of rec read as (or written from) one of the layouts above.
template <class Body>
Body GetRecBody(const DEST_DEF_REC& rec) {
  static_assert(std::is_trivially_copyable_v<Body> && sizeof(Body) <= sizeof(rec.body));
  Body body;
  std::memcpy(&body, rec.body, sizeof(Body));
  return body;
}
template <class Body>
void SetRecBody(DEST_DEF_REC* rec, const Body& body) {
  static_assert(std::is_trivially_copyable_v<Body> && sizeof(Body) <= sizeof(rec->body));
  std::memcpy(rec->body, &body, sizeof(Body));
}

// Copies text into a fixed field, cut so that a terminating zero always fits; the rest is zeroed.
template <size_t N>
void SetFixedText(char (&field)[N], std::string_view text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N ? text.size() : N - 1);
}
// The text of a fixed field, which need not be terminated inside it.
template <size_t N>
std::string FixedText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// Settings of a destination node: a missing key reads as 0 or "".
double DestKeyNumber(CtVar* dest, const char* key);
std::string DestKeyText(CtVar* dest, const char* key);
// A number key as the 32-bit field it fills (negative values wrap; out of range reads 0).
uint32_t DestKeyU32(CtVar* dest, const char* key);
