#include "link/vel_rpc.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "link/tvar_access.h"
#include "netmsg/net_socket.h"
#include "platform/shared_library.h"
#include "vartree/tvar.h"

namespace {

// The channel whose served call runs on this thread (calls may nest across channels).
thread_local const CVelRpc* t_invoking = nullptr;

constexpr auto kMapWait = std::chrono::milliseconds(1000);

uint32_t RoundUp4(uint32_t n) {
  return (n + 3u) & ~3u;
}

bool NameLess(const OZK_RPC_FUNC_MAP& a, const char* name) {
  return std::strcmp(a.name, name) < 0;
}

// The active descriptors: those before the first with flags 0.
int DescriptorCount(const OZK_RPC_INVOKE_STRUCT& frame) {
  int n = 0;
  while (n < kRpcMaxBuffers && frame.buffers[n].flags != 0) ++n;
  return n;
}

}  // namespace

CVelRpc::CVelRpc(CNetClientNode* client) : client_(client) {}
CVelRpc::CVelRpc(CNetServerNode* server) : server_(server) {}
CVelRpc::~CVelRpc() = default;

int CVelRpc::AddRpcDll(const char* library) {
  if (!library || !*library) return 0;
  std::lock_guard<std::mutex> lock(libs_mu_);
  if (std::find(libraries_.begin(), libraries_.end(), library) == libraries_.end())
    libraries_.emplace_back(library);
  return 1;
}

