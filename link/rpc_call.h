// RpcCall: builds the frame of one named call, argument by argument, and invokes it.
//
// Arguments take slots 1, 2, ... in the order they are given; a buffer argument also adds its
// descriptor. Text arguments travel as in-buffers of their length + 1 (a null text as "").
#pragma once

#include <cstdint>

#include "link/rpc_frame.h"

class CVelRpc;

class RpcCall {
 public:
  RpcCall(const char* function, uint32_t slot_count, uint32_t return_kind = kRpcReturnInt);

  RpcCall& Int(int64_t v);
  RpcCall& Double(double v);  // one slot; the slot after it stays 0
  RpcCall& Text(const char* text);
  RpcCall& Buffer(const void* p, uint32_t size, uint32_t flags);

  double Invoke(CVelRpc* rpc);
  int InvokeInt(CVelRpc* rpc) { return static_cast<int>(Invoke(rpc)); }
  const OZK_RPC_INVOKE_STRUCT& Frame() const { return frame_; }

 private:
  uint32_t NextSlot();

  OZK_RPC_INVOKE_STRUCT frame_{};
  uint64_t args_[kRpcMaxSlots] = {};
  uint32_t next_slot_ = 1;
  int buffers_ = 0;
  bool overflow_ = false;
};
