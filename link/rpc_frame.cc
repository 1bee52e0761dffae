#include "link/rpc_frame.h"

uint64_t RpcDataBlockSize(const OZK_RPC_INVOKE_STRUCT& frame) {
  uint64_t size = 4;
  for (const OZK_RPC_BUFFER_DESC& d : frame.buffers) {
    if (d.flags == 0) break;
    size += (uint64_t{d.size} + 3) & ~uint64_t{3};
  }
  return size;
}