int CVelRpc::AddFunctionMapTable(const OZK_RPC_FUNC_MAP* table, int count) {
  if (!table) return 0;
  std::unique_lock<std::timed_mutex> lock(map_mu_, kMapWait);
  if (!lock.owns_lock()) return 0;
  int added = 0;
  for (int i = 0; count == 0 ? table[i].address != nullptr : i < count; ++i) {
    if (!table[i].address || map_.size() >= kRpcMapCapacity) continue;
    OZK_RPC_FUNC_MAP entry{};
    std::memcpy(entry.name, table[i].name, strnlen(table[i].name, kRpcMapNameSize - 1));
    entry.address = table[i].address;
    map_.push_back(entry);
    ++added;
  }
  std::stable_sort(map_.begin(), map_.end(),
                   [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
  return added;
}

OzkRpcFunction CVelRpc::FindInMap(const char* name) {
  std::unique_lock<std::timed_mutex> lock(map_mu_, kMapWait);
  if (!lock.owns_lock()) return nullptr;
  auto it = std::lower_bound(map_.begin(), map_.end(), name, NameLess);
  return it != map_.end() && std::strcmp(it->name, name) == 0 ? it->address : nullptr;
}

void CVelRpc::AddToMap(const char* name, OzkRpcFunction fn) {
  OZK_RPC_FUNC_MAP entry{};
  std::memcpy(entry.name, name, strnlen(name, kRpcMapNameSize - 1));
  entry.address = fn;
  AddFunctionMapTable(&entry, 1);
}

OzkRpcFunction CVelRpc::Lookup(const char* name, uint32_t slot_count) {
  if (OzkRpcFunction fn = FindInMap(name)) return fn;
  std::lock_guard<std::mutex> lock(libs_mu_);
  std::string decorated = "_";
  decorated.append(name).append("@").append(std::to_string(slot_count * sizeof(uint64_t)));
  for (const std::string& library : libraries_) {
    auto found = loaded_.find(library);
    if (found == loaded_.end())
      found = loaded_.emplace(library, port::SharedLibrary::Open(library)).first;
    if (!found->second) continue;
    void* symbol = found->second->Symbol(name);
    if (!symbol) symbol = found->second->Symbol(decorated);
    if (!symbol) continue;
    auto fn = reinterpret_cast<OzkRpcFunction>(symbol);
    AddToMap(name, fn);
    return fn;
  }
  return nullptr;
}

bool CVelRpc::InsideInvoke() const {
  return t_invoking == this;
}

double CVelRpc::InvokeProxy(OZK_RPC_INVOKE_STRUCT* frame) {
  if (!frame || InsideInvoke()) return 0;
  const uint32_t n = frame->slot_count;
  const uint64_t* args = RpcPointer<const uint64_t>(frame->args);
  if (n < 1 || n > kRpcMaxSlots || !args) return 0;
  const uint64_t block_size = RpcDataBlockSize(*frame);
  if (block_size > NetConnection::kMaxFrameBytes / 2) return 0;

  std::vector<uint64_t> slots(args, args + n);
  slots[0] = 0;
  std::vector<uint8_t> block(block_size, 0);
  const int buffers = DescriptorCount(*frame);
  uint32_t offset = 0;
  for (int i = 0; i < buffers; ++i) {
    OZK_RPC_BUFFER_DESC& d = frame->buffers[i];
    if (d.slot == 0 || d.slot >= n) return 0;
    const void* p = RpcPointer<const void>(args[d.slot]);
    if (d.size > 0 && !p) return 0;
    d.offset = offset;
    if ((d.flags & kRpcIn) && d.size > 0) std::memcpy(block.data() + offset, p, d.size);
    slots[d.slot] = 0;  // an address means nothing to the peer
    offset += RoundUp4(d.size);
  }

  OZK_RPC_INVOKE_STRUCT sent = *frame;
  sent.args = 0;
  CLumMsg request(kMsgInvoke);
  request.Add(CLumVariant(&sent, sizeof sent, true));
  request.Add(CLumVariant(slots.data(), static_cast<long>(n * sizeof(uint64_t)), true));
  request.Add(CLumVariant(n));
  request.Add(CLumVariant(block.data(), static_cast<long>(block.size()), true));
  request.Add(CLumVariant(static_cast<uint32_t>(block.size())));
  CLumMsg reply;
  if (SendNetMessage(&request, &reply) != 0) return 0;
  if (reply.Size() < 1 || reply.Get(0).GetType() != LUM_VT_DATA) return 0;

  const std::string_view returned = reply.Get(0).GetBytes(0);
  std::memcpy(block.data(), returned.data(), std::min(returned.size(), block.size()));
  const double result = reply.Get(1).GetDouble(0);
  for (int i = 0; i < buffers; ++i) {
    const OZK_RPC_BUFFER_DESC& d = frame->buffers[i];
    if ((d.flags & kRpcOut) && d.size > 0)
      std::memcpy(RpcPointer<void>(args[d.slot]), block.data() + d.offset, d.size);
  }
  return result;
}

int CVelRpc::InvokeRpc(OZK_RPC_INVOKE_STRUCT* frame, uint64_t* slots, uint32_t slot_count,
                       uint8_t* data, uint32_t data_size, double* result) {
  if (result) *result = 0;
  if (!frame || !slots || frame->kind != kRpcFrameKind) return 0;
  if (slot_count < 1 || slot_count > kRpcMaxSlots || frame->slot_count != slot_count) return 0;
  if (!std::memchr(frame->function, 0, kRpcNameSize) || frame->function[0] == 0) return 0;
  const int buffers = DescriptorCount(*frame);
  uint32_t buffer_slots = 0;  // one buffer per slot: a second one would hide the first's size
  for (int i = 0; i < buffers; ++i) {
    const OZK_RPC_BUFFER_DESC& d = frame->buffers[i];
    if (d.flags > kRpcBoth || d.slot == 0 || d.slot >= slot_count || d.offset % 4 != 0) return 0;
    if (uint64_t{d.offset} + d.size > data_size || (d.size > 0 && !data)) return 0;
    if (buffer_slots & (1u << d.slot)) return 0;
    buffer_slots |= 1u << d.slot;
  }
  for (int i = 0; i < buffers; ++i) {
    const OZK_RPC_BUFFER_DESC& d = frame->buffers[i];
    slots[d.slot] = data ? reinterpret_cast<uintptr_t>(data + d.offset) : 0;
  }
  slots[0] = reinterpret_cast<uintptr_t>(this);

  const OzkRpcFunction fn = Lookup(frame->function, slot_count);
  if (!fn) return 0;
  uint64_t a[kRpcMaxSlots] = {};
  std::copy(slots, slots + slot_count, a);
  const CVelRpc* outer = t_invoking;
  t_invoking = this;
  const uint64_t r = fn(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
  t_invoking = outer;
  if (result) {
    *result = frame->return_kind == kRpcReturnDouble
                  ? RpcDouble(r)
                  : static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(r)));
  }
  return 1;
}

void CVelRpc::ServeInvoke(const CLumMsg& request, CLumMsg* reply) {
  const std::string_view frame_bytes = request.Get(0).GetBytes(0);
  const std::string_view slot_bytes = request.Get(1).GetBytes(0);
  const uint32_t slot_count = static_cast<uint32_t>(request.Get(2).GetLongLong(0));
  const std::string_view data = request.Get(3).GetBytes(0);
  const uint64_t data_size = static_cast<uint64_t>(request.Get(4).GetLongLong(0));
  if (frame_bytes.size() != sizeof(OZK_RPC_INVOKE_STRUCT) || slot_count < 1 ||
      slot_count > kRpcMaxSlots || slot_bytes.size() != slot_count * sizeof(uint64_t) ||
      data.size() != data_size) {
    return;  // no data variant: the caller sees a failed call
  }
  OZK_RPC_INVOKE_STRUCT frame;
  std::memcpy(&frame, frame_bytes.data(), sizeof frame);
  uint64_t slots[kRpcMaxSlots] = {};
  std::memcpy(slots, slot_bytes.data(), slot_bytes.size());
  std::vector<uint8_t> block(data.begin(), data.end());
  double result = 0;
  InvokeRpc(&frame, slots, slot_count, block.empty() ? nullptr : block.data(),
            static_cast<uint32_t>(block.size()), &result);
  reply->Add(CLumVariant(block.data(), static_cast<long>(block.size()), true));
  reply->Add(CLumVariant(result));
}

int CVelRpc::SendNetMessage(CLumMsg* request, CLumMsg* reply) {
  if (client_) return client_->SendNetMessage(request, reply);
  if (!server_) return kNetErrNotConnected;
  const int id = server_->GetClientId(0);
  if (id < 0) return kNetErrNotConnected;
  return server_->SendNetMessage(id, request, reply);
}

int CVelRpc::OnNetMessage(CLumMsg* request, CLumMsg* reply) {
  if (!request || !reply) return 0;
  switch (request->GetId()) {
    case kMsgInvoke:
      ServeInvoke(*request, reply);
      return 1;
    case kMsgSendToDest:
      SendToDest(request->Get(0).GetString(0),
                 std::span(reinterpret_cast<const uint8_t*>(request->Get(1).GetBytes(0).data()),
                           request->Get(1).GetBytes(0).size()),
                 static_cast<uint32_t>(request->Get(2).GetLongLong(0)));
      return 1;
    case kMsgVarLock:
    case kMsgVarUnLock:
      return ServeVarMessage(this, *request, reply);
    default: {
      int handled = 0;
      peer_lock_.Run([&] { handled = ServeVarMessage(this, *request, reply); });
      return handled;
    }
  }
}

int CVelRpc::SendToDest(const char* dest, std::span<const uint8_t> data, uint32_t flag) {
  return dest_sender_ ? dest_sender_(dest, data, flag) : 0;
}
