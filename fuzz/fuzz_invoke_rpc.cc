// Serving a received call on arbitrary input. Mode byte 0: InvokeRpc on a raw frame, slot count,
// slots and data block; the served function then touches every buffer the frame describes, so
// any descriptor that escaped the bounds checks shows as an out-of-bounds access. Mode byte 1:
// the bytes as a whole message handed to the channel (20488 and the variable operations).
#include <cstring>
#include <string>
#include <vector>

#include "link/vel_rpc.h"
#include "netmsg/lum_wire.h"

namespace {

OZK_RPC_INVOKE_STRUCT g_frame;

OZK_RPC_FUNCTION(Probe) {
  const uint64_t slots[kRpcMaxSlots] = {s0, s1, s2, s3, s4, s5, s6, s7};
  uint64_t sum = 0;
  for (const OZK_RPC_BUFFER_DESC& d : g_frame.buffers) {
    if (d.flags == 0) break;
    uint8_t* p = RpcPointer<uint8_t>(slots[d.slot]);
    for (uint32_t i = 0; i < d.size; ++i) sum += p[i]++;
  }
  return sum;
}

const OZK_RPC_FUNC_MAP kFunctions[] = {{"Probe", &Probe}, {"", nullptr}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CVelRpc* rpc = [] {
    auto* r = new CVelRpc(static_cast<CNetClientNode*>(nullptr));
    r->AddFunctionMapTable(kFunctions, 0);
    return r;
  }();
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  if (mode & 1) {
    CLumMsg request, reply;
    if (!DecodeLumMsg(std::string_view(reinterpret_cast<const char*>(data), size), &request))
      return 0;
    // Probe reads the descriptors of the frame being served.
    const std::string_view frame = request.Get(0).GetBytes(0);
    g_frame = OZK_RPC_INVOKE_STRUCT{};
    if (frame.size() == sizeof g_frame) std::memcpy(&g_frame, frame.data(), sizeof g_frame);
    rpc->OnNetMessage(&request, &reply);
    return 0;
  }
  if (size < sizeof g_frame + 1) return 0;
  std::memcpy(&g_frame, data, sizeof g_frame);
  const uint32_t slot_count = data[sizeof g_frame];
  data += sizeof g_frame + 1;
  size -= sizeof g_frame + 1;
  uint64_t slots[kRpcMaxSlots + 8] = {};
  const size_t slot_bytes = std::min<size_t>(size, sizeof slots);
  std::memcpy(slots, data, slot_bytes);
  // The data block in a heap block of exactly its size, so that ASan sees its edges.
  std::vector<uint8_t> block(data + slot_bytes, data + size);
  double result = 0;
  OZK_RPC_INVOKE_STRUCT frame = g_frame;
  rpc->InvokeRpc(&frame, slots, slot_count, block.empty() ? nullptr : block.data(),
                 static_cast<uint32_t>(block.size()), &result);
  return 0;
}
