#include "link/tvar_remote_ops.h"

#include "link/vel_rpc.h"

namespace {

CLumVariant TextPair(const std::string& first, const std::string& second) {
  CLumVariant v(LUM_VT_EMPTY);
  v.SetString(first.c_str(), 0);
  v.SetString(second.c_str(), 1);
  return v;
}

// Sends request and waits; the reply when the peer answered with at least min_size values.
bool Ask(CVelRpc* rpc, CLumMsg* request, CLumMsg* reply, int min_size) {
  return rpc && rpc->SendNetMessage(request, reply) == 0 && reply->Size() >= min_size;
}

int Tell(CVelRpc* rpc, CLumMsg* request) {
  return rpc && rpc->SendNetMessage(request, nullptr) == 0 ? 1 : 0;
}

// One-name requests answered with one unsigned count.
uint32_t AskCount(CVelRpc* rpc, int32_t id, const std::string& name) {
  CLumMsg request(id), reply;
  request.Add(CLumVariant(name.c_str()));
  if (!Ask(rpc, &request, &reply, 1)) return 0;
  return static_cast<uint32_t>(reply.Get(0).GetLongLong(0));
}

int TellName(CVelRpc* rpc, int32_t id, const std::string& name) {
  CLumMsg request(id);
  request.Add(CLumVariant(name.c_str()));
  return Tell(rpc, &request);
}

}  // namespace

int tVarReadRmtO(CVelRpc* rpc, const std::string& name, uint32_t capacity, TVarRemoteValue* out) {
  CLumMsg request(kMsgVarRead), reply;
  request.Add(CLumVariant(name.c_str()));
  request.Add(CLumVariant(static_cast<int>(capacity)));
  if (!Ask(rpc, &request, &reply, 5)) return 0;
  out->type = static_cast<uint32_t>(reply.Get(0).GetLongLong(0));
  out->number = reply.Get(1).GetDouble(0);
  out->size = static_cast<uint32_t>(reply.Get(2).GetLongLong(0));
  const std::string_view value = reply.Get(3).GetBytes(0);
  out->value.assign(value.begin(), value.end());
  out->format = reply.Get(3).GetString(1);
  return static_cast<int>(reply.Get(4).GetLongLong(0));
}

int tVarWriteRmtO(CVelRpc* rpc, const std::string& name, uint32_t type, double number,
                  std::span<const uint8_t> value, const std::string& format) {
  CLumVariant texts(LUM_VT_EMPTY);
  texts.SetStringBytes(std::string_view(reinterpret_cast<const char*>(value.data()), value.size()),
                       0);
  texts.SetString(format.c_str(), 1);
  CLumMsg request(kMsgVarWrite);
  request.Add(CLumVariant(name.c_str()));
  request.Add(CLumVariant(static_cast<int>(type)));
  request.Add(CLumVariant(number));
  request.Add(CLumVariant(static_cast<uint32_t>(value.size())));
  request.Add(texts);
  return Tell(rpc, &request);
}

int tVarGetNextChildNameRmtO(CVelRpc* rpc, const std::string& name, const std::string& prev,
                             std::string* out) {
  CLumMsg request(kMsgVarNextChildName), reply;
  request.Add(TextPair(name, prev));
  out->clear();
  if (!Ask(rpc, &request, &reply, 2)) return 0;
  *out = reply.Get(0).GetString(0);
  return static_cast<int>(reply.Get(1).GetLongLong(0));
}

uint32_t tVarGetNumChildrenRmtO(CVelRpc* rpc, const std::string& name) {
  return AskCount(rpc, kMsgVarNumChildren, name);
}

uint32_t tVarReleaseRmtO(CVelRpc* rpc, const std::string& name, int count) {
  CLumMsg request(kMsgVarRelease), reply;
  request.Add(CLumVariant(name.c_str()));
  request.Add(CLumVariant(count));
  if (!Ask(rpc, &request, &reply, 1)) return 0;
  return static_cast<uint32_t>(reply.Get(0).GetLongLong(0));
}

int tVarReadTreeRmtO(CVelRpc* rpc, const std::string& name, uint32_t size,
                     std::vector<uint8_t>* out) {
  CLumMsg request(kMsgVarReadTree), reply;
  request.Add(CLumVariant(name.c_str()));
  request.Add(CLumVariant(static_cast<int>(size)));
  out->clear();
  if (!Ask(rpc, &request, &reply, 2)) return 0;
  const std::string_view record = reply.Get(0).GetBytes(0);
  if (record.size() > size) return 0;  // more than was asked for
  out->assign(record.begin(), record.end());
  return static_cast<int>(reply.Get(1).GetLongLong(0));
}

