#include "engine/engine_rpc.h"

#include <array>
#include <cstring>
#include <string_view>

#include "engine/vel_engine.h"

namespace {

constexpr uint32_t kText = 0xFFFFFFFF;  // a buffer holding a terminated text

CDeviceParams& Params(uint64_t rpc) {
  return RpcPointer<CEngineRpc>(rpc)->Engine()->Model().Params();
}
CApplianceModel& Model(uint64_t rpc) {
  return RpcPointer<CEngineRpc>(rpc)->Engine()->Model();
}
int32_t I(uint64_t slot) {
  return static_cast<int32_t>(static_cast<uint32_t>(slot));
}

template <size_t N>
void Put(uint64_t slot, const std::array<uint8_t, N>& record) {
  std::memcpy(RpcPointer<uint8_t>(slot), record.data(), N);
}

#define SERVED(name)                                                               \
  uint64_t Serve##name([[maybe_unused]] uint64_t s0, [[maybe_unused]] uint64_t s1, \
                       [[maybe_unused]] uint64_t s2, [[maybe_unused]] uint64_t s3, \
                       [[maybe_unused]] uint64_t s4, [[maybe_unused]] uint64_t s5, \
                       [[maybe_unused]] uint64_t s6, [[maybe_unused]] uint64_t s7)

SERVED(GetServerVersion) {
  return static_cast<uint32_t>(Model(s0).ServerVersion());
}
SERVED(IsEmulatorMode) {
  return 0;
}
SERVED(ParamSupported) {
  return Params(s0).Supported(I(s1)) ? 1 : 0;
}
SERVED(GetFirstParam) {
  return static_cast<uint32_t>(Params(s0).FirstParam(I(s1)));
}
SERVED(GetNextParam) {
  return static_cast<uint32_t>(Params(s0).NextParam(I(s1), I(s2)));
}
SERVED(GetFirstParamGroup) {
  return static_cast<uint32_t>(Params(s0).FirstGroup());
}
SERVED(GetNextParamGroup) {
  return static_cast<uint32_t>(Params(s0).NextGroup(I(s1)));
}
SERVED(GetParentGroup) {
  return static_cast<uint32_t>(Params(s0).ParentGroup(I(s1)));
}
SERVED(GetParam) {
  return RpcSlot(Params(s0).Get(I(s2), 0));
}
SERVED(SetParam) {
  return static_cast<uint32_t>(Params(s0).Set(I(s2), RpcDouble(s3), 0));
}
SERVED(IsArgSupported) {
  return static_cast<uint32_t>(Params(s0).IsArgSupported(I(s1), I(s2)));
}
SERVED(ClosestArgSupported) {
  return RpcSlot(Params(s0).ClosestArgSupported(I(s1), RpcDouble(s2)));
}
SERVED(GetParamByName) {
  return RpcSlot(Params(s0).GetByName(RpcPointer<const char>(s1)));
}

SERVED(GetParamCaps) {
  VelParamCaps caps;
  if (!Params(s0).GetCaps(I(s1), &caps)) return 0;
  Put(s2, EncodeParamCaps(caps));
  return 1;
}

SERVED(GetGroupProperties) {
  VelGroupProperties group;
  if (!Params(s0).GetGroupProperties(I(s1), &group)) return 0;
  Put(s2, EncodeGroupProperties(group));
  return 1;
}

SERVED(GetFirstEnumArg) {
  VelEnumArg arg;
  if (!Params(s0).FirstEnumArg(I(s1), &arg)) return 0;
  Put(s2, EncodeEnumArg(arg));
  return 1;
}

SERVED(GetNextEnumArg) {
  VelEnumArg prev, next;
  if (!DecodeEnumArg(std::span(RpcPointer<const uint8_t>(s2), kEnumArgRecordSize), &prev) ||
      !Params(s0).NextEnumArg(I(s1), prev.value, &next))
    return 0;
  Put(s2, EncodeEnumArg(next));
  return 1;
}

SERVED(GetAppAttributes) {
  Put(s1, EncodeAppAttributes(Model(s0).Attributes()));
  return 1;
}

SERVED(GetGpioAttr) {
  Put(s1, EncodeGpioAttributes(Model(s0).Gpio().Attributes()));
  return 1;
}

SERVED(FlushRegistery) {
  return static_cast<uint32_t>(Model(s0).Registry().Flush());
}

