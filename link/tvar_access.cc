#include "link/tvar_access.h"

#include <cstring>

#include "link/vel_rpc.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

CtVar* Node(CVelRpc* rpc, const char* name) {
  CtVar* root = rpc ? rpc->GetRootTVar() : nullptr;
  if (!root || !name) return nullptr;
  // Names on the wire are plain UTF-8 (a mirror sends the converted names it holds): bound the
  // lookup by the text's own end, never by a UTF-16 terminator it may lack.
  return &(*root)[std::string_view(name)];
}

}  // namespace

int tVarRead(CVelRpc* rpc, const char* name, uint32_t* type, double* number, uint32_t capacity,
             uint32_t* size, std::string* value, std::string* format) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  if (!v) return 0;
  const uint32_t stored = v->GetStoredType();
  uint32_t held = 0;
  const uint8_t* bytes = v->GetData(&held);
  *type = stored;
  *size = held;
  *number = stored == OZK_TVAR_DEST ? v->ReadAttachedDest() : static_cast<double>(*v);
  value->clear();
  if (bytes && stored == OZK_TVAR_DATA && held == capacity) {
    value->assign(reinterpret_cast<const char*>(bytes), held);
  } else if (bytes && (stored == OZK_TVAR_STRING || stored == OZK_TVAR_DEST) && capacity >= held) {
    value->assign(reinterpret_cast<const char*>(bytes),
                  strnlen(reinterpret_cast<const char*>(bytes), held));
  }
  const std::string_view f = v->FormatView();
  format->assign(f.substr(0, std::min(f.find('\0'), f.size())));
  return 1;
}

int tVarWrite(CVelRpc* rpc, const char* name, uint32_t type, double number, std::string_view value,
              const char* format) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  if (!v) return 0;
  const std::string text(value.substr(0, std::min(value.find('\0'), value.size())));
  switch (type) {
    case OZK_TVAR_DOUBLE:
    case OZK_TVAR_INT:
      *v = number;
      break;
    case OZK_TVAR_STRING:
      *v = text;
      break;
    case OZK_TVAR_DATA:
      v->SetData(value.empty() ? nullptr : reinterpret_cast<const uint8_t*>(value.data()),
                 static_cast<uint32_t>(value.size()));
      break;
    case OZK_TVAR_DEST: {
      std::string dest;
      uint32_t reg = 0, count = 0;
      CtVar::DestCmpts(text, &dest, &reg, &count);
      v->AttachToDestination(dest.c_str(), reg, count);
      break;
    }
    default:
      break;
  }
  if (format) v->SetFormat(format);
  return 1;
}

int tVarGetNextChildName(CVelRpc* rpc, const char* name, const char* prev, std::string* out) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  out->clear();
  if (!v) return 0;
  CtVar* next = v->GetFirstChild();
  if (prev && *prev) {
    CtVar* c = v->GetFirstChild();
    while (c && !port::EqualsNoCase(c->NameView(), prev)) c = c->GetNextSibling();
    next = c ? c->GetNextSibling() : nullptr;
  }
  if (next) out->assign(next->NameView());
  return 1;
}

uint32_t tVarGetNumChildren(CVelRpc* rpc, const char* name) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  return v ? v->GetNumChildren() : 0;
}

uint32_t tVarGetRefCount(CVelRpc* rpc, const char* name) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  return v ? v->GetRefCount(1) : 0;
}

uint32_t tVarRelease(CVelRpc* rpc, const char* name, int count) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  if (!v) return 0;
  // The channel's root is owned by its holder: a peer's release never deletes it.
  if (v == rpc->GetRootTVar()) return v->GetRefCount(0);
  return v->Release(static_cast<uint32_t>(count < 0 ? 0 : count), 0, 1);
}

int tVarReadTree(CVelRpc* rpc, const char* name, uint32_t size, std::vector<uint8_t>* out) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  out->clear();
  if (!v) return 0;
  // The buffer is sized by the tree, never by the peer's number alone.
  const uint32_t needed = v->SerializeTreeSize();
  out->assign(std::min(size, needed), 0);
  const int result = v->SerializeTree(out->data(), static_cast<uint32_t>(out->size()));
  if (!result) out->clear();
  return result;
}

uint32_t tVarReadTreeSize(CVelRpc* rpc, const char* name) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  return v ? v->SerializeTreeSize() : 0;
}

