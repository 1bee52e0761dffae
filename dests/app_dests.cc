#include "dests/app_dests.h"

#include <algorithm>

#include "dests/app_dests_link.h"
#include "dests/conn_names.h"
#include "dests/connection.h"
#include "platform/text.h"
#include "vartree/tvar.h"

CAppDests::CAppDests(CtVar* root, XAppDestsLink* link, int default_port, int open)
    : root_(root), link_(link) {
  default_port_name_ = "COM" + std::to_string(default_port ? default_port : 3);
  dests_ = root_->GetChild("Destinations", 0, 1);
  if (open) Open();
}

CAppDests::~CAppDests() {
  Close(1, 1);
}

// ---------------------------------------------------------------------------------------------
// Slots and lookup

int CAppDests::SlotIndex(const CtVar* dest) {
  if (!dest) return -1;
  const std::string_view name = dest->NameView();
  if (name.empty() || name.size() > 2) return -1;
  int index = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    index = index * 10 + (c - '0');
  }
  return index >= 1 && index <= kMaxDests ? index : -1;
}

CtVar* CAppDests::NodeAt(int index) {
  return GetDestID(std::to_string(index).c_str(), 0);
}

CtVar* CAppDests::GetDestID(const char* name, int add_ref) {
  if (!name || !*name || std::strpbrk(name, ".[]")) return nullptr;
  CtVarLock lock;
  CtVar* dest = dests_->GetChild(name);
  if (!dest || dest == dests_ || dest->GetParent() != dests_) return nullptr;
  if (add_ref) dest->AddRef();
  return dest;
}

CtVar* CAppDests::GetNextDest(CtVar* after, int add_ref) {
  CtVarLock lock;
  CtVar* next = dests_->GetNextChild(after);
  while (next && SlotIndex(next) < 0) next = dests_->GetNextChild(next);
  if (next && add_ref) next->AddRef();
  return next;
}

int CAppDests::GetNumDests() {
  int count = 0;
  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) ++count;
  return count;
}

int CAppDests::GetFreeIndex() {
  CtVarLock lock;
  for (int i = 1; i <= kMaxDests; ++i) {
    if (slots_[i].rec.role != 0) continue;
    CtVar* node = NodeAt(i);
    if (!node) return i;
    FillSlot(node, i);
    if (slots_[i].rec.role == 0) return i;
  }
  return kMaxDests + 1;
}

void CAppDests::FillSlot(CtVar* dest, int index) {
  DEST_DEF_REC rec{};
  GetConn(dest, &rec);
  // A role without a connection class still occupies its slot.
  if (rec.role == 0) rec.role = DestKeyU32(dest, "Role");
  slots_[index].rec = rec;
}

DEST_DEF_REC* CAppDests::GetSlotRecord(int index) {
  return index >= 1 && index <= kMaxDests ? &slots_[index].rec : nullptr;
}

CConnection* CAppDests::GetConn(CtVar* dest, DEST_DEF_REC* rec) {
  const int index = SlotIndex(dest);
  if (index < 0) return nullptr;
  CtVarLock lock;
  Slot& slot = slots_[index];
  if (!rec && slot.conn) return slot.conn;

  const uint32_t role = DestKeyU32(dest, "Role");
  const std::wstring name = OzkGetConnName(role, dest);
  CConnection* conn = name.empty() ? nullptr : FindConnInRecycle(name);
  if (!conn && !name.empty()) {
    conn = conns_.Find(name);
    if (conn && conn != slot.conn) conn->AddRef();
  }
  if (!conn) {
    conn = OzkCreateAppDest(role);
    if (!conn) return nullptr;
    conn->SetRole(role);
    conn->SetName(name);
    if (!name.empty()) conns_.Insert(name, conn);
  }

  DEST_DEF_REC filled{};
  conn->GetDest(dest, &filled);
  if (slot.conn != conn) {
    if (slot.conn) ReleaseConn(slot.conn);
    slot.conn = conn;
    conn->Open(dest, index, &filled, this);
  }
  if (filled.role == 0) filled.role = role;
  slot.rec = filled;
  if (rec) *rec = filled;
  return conn;
}

int CAppDests::GetDest(CtVar* dest, DEST_DEF_REC* rec) {
  DEST_DEF_REC filled{};
  CConnection* conn = GetConn(dest, &filled);
  if (rec) *rec = filled;
  return conn ? 1 : 0;
}

uint32_t CAppDests::GetDestRole(const char* name) {
  CtVar* dest = GetDestID(name);
  return dest ? DestKeyU32(dest, "Role") : 0;
}

void CAppDests::ReleaseConn(CConnection* conn) {
  const std::wstring name = conn->GetName();
  const bool listed = conns_.Find(name) == conn;
  if (conn->Release() == 0 && listed) conns_.Remove(name);
}

CtVar* CAppDests::GetSysDest(int id, int add_ref) {
  if (id < 0 || id >= kNumSysDests) return nullptr;
  CtVarLock lock;
  CtVar* dest = sys_[id];
  if (dest && add_ref) dest->AddRef();
  return dest;
}

