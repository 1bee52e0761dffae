// The named-call frame of the server link and the calling convention of served functions.
//
// Frame (208 bytes, little-endian): kind (always 1), slot count (slot 0 included), the function
// name (60 bytes, zero-terminated), the return kind (3: double, else a 32-bit integer), up to 8
// buffer descriptors ended by one whose flags are 0, and the caller's argument pointer (64-bit,
// meaningful only to the caller). A descriptor names the slot that points to the buffer, its
// size, its direction (1 in, 2 out, 3 both) and its offset in the data block. The data block
// holds the call's buffers one after another, each at a multiple of 4; its size is 4 plus the
// buffer sizes, each rounded up to a multiple of 4.
//
// Slots are 64 bits on both ends. Slot 0 is the callee's context (the serving CVelRpc); the
// caller's arguments follow one per slot: an integer or pointer as it is, a double as its bit
// pattern (RpcSlot / RpcDouble). Slot counts stay those of the original 32-bit frames, where a
// double took two slots: here it fills the first and the slot after it stays 0.
//
// A served function has exactly the type OzkRpcFunction (declare it with OZK_RPC_FUNCTION):
// eight slots in, one slot out (a double result as its bit pattern). One fixed type makes the
// generic call through the map well defined whatever the function uses.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

constexpr uint32_t kRpcFrameKind = 1;
constexpr int kRpcMaxSlots = 8;
constexpr int kRpcMaxBuffers = 8;
constexpr size_t kRpcNameSize = 60;
constexpr uint32_t kRpcReturnDouble = 3;
constexpr uint32_t kRpcReturnInt = 1;
constexpr uint32_t kRpcIn = 1;
constexpr uint32_t kRpcOut = 2;
constexpr uint32_t kRpcBoth = 3;

struct OZK_RPC_BUFFER_DESC {
  uint32_t slot;
  uint32_t size;
  uint32_t flags;
  uint32_t offset;
};

struct OZK_RPC_INVOKE_STRUCT {
  uint32_t kind;
  uint32_t slot_count;
  char function[kRpcNameSize];
  uint32_t return_kind;
  OZK_RPC_BUFFER_DESC buffers[kRpcMaxBuffers];
  uint64_t args;  // caller side: address of uint64_t[slot_count]
};
static_assert(sizeof(OZK_RPC_BUFFER_DESC) == 16);
static_assert(offsetof(OZK_RPC_INVOKE_STRUCT, function) == 8);
static_assert(offsetof(OZK_RPC_INVOKE_STRUCT, return_kind) == 68);
static_assert(offsetof(OZK_RPC_INVOKE_STRUCT, buffers) == 72);
static_assert(offsetof(OZK_RPC_INVOKE_STRUCT, args) == 200);
static_assert(sizeof(OZK_RPC_INVOKE_STRUCT) == 208);
static_assert(std::endian::native == std::endian::little, "frames are sent as they lie");

using OzkRpcFunction = uint64_t (*)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                    uint64_t, uint64_t);
#define OZK_RPC_FUNCTION(name)                                                              \
  extern "C" uint64_t name(uint64_t s0, uint64_t s1, uint64_t s2, uint64_t s3, uint64_t s4, \
                           uint64_t s5, uint64_t s6, uint64_t s7)

constexpr size_t kRpcMapNameSize = 64;
struct OZK_RPC_FUNC_MAP {
  char name[kRpcMapNameSize];
  OzkRpcFunction address;
};
static_assert(sizeof(OZK_RPC_FUNC_MAP) == 72);

inline uint64_t RpcSlot(double d) {
  return std::bit_cast<uint64_t>(d);
}
inline double RpcDouble(uint64_t slot) {
  return std::bit_cast<double>(slot);
}
template <typename T>
T* RpcPointer(uint64_t slot) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(slot));
}

// Size of the data block for the frame's descriptors (4 plus each size rounded up to 4).
uint64_t RpcDataBlockSize(const OZK_RPC_INVOKE_STRUCT& frame);