uint32_t tVarReadTreeSizeRmtO(CVelRpc* rpc, const std::string& name) {
  return AskCount(rpc, kMsgVarReadTreeSize, name);
}

int tVarLockRmtO(CVelRpc* rpc, const std::string& name, uint32_t timeout_ms) {
  CLumMsg request(kMsgVarLock), reply;
  request.Add(CLumVariant(name.c_str()));
  request.Add(CLumVariant(timeout_ms));
  if (!Ask(rpc, &request, &reply, 1)) return 0;
  return static_cast<int>(reply.Get(0).GetLongLong(0));
}

int tVarUnLockRmtO(CVelRpc* rpc, const std::string& name) {
  return TellName(rpc, kMsgVarUnLock, name);
}

int tVarMoveUpRmtO(CVelRpc* rpc, const std::string& name) {
  return TellName(rpc, kMsgVarMoveUp, name);
}

int tVarMoveDownRmtO(CVelRpc* rpc, const std::string& name) {
  return TellName(rpc, kMsgVarMoveDown, name);
}

uint32_t tVarGetRefCountRmtO(CVelRpc* rpc, const std::string& name) {
  return AskCount(rpc, kMsgVarRefCount, name);
}

int tVarRenameRmtO(CVelRpc* rpc, const std::string& name, const std::string& new_name) {
  CLumMsg request(kMsgVarRename), reply;
  request.Add(TextPair(name, new_name));
  if (!Ask(rpc, &request, &reply, 1)) return 0;
  return static_cast<int>(reply.Get(0).GetLongLong(0));
}

int tVarPlaceAfterRmtO(CVelRpc* rpc, const std::string& name, const std::string& sibling) {
  CLumMsg request(kMsgVarPlaceAfter);
  request.Add(TextPair(name, sibling));
  return Tell(rpc, &request);
}

int AppDestsSendMessageRmtO(CVelRpc* rpc, const char* dest, std::span<const uint8_t> data,
                            uint32_t flag) {
  CLumMsg request(kMsgSendToDest);
  request.Add(CLumVariant(dest ? dest : ""));
  request.Add(CLumVariant(data.data(), static_cast<long>(data.size()), true));
  request.Add(CLumVariant(flag));
  return Tell(rpc, &request);
}

// ---- CVelRpc as the mirror's remote link ----

int CVelRpc::ReadVar(const std::string& full_name, uint32_t capacity, TVarRemoteValue* out) {
  return tVarReadRmtO(this, full_name, capacity, out);
}
int CVelRpc::WriteVar(const std::string& full_name, uint32_t type, double number,
                      std::span<const uint8_t> value, const std::string& format) {
  return tVarWriteRmtO(this, full_name, type, number, value, format);
}
int CVelRpc::GetNextChildName(const std::string& full_name, const std::string& prev,
                              std::string* out) {
  return tVarGetNextChildNameRmtO(this, full_name, prev, out);
}
uint32_t CVelRpc::GetNumChildren(const std::string& full_name) {
  return tVarGetNumChildrenRmtO(this, full_name);
}
uint32_t CVelRpc::Release(const std::string& full_name, int count) {
  return tVarReleaseRmtO(this, full_name, count);
}
uint32_t CVelRpc::ReadTreeSize(const std::string& full_name) {
  return tVarReadTreeSizeRmtO(this, full_name);
}
int CVelRpc::ReadTree(const std::string& full_name, uint32_t size, std::vector<uint8_t>* out) {
  return tVarReadTreeRmtO(this, full_name, size, out);
}
int CVelRpc::Lock(const std::string& full_name, uint32_t timeout_ms) {
  return tVarLockRmtO(this, full_name, timeout_ms);
}
int CVelRpc::UnLock(const std::string& full_name) {
  return tVarUnLockRmtO(this, full_name);
}
int CVelRpc::MoveUp(const std::string& full_name) {
  return tVarMoveUpRmtO(this, full_name);
}
int CVelRpc::MoveDown(const std::string& full_name) {
  return tVarMoveDownRmtO(this, full_name);
}
uint32_t CVelRpc::GetRefCount(const std::string& full_name) {
  return tVarGetRefCountRmtO(this, full_name);
}
int CVelRpc::Rename(const std::string& full_name, const std::string& new_name) {
  return tVarRenameRmtO(this, full_name, new_name);
}
int CVelRpc::PlaceAfter(const std::string& full_name, const std::string& after_full_name) {
  return tVarPlaceAfterRmtO(this, full_name, after_full_name);
}
