#include "dests/conn_factory.h"

#include "dests/connection.h"

namespace {
// Constant-initialised, so classes may register from any static initialiser.
f_appd* g_head = nullptr;

const f_appd* FindRecord(uint32_t role) {
  for (const f_appd* r = g_head; r; r = r->next) {
    if (r->role == role) return r;
  }
  return nullptr;
}

// Empties the registry when the library unloads, so no record outlives its class.
struct CConnFactory {
  ~CConnFactory() { OzkCloseAppDestFactory(); }
} g_factory;
}  // namespace

int OzkAddAppDestClass(OzkCreateAppDestFn create, OzkConnNameFn conn_name, OzkDetectDeviceFn detect,
                       uint32_t role, f_appd* record) {
  record->role = role;
  record->create = create;
  record->conn_name = conn_name;
  record->detect = detect;
  record->next = g_head;
  g_head = record;
  return 1;
}

CConnection* OzkCreateAppDest(uint32_t role) {
  const f_appd* r = FindRecord(role);
  return r && r->create ? r->create() : nullptr;
}

int OzkDetectDevice(uint32_t role) {
  const f_appd* r = FindRecord(role);
  return r && r->detect ? r->detect(role) : 0;
}

std::wstring OzkGetConnName(uint32_t role, CtVar* dest) {
  const f_appd* r = FindRecord(role);
  return r && r->conn_name ? r->conn_name(role, dest) : std::wstring();
}

void OzkCloseAppDestFactory() {
  g_head = nullptr;
}

CConnection* CConnections::Find(const std::wstring& name) const {
  auto it = map_.find(name);
  return it == map_.end() ? nullptr : it->second;
}

void CConnections::Insert(const std::wstring& name, CConnection* conn) {
  map_[name] = conn;
}

void CConnections::Remove(const std::wstring& name) {
  map_.erase(name);
}