struct Served {
  const char* name;
  uint32_t slots;
  OzkRpcFunction function;
  std::array<uint32_t, kRpcMaxSlots> buffers;  // per slot: the size the function relies on
};

// Sorted by name (the map's order).
const Served kServed[] = {
    {"ClosestArgSupported", 4, ServeClosestArgSupported, {}},
    {"FlushRegistery", 2, ServeFlushRegistery, {}},
    {"GetAppAttributes", 2, ServeGetAppAttributes, {0, kAppAttrSize}},
    {"GetFirstEnumArg", 3, ServeGetFirstEnumArg, {0, 0, kEnumArgRecordSize}},
    {"GetFirstParam", 3, ServeGetFirstParam, {}},
    {"GetFirstParamGroup", 2, ServeGetFirstParamGroup, {}},
    {"GetGpioAttr", 2, ServeGetGpioAttr, {0, kGpioAttrRecordSize}},
    {"GetGroupProperties", 3, ServeGetGroupProperties, {0, 0, kGroupRecordSize}},
    {"GetNextEnumArg", 3, ServeGetNextEnumArg, {0, 0, kEnumArgRecordSize}},
    {"GetNextParam", 4, ServeGetNextParam, {}},
    {"GetNextParamGroup", 2, ServeGetNextParamGroup, {}},
    {"GetParam", 3, ServeGetParam, {}},
    {"GetParamByName", 3, ServeGetParamByName, {0, kText}},
    {"GetParamCaps", 3, ServeGetParamCaps, {0, 0, kParamCapsRecordSize}},
    {"GetParentGroup", 2, ServeGetParentGroup, {}},
    {"GetServerVersion", 1, ServeGetServerVersion, {}},
    {"IsArgSupported", 4, ServeIsArgSupported, {}},
    {"IsEmulatorMode", 1, ServeIsEmulatorMode, {}},
    {"ParamSupported", 2, ServeParamSupported, {}},
    {"SetParam", 5, ServeSetParam, {}},
};

const Served* FindServed(std::string_view name) {
  for (const auto& s : kServed) {
    if (name == s.name) return &s;
  }
  return nullptr;
}

}  // namespace

CEngineRpc::CEngineRpc(CNetServerNode* node, CVelEngine* engine) : CVelRpc(node), engine_(engine) {
  std::vector<OZK_RPC_FUNC_MAP> map;
  for (const auto& s : kServed) {
    OZK_RPC_FUNC_MAP entry{};
    std::strncpy(entry.name, s.name, sizeof entry.name - 1);
    entry.address = s.function;
    map.push_back(entry);
  }
  AddFunctionMapTable(map.data(), static_cast<int>(map.size()));
}

bool CEngineRpc::Acceptable(const CLumMsg& request) const {
  const std::string_view frame_bytes = request.Get(0).GetBytes(0);
  const std::string_view data = request.Get(3).GetBytes(0);
  OZK_RPC_INVOKE_STRUCT frame;
  if (frame_bytes.size() != sizeof frame) return false;
  std::memcpy(&frame, frame_bytes.data(), sizeof frame);
  const char* end = static_cast<const char*>(std::memchr(frame.function, 0, kRpcNameSize));
  if (!end) return false;
  const Served* served = FindServed(std::string_view(frame.function, end - frame.function));
  if (!served || frame.slot_count != served->slots) return false;
  std::array<bool, kRpcMaxSlots> described{};
  for (const auto& d : frame.buffers) {
    if (d.flags == 0) break;
    if (d.slot >= kRpcMaxSlots || described[d.slot]) return false;
    described[d.slot] = true;
    const uint32_t want = served->buffers[d.slot];
    if (uint64_t{d.offset} + d.size > data.size()) return false;
    if (want == kText ? std::memchr(data.data() + d.offset, 0, d.size) == nullptr : d.size != want)
      return false;
  }
  for (size_t slot = 0; slot < kRpcMaxSlots; ++slot) {
    if (served->buffers[slot] != 0 && !described[slot]) return false;
  }
  return true;
}

int CEngineRpc::Serve(CLumMsg* request, CLumMsg* reply) {
  if (request->GetId() == kMsgInvoke && !Acceptable(*request)) return 1;
  return OnNetMessage(request, reply);
}
