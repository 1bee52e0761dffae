#include "link/rpc_call.h"

#include <cstring>

#include "link/vel_rpc.h"

RpcCall::RpcCall(const char* function, uint32_t slot_count, uint32_t return_kind) {
  frame_.kind = kRpcFrameKind;
  frame_.slot_count = slot_count;
  frame_.return_kind = return_kind;
  if (function) std::memcpy(frame_.function, function, strnlen(function, kRpcNameSize - 1));
  overflow_ = slot_count < 1 || slot_count > kRpcMaxSlots;
}

uint32_t RpcCall::NextSlot() {
  if (next_slot_ >= frame_.slot_count) {
    overflow_ = true;
    return 0;
  }
  return next_slot_++;
}

RpcCall& RpcCall::Int(int64_t v) {
  args_[NextSlot()] = static_cast<uint64_t>(v);
  return *this;
}

RpcCall& RpcCall::Double(double v) {
  args_[NextSlot()] = RpcSlot(v);
  if (next_slot_ < frame_.slot_count) ++next_slot_;
  return *this;
}

RpcCall& RpcCall::Text(const char* text) {
  if (!text) text = "";
  return Buffer(text, static_cast<uint32_t>(std::strlen(text) + 1), kRpcIn);
}

RpcCall& RpcCall::Buffer(const void* p, uint32_t size, uint32_t flags) {
  const uint32_t slot = NextSlot();
  if (buffers_ >= kRpcMaxBuffers || !p) {
    overflow_ = true;
    return *this;
  }
  args_[slot] = reinterpret_cast<uintptr_t>(p);
  frame_.buffers[buffers_++] = OZK_RPC_BUFFER_DESC{slot, size, flags, 0};
  return *this;
}

double RpcCall::Invoke(CVelRpc* rpc) {
  if (!rpc || overflow_) return 0;
  frame_.args = reinterpret_cast<uintptr_t>(args_);
  return rpc->InvokeProxy(&frame_);
}
