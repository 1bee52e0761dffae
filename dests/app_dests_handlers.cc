#include <memory>

#include "dests/app_dests.h"
#include "vartree/tvar.h"

std::unique_ptr<CMsgHandler> CAppDests::TakeHandler(CtVar* dest) {
  const int index = SlotIndex(dest);
  if (index < 0) return nullptr;
  CtVarLock lock;
  return std::move(slots_[index].handler);
}

CMsgHandler* CAppDests::GetMessageHandler(CtVar* dest) {
  const int index = SlotIndex(dest);
  if (index < 0) return nullptr;
  CtVarLock lock;
  return slots_[index].handler.get();
}

CMsgHandler* CAppDests::CreateMessageHandler(CtVar* dest, char terminator) {
  if (SlotIndex(dest) < 0) return nullptr;
  SetMessageHandler(dest, std::make_unique<CMsgHandler>(this, dest, terminator));
  return GetMessageHandler(dest);
}

void CAppDests::SetMessageHandler(CtVar* dest, std::unique_ptr<CMsgHandler> handler) {
  const int index = SlotIndex(dest);
  if (index < 0) return;
  std::unique_ptr<CMsgHandler> previous;
  {
    CtVarLock lock;
    if (slots_[index].handler == handler) return;
    previous = std::move(slots_[index].handler);
    slots_[index].handler = std::move(handler);
  }
  // previous stops here, outside the tree lock its thread may be waiting for.
}

void CAppDests::DeleteMessageHandler(CtVar* dest) {
  TakeHandler(dest);
}

CtVar* CAppDests::AttachedDest(const char* variable, std::string* var_name) {
  if (!variable || !*variable) return nullptr;
  CtVar* var = root_->GetChild("AppVar." + std::string(variable));
  std::string dest_name;
  if (!var || var == root_ || !var->IsAttachedToDest(&dest_name)) return nullptr;
  if (var_name) *var_name = variable;
  return GetDestID(dest_name.c_str());
}

int CAppDests::CreateFunctionMsgHand(const char* variable, const char* command) {
  std::string var_name;
  CtVar* dest = AttachedDest(variable, &var_name);
  if (!dest || !command) return 0;
  CMsgHandler* handler = GetMessageHandler(dest);
  if (!handler) handler = CreateMessageHandler(dest, '\n');
  if (!handler) return 0;
  handler->SetAttachVarName(var_name);
  const bool prefix = command[0] == '_';
  return handler->AddMessageFunc(command + (prefix ? 1 : 0), nullptr, nullptr, prefix) ? 1 : 0;
}

int CAppDests::DeleteFunctionMsgHand(const char* variable, const char* command) {
  CtVar* dest = AttachedDest(variable, nullptr);
  CMsgHandler* handler = dest ? GetMessageHandler(dest) : nullptr;
  if (!handler || !command) return 0;
  return handler->DelMessageFunc(command + (command[0] == '_' ? 1 : 0));
}

// ---- Change callbacks and triggers of attached variables ----

// The connection behind "AppVar.<variable>", with its destination's name and register offset.
CConnection* CAppDests::AttachedConn(const char* variable, std::string* dest_name,
                                     uint32_t* offset) {
  if (!variable || !*variable) return nullptr;
  CtVarLock lock;
  CtVar* var = root_->GetChild("AppVar." + std::string(variable));
  if (!var || var == root_ || !var->IsAttachedToDest(dest_name, offset)) return nullptr;
  return GetConn(GetDestID(dest_name->c_str()), nullptr);
}

void* CAppDests::CreateVarChangeCallback(const char* variable, OzkVarChangeCallback callback,
                                         void* context) {
  std::string dest_name;
  uint32_t offset = 0;
  CConnection* conn = AttachedConn(variable, &dest_name, &offset);
  return conn
             ? conn->CreateVarChangeCallback(variable, dest_name.c_str(), offset, callback, context)
             : nullptr;
}

void CAppDests::DeleteVarChangeCallback(const char* variable, void* handle) {
  std::string dest_name;
  uint32_t offset = 0;
  if (CConnection* conn = AttachedConn(variable, &dest_name, &offset))
    conn->DeleteVarChangeCallback(variable, handle);
}

void* CAppDests::CreateVarChangeTrigger(const char* variable, int arg) {
  std::string dest_name;
  uint32_t offset = 0;
  CConnection* conn = AttachedConn(variable, &dest_name, &offset);
  return conn ? conn->CreateVarChangeTrigger(dest_name.c_str(), offset, arg) : nullptr;
}

void CAppDests::DeleteVarChangeTrigger(const char* variable, int arg) {
  std::string dest_name;
  uint32_t offset = 0;
  if (CConnection* conn = AttachedConn(variable, &dest_name, &offset))
    conn->DeleteVarChangeTrigger(dest_name.c_str(), offset, arg);
}
