#include "engine/engine_rpc.h"

#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/vel_engine.h"
#include "platform/text.h"

namespace {

CDeviceParams& Params(uint64_t rpc) {
  return RpcPointer<CEngineRpc>(rpc)->Engine()->Model().Params();
}
CApplianceModel& Model(uint64_t rpc) {
  return RpcPointer<CEngineRpc>(rpc)->Engine()->Model();
}
int32_t I(uint64_t slot) {
  return static_cast<int32_t>(static_cast<uint32_t>(slot));
}
uint32_t U(uint64_t slot) {
  return static_cast<uint32_t>(slot);
}
// Texts were checked for their terminator before the call.
const char* Text(uint64_t slot) {
  return RpcPointer<const char>(slot);
}
// 4-byte buffers sit at multiples of 4 in the data block, but the block's own alignment is the
// allocator's business: go through memcpy.
uint32_t Held(uint64_t slot) {
  uint32_t v;
  std::memcpy(&v, RpcPointer<const void>(slot), sizeof v);
  return v;
}
void Hold(uint64_t slot, uint32_t v) {
  std::memcpy(RpcPointer<void>(slot), &v, sizeof v);
}
// Copies text with its terminator into the buffer of slot; capacity was checked by the caller.
void PutText(uint64_t slot, const std::string& text) {
  std::memcpy(RpcPointer<char>(slot), text.c_str(), text.size() + 1);
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

// root, key, value name, type out, value out, value size (in: capacity; out: the value's size).
// A value larger than the capacity is not copied; the size tells the caller what to offer.
SERVED(ReadRegistery) {
  uint32_t type = 0;
  std::vector<uint8_t> value;
  if (!Model(s0).Registry().Read(U(s1), Text(s2), Text(s3), &type, &value)) return 0;
  const uint32_t capacity = Held(s6);
  Hold(s4, type);
  Hold(s6, static_cast<uint32_t>(value.size()));
  if (value.size() > capacity) return 0;
  if (!value.empty()) std::memcpy(RpcPointer<uint8_t>(s5), value.data(), value.size());
  return 1;
}

// root, key, value name, type, value in, value size.
SERVED(WriteRegistery) {
  return static_cast<uint32_t>(Model(s0).Registry().Write(
      U(s1), Text(s2), Text(s3), U(s4), std::span(RpcPointer<const uint8_t>(s5), U(s6))));
}

// param, argument value, capacity, name out.
SERVED(GetArgName) {
  std::string name;
  if (!Params(s0).GetArgName(I(s1), I(s2), &name) || name.size() >= U(s3)) return 0;
  PutText(s4, name);
  return 1;
}

SERVED(GetArgValue) {
  return RpcSlot(Params(s0).GetArgValue(I(s1), Text(s2)));
}

// Parameter files are device paths, kept inside the device's file system.
std::optional<std::string> DevicePath(uint64_t rpc, uint64_t path) {
  return Model(rpc).Files().MapPath(port::Utf8ToWide(Text(path)));
}
SERVED(ReadParamFile) {
  const auto path = DevicePath(s0, s1);
  return path ? static_cast<uint32_t>(Params(s0).ReadFile(*path)) : 0;
}
SERVED(WriteParamFile) {
  const auto path = DevicePath(s0, s1);
  return path ? static_cast<uint32_t>(Params(s0).WriteFile(*path)) : 0;
}

// text out, capacity (in: the buffer's size; out: the text's size with its terminator).
uint64_t DeviceText(const std::string& text, uint64_t buffer, uint64_t capacity) {
  const uint32_t room = Held(capacity);
  Hold(capacity, static_cast<uint32_t>(text.size() + 1));
  if (text.size() >= room) return 0;
  PutText(buffer, text);
  return 1;
}
SERVED(GetDeviceSerialNo) {
  return DeviceText(Model(s0).SerialNo(), s1, s2);
}
SERVED(GetDevicePhysicalAddress) {
  return DeviceText(Model(s0).MacAddressText(), s1, s2);
}
SERVED(GetDeviceName) {
  return DeviceText(Model(s0).DeviceName(), s1, s2);
}
SERVED(SetDeviceName) {
  return static_cast<uint32_t>(Model(s0).SetDeviceName(Text(s1)));
}

SERVED(RestartDevice) {
  Model(s0).Restart();
  return 0;
}

SERVED(SetWindowGen) {
  return static_cast<uint32_t>(Model(s0).SetWindowGen({I(s1), I(s2), I(s3), I(s4)}));
}

// What a served function relies on for the buffer in one slot.
struct BufferRule {
  enum Kind : uint8_t { kNone, kFixed, kText, kSizeArg, kSizeHeld } kind = kNone;
  uint32_t n = 0;  // kFixed: the size; kSizeArg, kSizeHeld: the slot that gives the size
};
constexpr BufferRule Fixed(uint32_t size) {
  return {BufferRule::kFixed, size};
}
// Terminated inside its buffer.
constexpr BufferRule Terminated() {
  return {BufferRule::kText, 0};
}
// As large as the integer argument in slot.
constexpr BufferRule SizeArg(uint32_t slot) {
  return {BufferRule::kSizeArg, slot};
}
// As large as the 32-bit value the 4-byte buffer of slot holds.
constexpr BufferRule SizeHeld(uint32_t slot) {
  return {BufferRule::kSizeHeld, slot};
}
constexpr BufferRule kNo{};
constexpr BufferRule kT = Terminated();
constexpr BufferRule k4 = Fixed(4);

struct Served {
  const char* name;
  uint32_t slots;
  OzkRpcFunction function;
  std::array<BufferRule, kRpcMaxSlots> buffers;
};

// Sorted by name (the map's order).
const Served kServed[] = {
    {"ClosestArgSupported", 4, ServeClosestArgSupported, {}},
    {"FlushRegistery", 2, ServeFlushRegistery, {}},
    {"GetAppAttributes", 2, ServeGetAppAttributes, {kNo, Fixed(kAppAttrSize)}},
    {"GetArgName", 5, ServeGetArgName, {kNo, kNo, kNo, kNo, SizeArg(3)}},
    {"GetArgValue", 3, ServeGetArgValue, {kNo, kNo, kT}},
    {"GetDeviceName", 3, ServeGetDeviceName, {kNo, SizeHeld(2), k4}},
    {"GetDevicePhysicalAddress", 3, ServeGetDevicePhysicalAddress, {kNo, SizeHeld(2), k4}},
    {"GetDeviceSerialNo", 3, ServeGetDeviceSerialNo, {kNo, SizeHeld(2), k4}},
    {"GetFirstEnumArg", 3, ServeGetFirstEnumArg, {kNo, kNo, Fixed(kEnumArgRecordSize)}},
    {"GetFirstParam", 3, ServeGetFirstParam, {}},
    {"GetFirstParamGroup", 2, ServeGetFirstParamGroup, {}},
    {"GetGpioAttr", 2, ServeGetGpioAttr, {kNo, Fixed(kGpioAttrRecordSize)}},
    {"GetGroupProperties", 3, ServeGetGroupProperties, {kNo, kNo, Fixed(kGroupRecordSize)}},
    {"GetNextEnumArg", 3, ServeGetNextEnumArg, {kNo, kNo, Fixed(kEnumArgRecordSize)}},
    {"GetNextParam", 4, ServeGetNextParam, {}},
    {"GetNextParamGroup", 2, ServeGetNextParamGroup, {}},
    {"GetParam", 3, ServeGetParam, {}},
    {"GetParamByName", 3, ServeGetParamByName, {kNo, kT}},
    {"GetParamCaps", 3, ServeGetParamCaps, {kNo, kNo, Fixed(kParamCapsRecordSize)}},
    {"GetParentGroup", 2, ServeGetParentGroup, {}},
    {"GetServerVersion", 1, ServeGetServerVersion, {}},
    {"IsArgSupported", 4, ServeIsArgSupported, {}},
    {"IsEmulatorMode", 1, ServeIsEmulatorMode, {}},
    {"ParamSupported", 2, ServeParamSupported, {}},
    {"ReadParamFile", 2, ServeReadParamFile, {kNo, kT}},
    {"ReadRegistery", 7, ServeReadRegistery, {kNo, kNo, kT, kT, k4, SizeHeld(6), k4}},
    {"RestartDevice", 1, ServeRestartDevice, {}},
    {"SetDeviceName", 2, ServeSetDeviceName, {kNo, kT}},
    {"SetParam", 5, ServeSetParam, {}},
    {"SetWindowGen", 5, ServeSetWindowGen, {}},
    {"WriteParamFile", 2, ServeWriteParamFile, {kNo, kT}},
    {"WriteRegistery", 7, ServeWriteRegistery, {kNo, kNo, kT, kT, kNo, SizeArg(6)}},
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
  const std::string_view slot_bytes = request.Get(1).GetBytes(0);
  const std::string_view data = request.Get(3).GetBytes(0);
  OZK_RPC_INVOKE_STRUCT frame;
  if (frame_bytes.size() != sizeof frame) return false;
  std::memcpy(&frame, frame_bytes.data(), sizeof frame);
  const char* end = static_cast<const char*>(std::memchr(frame.function, 0, kRpcNameSize));
  if (!end) return false;
  const Served* served = FindServed(std::string_view(frame.function, end - frame.function));
  if (!served || frame.slot_count != served->slots) return false;
  if (slot_bytes.size() != served->slots * sizeof(uint64_t)) return false;
  std::array<const OZK_RPC_BUFFER_DESC*, kRpcMaxSlots> described{};
  for (const auto& d : frame.buffers) {
    if (d.flags == 0) break;
    if (d.slot >= kRpcMaxSlots || described[d.slot]) return false;
    if (uint64_t{d.offset} + d.size > data.size()) return false;
    described[d.slot] = &d;
  }
  // A size given by another slot is read from what arrived, never from the peer's descriptor.
  auto size_from = [&](const BufferRule& rule) -> std::optional<uint64_t> {
    if (rule.n >= served->slots) return std::nullopt;
    if (rule.kind == BufferRule::kSizeArg) {
      uint64_t v;
      std::memcpy(&v, slot_bytes.data() + rule.n * sizeof v, sizeof v);
      return static_cast<uint32_t>(v);
    }
    const OZK_RPC_BUFFER_DESC* held = described[rule.n];
    if (!held || held->size != sizeof(uint32_t)) return std::nullopt;
    uint32_t v;
    std::memcpy(&v, data.data() + held->offset, sizeof v);
    return v;
  };
  for (size_t slot = 0; slot < kRpcMaxSlots; ++slot) {
    const BufferRule& rule = served->buffers[slot];
    const OZK_RPC_BUFFER_DESC* d = described[slot];
    if ((rule.kind == BufferRule::kNone) != (d == nullptr)) return false;
    switch (rule.kind) {
      case BufferRule::kNone:
        break;
      case BufferRule::kFixed:
        if (d->size != rule.n) return false;
        break;
      case BufferRule::kText:
        if (!std::memchr(data.data() + d->offset, 0, d->size)) return false;
        break;
      case BufferRule::kSizeArg:
      case BufferRule::kSizeHeld: {
        const auto want = size_from(rule);
        if (!want || d->size != *want) return false;
        break;
      }
    }
  }
  return true;
}

int CEngineRpc::Serve(CLumMsg* request, CLumMsg* reply) {
  if (request->GetId() == kMsgInvoke && !Acceptable(*request)) return 1;
  return OnNetMessage(request, reply);
}