int tVarRename(CVelRpc* rpc, const char* name, const char* new_name) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  return v ? v->Rename(new_name) : 0;
}

int tVarMoveUp(CVelRpc* rpc, const char* name) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  return v ? v->MoveUp() : 0;
}

int tVarMoveDown(CVelRpc* rpc, const char* name) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  return v ? v->MoveDown() : 0;
}

int tVarPlaceAfter(CVelRpc* rpc, const char* name, const char* sibling) {
  CtVarLock lock;
  CtVar* v = Node(rpc, name);
  if (!v) return 0;
  CtVar* after = sibling && *sibling ? Node(rpc, sibling) : nullptr;
  return v->PlaceAfter(after);
}

int tVarLock(CVelRpc* rpc, const char* name, uint32_t timeout_ms) {
  return rpc ? rpc->EnterTreeLockForPeer() : 0;
}

int tVarUnLock(CVelRpc* rpc, const char* name) {
  return rpc ? rpc->LeaveTreeLockForPeer() : 0;
}

OZK_RPC_FUNCTION(tVarReadCounts) {
  return 0;
}

int ServeVarMessage(CVelRpc* rpc, const CLumMsg& req, CLumMsg* reply) {
  const char* name = req.Get(0).GetString(0);
  switch (req.GetId()) {
    case kMsgVarRead: {
      uint32_t type = 0, size = 0;
      double number = 0;
      std::string value, format;
      const uint32_t capacity = static_cast<uint32_t>(req.Get(1).GetLongLong(0));
      const int result = tVarRead(rpc, name, &type, &number, capacity, &size, &value, &format);
      CLumVariant texts(LUM_VT_EMPTY);
      texts.SetStringBytes(value, 0);
      texts.SetString(format.c_str(), 1);
      reply->Add(CLumVariant(static_cast<int>(type)));
      reply->Add(CLumVariant(number));
      reply->Add(CLumVariant(size));
      reply->Add(texts);
      reply->Add(CLumVariant(result));
      return 1;
    }
    case kMsgVarWrite: {
      const std::string_view value = req.Get(4).GetBytes(0);
      const uint64_t size = static_cast<uint64_t>(req.Get(3).GetLongLong(0));
      tVarWrite(rpc, name, static_cast<uint32_t>(req.Get(1).GetLongLong(0)),
                req.Get(2).GetDouble(0), value.substr(0, size), req.Get(4).GetString(1));
      return 1;
    }
    case kMsgVarNextChildName: {
      std::string next;
      const int result = tVarGetNextChildName(rpc, name, req.Get(0).GetString(1), &next);
      reply->Add(CLumVariant(next.c_str()));
      reply->Add(CLumVariant(result));
      return 1;
    }
    case kMsgVarNumChildren:
      reply->Add(CLumVariant(tVarGetNumChildren(rpc, name)));
      return 1;
    case kMsgVarRelease:
      reply->Add(CLumVariant(tVarRelease(rpc, name, static_cast<int>(req.Get(1).GetLongLong(0)))));
      return 1;
    case kMsgVarReadTree: {
      std::vector<uint8_t> record;
      const uint32_t size = static_cast<uint32_t>(req.Get(1).GetLongLong(0));
      const int result = tVarReadTree(rpc, name, size, &record);
      reply->Add(CLumVariant(record.data(), static_cast<long>(record.size()), true));
      reply->Add(CLumVariant(result));
      return 1;
    }
    case kMsgVarReadTreeSize:
      reply->Add(CLumVariant(tVarReadTreeSize(rpc, name)));
      return 1;
    case kMsgVarLock:
      reply->Add(
          CLumVariant(tVarLock(rpc, name, static_cast<uint32_t>(req.Get(1).GetLongLong(0)))));
      return 1;
    case kMsgVarUnLock:
      tVarUnLock(rpc, name);
      return 1;
    case kMsgVarMoveUp:
      tVarMoveUp(rpc, name);
      return 1;
    case kMsgVarMoveDown:
      tVarMoveDown(rpc, name);
      return 1;
    case kMsgVarRefCount:
      reply->Add(CLumVariant(tVarGetRefCount(rpc, name)));
      return 1;
    case kMsgVarRename:
      reply->Add(CLumVariant(tVarRename(rpc, name, req.Get(0).GetString(1))));
      return 1;
    case kMsgVarPlaceAfter:
      tVarPlaceAfter(rpc, name, req.Get(0).GetString(1));
      return 1;
    default:
      return 0;
  }
}
