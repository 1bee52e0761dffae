// The remote-mirroring operations of CtVar: a linked node forwards reads and changes to the
// server through its XTVarRemote. Remote round trips run outside the tree lock, so that a
// server request arriving meanwhile can still reach the tree.
#include <cstring>

#include "platform/mutex.h"
#include "vartree/tvar.h"

namespace {

bool HoldsBuffer(uint32_t type) {
  return type == OZK_TVAR_STRING || type == OZK_TVAR_DATA || type == OZK_TVAR_DEST;
}

}  // namespace

int CtVar::ReadRemote() {
  XTVarRemote* remote = remote_;
  if (!remote) return 0;
  std::string full_name;
  uint32_t capacity;
  {
    CtVarLock lock;
    full_name = GetVarFullName(1);
    capacity = static_cast<uint32_t>(value_.size());
  }
  TVarRemoteValue reply;
  int result = remote->ReadVar(full_name, capacity, &reply);
  if (!result) return 0;
  const bool text_grew =
      (reply.type == OZK_TVAR_STRING || reply.type == OZK_TVAR_DEST) && reply.size > capacity;
  const bool data_differs = reply.type == OZK_TVAR_DATA && reply.size != capacity;
  if (text_grew || data_differs) {
    capacity = reply.size;
    reply = TVarRemoteValue();
    result = remote->ReadVar(full_name, capacity, &reply);
    if (!result) return 0;
  }
  CtVarLock lock;
  SetStoredKind(reply.type, remote_);
  number_ = reply.number;
  if (HoldsBuffer(reply.type)) {
    if (value_.size() != capacity) value_.assign(capacity, 0);
    const size_t n = std::min(reply.value.size(), value_.size());
    if (n) std::memcpy(value_.data(), reply.value.data(), n);  // an empty reply has no data
    if (reply.type != OZK_TVAR_DATA && n < value_.size()) value_[n] = 0;
    TerminateText();
  } else {
    value_.clear();
  }
  format_.fill(0);
  std::memcpy(format_.data(), reply.format.data(),
              std::min(reply.format.size(), kTVarFormatSize - 1));
  return result;
}

int CtVar::WriteRemote(CtVar* src) {
  XTVarRemote* remote = remote_;
  if (!remote || !src) return 0;
  std::string full_name;
  std::vector<uint8_t> value;
  uint32_t type;
  double number;
  std::string format;
  {
    CtVarLock lock;
    full_name = GetVarFullName(1);
    type = src->type_;
    number = src->number_;
    value = src->value_.empty() ? std::vector<uint8_t>{0} : src->value_;
    format.assign(src->format_.data(), strnlen(src->format_.data(), src->format_.size()));
  }
  return remote->WriteVar(full_name, type, number, value, format);
}

int CtVar::ReadTreeRemote() {
  XTVarRemote* remote = remote_;
  if (!remote) return 1;
  const std::string full_name = GetVarFullName(1);
  const uint32_t size = remote->ReadTreeSize(full_name);
  if (size == 0) return 0;
  std::vector<uint8_t> record;
  const int result = remote->ReadTree(full_name, size, &record);
  if (!result) return 0;
  if (record.size() > size) record.resize(size);
  CtVarLock lock;
  SetRemoteConnectState(0);
  UnSerializeTree(record.data(), static_cast<uint32_t>(record.size()));
  SetRemoteConnectState(1);
  return result;
}

int CtVar::GetNextChildNameRemote(const char* prev, std::string* out) {
  if (!remote_ || !out) return 0;
  return remote_->GetNextChildName(GetVarFullName(1), prev ? prev : "", out);
}

int CtVar::ResyncWithBase(int drop) {
  if (!remote_) return 0;
  CtVarLock lock;
  if (drop) DeleteUnreferencedChildren();
  return ReadTreeRemote();
}

void CtVar::DeleteUnreferencedChildren() {
  CtVar* c = first_child_;
  while (c) {
    CtVar* next = c->next_;
    if (c->ref_count_ == 0 && !c->AnyChildHasRef()) delete c;
    c = next;
  }
}

void CtVar::SetRpc(XTVarRemote* rpc) {
  CtVarLock lock;
  SetStoredKind(type_, rpc);
}

int CtVar::SetRemoteConnectState(int on) {
  CtVarLock lock;
  if (!on && remote_ && !parked_remote_) {
    parked_remote_ = remote_;
    SetStoredKind(type_, nullptr);
  } else if (on && parked_remote_ && !remote_) {
    SetStoredKind(type_, parked_remote_);
    parked_remote_ = nullptr;
  }
  for (CtVar* c = first_child_; c; c = c->next_) c->SetRemoteConnectState(on);
  return 1;
}