int CAppDests::UpdateSysDest(int id, CtVar* dest) {
  if (id < 0 || id >= kNumSysDests) return 0;
  CtVarLock lock;
  if (sys_[id] == dest) return 0;
  ReleaseSysDest(id);
  if (dest) dest->AddRef();
  sys_[id] = dest;
  return 1;
}

void CAppDests::ReleaseSysDest(int id) {
  // The table's reference only; the node stays in the tree.
  if (sys_[id]) sys_[id]->Release(1, 0, 0);
  sys_[id] = nullptr;
}

int CAppDests::IsSysDest(int index) {
  CtVarLock lock;
  for (int id : {0, 1, 2, 3, 7, 8}) {
    if (sys_[id] && SlotIndex(sys_[id]) == index) return 1;
  }
  return 0;
}

int CAppDests::IsSysDest(CtVar* dest) {
  if (!dest) return 0;
  const uint32_t role = DestKeyU32(dest, "Role");
  if (role == OZK_ROLE_COM_PORT || role == OZK_ROLE_NIDAQ) return 1;
  return IsSysDest(SlotIndex(dest));
}

std::wstring CAppDests::GetDestDescription(CtVar* dest, uint32_t flags) {
  CConnection* conn = GetConn(dest, nullptr);
  if (!conn) return std::wstring();
  std::wstring text = conn->GetDestDescription(dest, flags);
  if (!(flags & kDescWithAttached)) return text;
  text += L" Attach:";
  CtVar* it = nullptr;
  std::string name;
  for (int shown = 0; shown < 3 && GetAttachedVarName(dest, &name, it); ++shown) {
    text += L"  " + port::Utf8ToWide(name);
    CtVar* var = root_->GetChild("AppVar." + name);
    uint32_t reg = 0;
    if (var && var != root_ && var->IsAttachedToDest(nullptr, &reg) && reg != 0) {
      wchar_t hex[16];
      std::swprintf(hex, 16, L" 0x%x", reg);
      text += hex;
    }
  }
  return text;
}

// Asking must not open the link: a destination nobody has used yet is simply not connected.
int CAppDests::IsConnected(CtVar* dest) {
  const int index = SlotIndex(dest);
  CConnection* conn = index > 0 ? slots_[index].conn : nullptr;
  return conn ? conn->IsConnected(dest) : 0;
}

// ---------------------------------------------------------------------------------------------
// Removal and recycling

int CAppDests::DisConnect(int index) {
  if (index < 1 || index > kMaxDests) return 0;
  CtVarLock lock;
  SafeCloseComPort(index);
  Slot& slot = slots_[index];
  if (slot.conn) ReleaseConn(slot.conn);
  slot.conn = nullptr;
  slot.rec = DEST_DEF_REC{};
  return 1;
}

int CAppDests::DisConnectAllRef(int index) {
  if (index < 1 || index > kMaxDests) return 0;
  CtVarLock lock;
  CConnection* conn = slots_[index].conn;
  if (!conn) return DisConnect(index);
  for (int i = 1; i <= kMaxDests; ++i) {
    if (slots_[i].conn == conn) DisConnect(i);
  }
  return 1;
}

int CAppDests::MoveConnToRecycle(int index) {
  if (index < 1 || index > kMaxDests) return 0;
  CtVarLock lock;
  SafeCloseComPort(index);
  Slot& slot = slots_[index];
  if (slot.conn) recycle_.push_back(slot.conn);
  slot.conn = nullptr;
  slot.rec = DEST_DEF_REC{};
  return 1;
}

CConnection* CAppDests::FindConnInRecycle(const std::wstring& name) {
  auto it = std::find_if(recycle_.begin(), recycle_.end(),
                         [&](CConnection* c) { return c->GetName() == name; });
  if (it == recycle_.end()) return nullptr;
  CConnection* conn = *it;
  recycle_.erase(it);
  return conn;
}

void CAppDests::CloseRecycles() {
  CtVarLock lock;
  std::vector<CConnection*> left;
  left.swap(recycle_);
  for (CConnection* conn : left) ReleaseConn(conn);
}

int CAppDests::DeleteDest(CtVar* dest, uint32_t remote, int disconnect) {
  const int index = SlotIndex(dest);
  if (index < 0 || dest->GetParent() != dests_) return 0;
  TakeHandler(dest);  // stopped before the tree lock is taken: its thread may wait for it
  CtVarLock lock;
  if (remote && link_) link_->DeleteAppDest(std::string(dest->NameView()).c_str(), remote);
  for (int id = 0; id < kNumSysDests; ++id) {
    if (sys_[id] == dest) ReleaseSysDest(id);
  }
  if (disconnect) {
    DisConnect(index);
  } else {
    MoveConnToRecycle(index);
  }
  if (remote) {
    // Names first: releasing a variable may detach it, which removes its record under
    // "AttachVar" while the walk would still stand on it.
    std::vector<std::string> names;
    CtVar* it = nullptr;
    for (std::string name; GetAttachedVarName(dest, &name, it);) names.push_back(name);
    for (const std::string& name : names) {
      CtVar* var = root_->GetChild("AppVar." + name);
      if (var && var != root_) var->Release(1, 0, 1);
    }
  }
  dest->Release(1, 0, 1);
  return 1;
}

void CAppDests::Close(int all, int disconnect) {
  std::vector<CtVar*> doomed;
  {
    CtVarLock lock;
    for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
      if (all || std::find(sys_.begin(), sys_.end(), d) == sys_.end()) doomed.push_back(d);
    }
  }
  for (CtVar* d : doomed) DeleteDest(d, 0, disconnect);
  CtVarLock lock;
  for (CtVar* var : held_vars_) var->Release(1, 0, 0);
  held_vars_.clear();
  if (all && disconnect) CloseRecycles();
}

int CAppDests::ResetSolution() {
  if (link_ && link_->QueryKeepDests() == 1) return 1;
  Close(0, 0);
  dests_->ResyncWithBase(0);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Open

void CAppDests::ClassifyOpened(CtVar* dest, int index) {
  const DEST_DEF_REC& rec = slots_[index].rec;
  const uint32_t role = DestKeyU32(dest, "Role");
  if (role == OZK_ROLE_SOCK_SERVER) {
    switch (DestKeyU32(dest, "PortNum")) {
      case 5020:
        UpdateSysDest(SYS_DEST_SOCK_5020, dest);
        break;
      case 5021:
        UpdateSysDest(SYS_DEST_SOCK_5021, dest);
        break;
      case 5022:
        UpdateSysDest(SYS_DEST_RESULT_PORT, dest);
        break;
      case 5023:
        UpdateSysDest(SYS_DEST_SOCK_5023, dest);
        break;
      case 5085:
        UpdateSysDest(SYS_DEST_SOCK_5085, dest);
        break;
      case 5024:
        UpdateSysDest(SYS_DEST_SOCK_5024, dest);
        break;
      default:
        break;
    }
  } else if (role == OZK_ROLE_COM_PORT) {
    const std::string name = rec.role == OZK_ROLE_COM_PORT
                                 ? FixedText(GetRecBody<DEST_COM_BODY>(rec).port_name)
                                 : DestKeyText(dest, "PortName");
    if (!sys_[SYS_DEST_COM] &&
        (port::EqualsNoCase(name, default_port_name_) || port::EqualsNoCase(name, "COM3"))) {
      UpdateSysDest(SYS_DEST_COM, dest);
      default_port_name_ = name;
    } else if (sys_[SYS_DEST_COM] != dest) {
      UpdateSysDest(SYS_DEST_OTHER_COM, dest);
    }
  } else if (role == OZK_ROLE_GPI) {
    UpdateSysDest(SYS_DEST_GPI, dest);
  } else if (role == OZK_ROLE_GPO) {
    UpdateSysDest(SYS_DEST_GPO, dest);
  }
}

int CAppDests::Open() {
  CtVarLock lock;
  dests_->ResyncWithBase(0);
  dests_->SetRemoteConnectState(0);
  CleanAttachVars();

  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
    const int index = SlotIndex(d);
    FillSlot(d, index);
    ClassifyOpened(d, index);
    if (d != sys_[SYS_DEST_COM]) SendMessageW(d, std::span<const uint8_t>(), 0, 0, nullptr);
  }

  if (CtVar* com = sys_[SYS_DEST_COM]) {
    (*com)["Change"] = static_cast<double>(DestKeyU32(com, "Change") | 1);
    SendMessageW(com, std::span<const uint8_t>(), 0, 0, nullptr);
  } else {
    CtVar* added = AddDest(default_port_name_.c_str(), 38400, 0, 0, 1);
    if (added) {
      UpdateSysDest(SYS_DEST_COM, added);
      added->Release(1, 0, 0);  // the table holds it now
    }
  }

  for (int id : {1, 2, 3, 7, 8, 9}) {
    if (sys_[id]) continue;
    if (CtVar* added = AddDest(OZK_ROLE_SOCK_SERVER, kUnsetPort, nullptr, 1, 0)) {
      UpdateSysDest(id, added);
      added->Release(1, 0, 0);
    }
  }
  for (auto [id, role] : {std::pair{SYS_DEST_GPI, OZK_ROLE_GPI}, {SYS_DEST_GPO, OZK_ROLE_GPO}}) {
    if (sys_[id]) continue;
    if (CtVar* added = AddGPIODest(role, 1)) {
      UpdateSysDest(id, added);
      added->Release(1, 0, 0);
    }
  }

  AddDetectedDevices();

  if (CtVar* tcp = sys_[SYS_DEST_SOCK_5024]) AttachHeldVar("AppVar.TcpP5024", tcp);

  if (CtVar* app_var = root_->GetChild("AppVar"); app_var && app_var != root_) {
    app_var->ReAttachVar(1);
  }
  SetGPIVariables(1);

  CloseRecycles();
  dests_->SetRemoteConnectState(1);
  return 1;
}
