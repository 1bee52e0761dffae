#include "dests/app_dests.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "dests/app_dests_link.h"
#include "dests/conn_names.h"
#include "dests/connection.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

constexpr auto kSerialWait = std::chrono::milliseconds(2000);

bool SameText(const std::string& a, const char* b) {
  return port::EqualsNoCase(a, b ? b : "");
}

void SetKey(CtVar* dest, const char* key, double value) {
  (*dest)[key] = value;
}
void SetKey(CtVar* dest, const char* key, const char* text) {
  (*dest)[key] = text ? text : "";
}

std::span<const uint8_t> Bytes(const std::string& text_with_zero) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text_with_zero.c_str()),
                                  text_with_zero.size() + 1);
}

}  // namespace

// One Add operation: the role, what counts as an equal destination, what a match does, the keys
// to write and whether the new destination is opened at once.
struct CAppDests::AddSpec {
  uint32_t role;
  std::function<bool(CtVar*)> equal;
  OnMatch on_match;
  std::function<void(CtVar*)> write_keys;
  int add_ref;
  bool opens;
};

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
    CtVar* var = root_->GetChild(("AppVar." + name).c_str());
    uint32_t reg = 0;
    if (var && var != root_ && var->IsAttachedToDest(nullptr, &reg) && reg != 0) {
      wchar_t hex[16];
      std::swprintf(hex, 16, L" 0x%x", reg);
      text += hex;
    }
  }
  return text;
}

int CAppDests::IsConnected(CtVar* dest) {
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->IsConnected(dest) : 0;
}

// ---------------------------------------------------------------------------------------------
// Adding

CtVar* CAppDests::Add(const AddSpec& spec) {
  CtVarLock lock;
  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
    if (!spec.equal || !spec.equal(d)) continue;
    switch (spec.on_match) {
      case OnMatch::kNull:
        return nullptr;
      case OnMatch::kExisting:
        if (spec.add_ref) d->AddRef();
        return d;
      case OnMatch::kExistingRefOnce:
        if (spec.add_ref && d->GetRefCount() == 0) d->AddRef();
        if (spec.opens) OpenDest(d);
        return d;
      case OnMatch::kRewrite: {
        const int index = SlotIndex(d);
        SafeCloseComPort(index);
        spec.write_keys(d);
        FillSlot(d, index);
        if (spec.add_ref) d->AddRef();
        return d;
      }
    }
  }
  const int index = GetFreeIndex();
  if (index > kMaxDests) return nullptr;
  CtVar* dest = dests_->GetChild(std::to_string(index).c_str(), 0, 1);
  if (!dest) return nullptr;
  if (spec.add_ref) dest->AddRef();
  (*dest)["Role"] = static_cast<double>(spec.role);
  spec.write_keys(dest);
  FillSlot(dest, index);
  if (spec.opens) OpenDest(dest);
  return dest;
}

void CAppDests::OpenDest(CtVar* dest) {
  if (link_) link_->SendMessageRemote(std::string(dest->NameView()).c_str(), {}, 0);
  SendMessageW(dest, std::span<const uint8_t>(), 0, 0, nullptr);
}

CtVar* CAppDests::AddDest(uint32_t role, uint32_t port, const char* host, int add_ref, int udp) {
  return Add({role,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == role && DestKeyU32(d, "PortNum") == port &&
                       port != kUnsetPort &&
                       (role == OZK_ROLE_SOCK_SERVER || SameText(DestKeyText(d, "IpAddr"), host));
              },
              OnMatch::kNull,
              [&](CtVar* d) {
                SetKey(d, "PortNum", port);
                SetKey(d, "UDP", udp);
                SetKey(d, "IpAddr", host);
              },
              add_ref, role == OZK_ROLE_SOCK_SERVER});
}

CtVar* CAppDests::AddDest(const char* port_name, uint32_t baud, uint32_t parity, uint32_t stop_bits,
                          int add_ref) {
  return AddDestEx(port_name, baud, parity, stop_bits, 8, OZK_HANDSHAKE_NONE, add_ref);
}

CtVar* CAppDests::AddDestEx(const char* port_name, uint32_t baud, uint32_t parity,
                            uint32_t stop_bits, uint32_t byte_size, OZK_HANDSHAKE_TYPE flow,
                            int add_ref) {
  serial_changed_ = true;
  return Add({OZK_ROLE_COM_PORT,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_COM_PORT &&
                       SameText(DestKeyText(d, "PortName"), port_name);
              },
              OnMatch::kRewrite,
              [&](CtVar* d) {
                SetKey(d, "Role", OZK_ROLE_COM_PORT);
                SetKey(d, "PortName", port_name);
                SetKey(d, "BaudRate", baud);
                SetKey(d, "Parity", parity);
                SetKey(d, "StopBits", stop_bits);
                SetKey(d, "ByteSize", byte_size);
                SetKey(d, "FlowCtl", flow);
                SetKey(d, "Change", 65535);
              },
              add_ref, false});
}

CtVar* CAppDests::AddModBusDest(const DEST_MODBUS_REC* rec, int role_type, int add_ref) {
  if (!rec) return nullptr;
  const uint32_t role = role_type ? OZK_ROLE_MODBUS_SLAVE_TCP : OZK_ROLE_MODBUS_TCP;
  const std::string host = FixedText(rec->host);
  return Add({role,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == role && DestKeyU32(d, "PortNum") == rec->port &&
                       DestKeyU32(d, "RegAddr") == rec->reg_addr &&
                       DestKeyU32(d, "RegType") == rec->data_type &&
                       DestKeyU32(d, "Func") == rec->reg_func &&
                       DestKeyU32(d, "Device") == rec->device &&
                       (role == OZK_ROLE_MODBUS_SLAVE_TCP ||
                        SameText(DestKeyText(d, "IpAddr"), host.c_str()));
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "PortNum", rec->port);
                SetKey(d, "IpAddr", host.c_str());
                SetKey(d, "RegAddr", rec->reg_addr);
                SetKey(d, "RegType", rec->data_type);
                SetKey(d, "Func", rec->reg_func);
                SetKey(d, "NumRegs", rec->num_regs);
                SetKey(d, "Device", rec->device);
              },
              add_ref, true});
}

CtVar* CAppDests::AddModBusSerialDest(uint32_t device, uint32_t reg_addr, uint32_t data_type,
                                      uint32_t reg_func, uint32_t num_regs, int role_type,
                                      int add_ref) {
  const uint32_t role = role_type ? OZK_ROLE_MODBUS_SLAVE_SERIAL : OZK_ROLE_MODBUS_SERIAL;
  return Add({role,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == role && DestKeyU32(d, "Device") == device &&
                       DestKeyU32(d, "RegAddr") == reg_addr &&
                       DestKeyU32(d, "RegType") == data_type && DestKeyU32(d, "Func") == reg_func;
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "RegAddr", reg_addr);
                SetKey(d, "RegType", data_type);
                SetKey(d, "Func", reg_func);
                SetKey(d, "NumRegs", num_regs);
                SetKey(d, "Device", device);
              },
              add_ref, true});
}

CtVar* CAppDests::AddEthernetIpDest(uint32_t reg_addr, uint32_t data_type, uint32_t num_regs,
                                    uint32_t address, uint32_t net_mask, const char* node_name,
                                    int add_ref) {
  return Add({OZK_ROLE_ETHERNET_IP,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_ETHERNET_IP &&
                       DestKeyU32(d, "RegAddr") == reg_addr &&
                       DestKeyU32(d, "RegType") == data_type;
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "RegAddr", reg_addr);
                SetKey(d, "RegType", data_type);
                SetKey(d, "NumRegs", num_regs);
                SetKey(d, "IpAddr", address);
                SetKey(d, "NetMask", net_mask);
                SetKey(d, "NodeName", node_name);
              },
              add_ref, false});
}

CtVar* CAppDests::AddProfinetDest(uint32_t reg_addr, uint32_t data_type, uint32_t num_regs,
                                  const char* index, const char* host, int add_ref) {
  return Add({OZK_ROLE_PROFINET,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_PROFINET &&
                       DestKeyU32(d, "RegAddr") == reg_addr &&
                       DestKeyU32(d, "RegType") == data_type;
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "RegAddr", reg_addr);
                SetKey(d, "RegType", data_type);
                SetKey(d, "NumRegs", num_regs);
                SetKey(d, "Index", index);
                SetKey(d, "IpAddr", host);
              },
              add_ref, false});
}

CtVar* CAppDests::AddControlLogixDest(const char* host, uint32_t slot, int add_ref) {
  return Add({OZK_ROLE_CONTROL_LOGIX, nullptr, OnMatch::kNull,
              [&](CtVar* d) {
                SetKey(d, "IpAddr", host);
                SetKey(d, "Slot", slot);
              },
              add_ref, false});
}

CtVar* CAppDests::AddMotoManDest(uint32_t baud, uint32_t parity, uint32_t stop_bits,
                                 uint32_t data_bits, int add_ref) {
  return Add({OZK_ROLE_MOTOMAN, nullptr, OnMatch::kNull,
              [&](CtVar* d) {
                SetKey(d, "BaudRate", baud);
                SetKey(d, "Parity", parity);
                SetKey(d, "StopBits", stop_bits);
                SetKey(d, "DataBits", data_bits);
              },
              add_ref, false});
}

CtVar* CAppDests::AddSlmpClientDest(uint32_t address, uint32_t port, uint32_t net, uint32_t node,
                                    int add_ref, uint32_t device_type) {
  return Add({OZK_ROLE_SLMP_CLIENT,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_SLMP_CLIENT &&
                       DestKeyU32(d, "IpAddr") == address && DestKeyU32(d, "PortNum") == port &&
                       DestKeyU32(d, "NetNum") == net && DestKeyU32(d, "NodeNum") == node;
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "IpAddr", address);
                SetKey(d, "PortNum", port);
                SetKey(d, "NetNum", net);
                SetKey(d, "NodeNum", node);
                SetKey(d, "DeviceType", device_type);
              },
              add_ref, true});
}

CtVar* CAppDests::AddSlmpServerDest(uint32_t address, uint32_t port, int add_ref,
                                    uint32_t device_type) {
  return Add({OZK_ROLE_SLMP_SERVER,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_SLMP_SERVER &&
                       DestKeyU32(d, "PortNum") == port;
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "IpAddr", address);
                SetKey(d, "PortNum", port);
                SetKey(d, "DeviceType", device_type);
              },
              add_ref, true});
}

CtVar* CAppDests::AddGPIODest(uint32_t role, int add_ref) {
  if (role != OZK_ROLE_GPI && role != OZK_ROLE_GPO) return nullptr;
  return Add({role, [&](CtVar* d) { return DestKeyU32(d, "Role") == role; }, OnMatch::kNull,
              [](CtVar*) {}, add_ref, false});
}

CtVar* CAppDests::AddDetectedDest(uint32_t role, int add_ref) {
  // The last destination of the role is the one reused.
  CtVar* last = nullptr;
  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
    if (DestKeyU32(d, "Role") == role) last = d;
  }
  return Add({role, [last](CtVar* d) { return d == last; }, OnMatch::kExistingRefOnce,
              [](CtVar*) {}, add_ref, true});
}

void CAppDests::AddDetectedDevices() {
  for (uint32_t role = OZK_ROLE_NIDAQ; role <= OZK_ROLE_SLMP_SERVER; ++role) {
    if (OzkDetectDevice(role)) AddDetectedDest(role, 1);
  }
}

// ---------------------------------------------------------------------------------------------
// Traffic

int CAppDests::SendMessageW(CtVar* dest, std::span<const uint8_t> data, int remote, uint32_t index,
                            CtVar* var) {
  if (!dest) return 0;
  if (link_ && remote) {
    return link_->SendMessageRemote(std::string(dest->NameView()).c_str(), data, index);
  }
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->SendMessageW(dest, data, index, var) : 0;
}

int CAppDests::SendMessageW(const char* name, std::span<const uint8_t> data, int remote,
                            uint32_t index, CtVar* var) {
  if (!name) return 0;
  if (link_ && remote) return link_->SendMessageRemote(name, data, index);
  CtVar* dest = GetDestID(name, 1);
  if (!dest) return 0;
  const int sent = SendMessageW(dest, data, 0, index, var);
  dest->Release(1, 0, 0);
  return sent;
}

int CAppDests::SendMessageW(CtVar* dest, const std::wstring& text, int ascii) {
  std::string bytes;
  if (ascii) {
    bytes = port::WideToUtf8(text);
    bytes.push_back('\0');
  } else {
    const std::u16string units = port::WideToUtf16(text);
    for (char16_t u : units) {
      bytes.push_back(static_cast<char>(u & 0xFF));
      bytes.push_back(static_cast<char>(u >> 8));
    }
    bytes.append(2, '\0');
  }
  return SendMessageW(
      dest, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
      0, 0, nullptr);
}

int CAppDests::RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, int remote,
                           uint32_t index, CtVar* var) {
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->RecvMessage(dest, buffer, length, index, var) : 0;
}

int CAppDests::RecvMessage(const char* name, std::span<uint8_t> buffer, uint32_t length, int remote,
                           uint32_t index, CtVar* var) {
  CtVar* dest = GetDestID(name, 1);
  if (!dest) return 0;
  const int got = RecvMessage(dest, buffer, length, remote, index, var);
  dest->Release(1, 0, 0);
  return got;
}

double CAppDests::ReadRegister(const char* name, uint32_t index, CtVar* var) {
  char text[80] = {};
  // The last byte stays zero, so the text is terminated whatever the connection wrote.
  RecvMessage(name, std::span<uint8_t>(reinterpret_cast<uint8_t*>(text), sizeof(text) - 1),
              kRecvOneValue, 1, index, var);
  return std::atof(text);
}

int CAppDests::WriteRegister(const char* name, uint32_t index, double value, CtVar* var) {
  char text[400];
  const int n = std::snprintf(text, sizeof(text), "%f", value);
  if (n < 0) return 0;
  return SendMessageW(name, Bytes(std::string(text, static_cast<size_t>(n))), 1, index, var);
}

int CAppDests::WriteRegister(const char* name, uint32_t index, const char* text, int length,
                             CtVar* var) {
  if (!text || length < 0) return 0;
  return SendMessageW(
      name,
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(length)),
      1, index, var);
}

int CAppDests::ReadRegisters(const char* name, uint32_t start, std::span<double> values,
                             CtVar* var) {
  CtVar* dest = GetDestID(name);
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->ReadRegisters(dest, start, values, var) : 0;
}

int CAppDests::WriteRegisters(const char* name, uint32_t start, std::span<const double> values,
                              CtVar* var) {
  CtVar* dest = GetDestID(name);
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->WriteRegisters(dest, start, values, var) : 0;
}

int CAppDests::LockSend(CtVar* dest, int lock) {
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->LockSend(lock) : 0;
}

std::string CAppDests::RecvQueuedMessage(const char* name, int maximum, char terminator) {
  CtVar* dest = GetDestID(name);
  CConnection* conn = GetConn(dest, nullptr);
  return conn ? conn->RecvQueuedMessage(dest, maximum, terminator) : std::string();
}

// ---------------------------------------------------------------------------------------------
// Attached variables

std::string CAppDests::EncodeAttachKey(const std::string& full_name) {
  const size_t dot = full_name.find('.');
  std::string key = dot == std::string::npos ? full_name : full_name.substr(dot + 1);
  for (char& c : key) {
    if (c == '_') {
      c = '#';
    } else if (c == '.') {
      c = '_';
    }
  }
  return key;
}

std::string CAppDests::DecodeAttachKey(const std::string& key) {
  std::string name = key;
  for (char& c : name) {
    if (c == '_') c = '.';
  }
  for (char& c : name) {
    if (c == '#') c = '_';
  }
  return name;
}

int CAppDests::AttachVar(const char* name, CtVar* var) {
  if (!var) return 0;
  CtVarLock lock;
  CtVar* dest = GetDestID(name);
  if (!dest) return 0;
  const std::string key = EncodeAttachKey(var->GetVarFullName(1));
  if (key.empty()) return 0;
  CtVar* attached = dest->GetChild("AttachVar", 0, 1);
  CtVar* record = attached->GetChild(key.c_str(), 0, 1);
  if (record && record != attached) *record = 0.0;
  if (CConnection* conn = GetConn(dest, nullptr)) conn->AttachVar(var);
  return 1;
}

int CAppDests::DetachVar(const char* name, CtVar* var, uint32_t flags) {
  if (!var) return 0;
  CtVarLock lock;
  CtVar* dest = GetDestID(name);
  CtVar* attached = dest ? dest->GetChild("AttachVar") : nullptr;
  if (!attached || attached == dest) return 0;
  const std::string key = EncodeAttachKey(var->GetVarFullName(1));
  CtVar* record = key.empty() ? nullptr : attached->GetChild(key.c_str());
  if (record && record != attached && record->GetParent() == attached) delete record;
  return 1;
}

uint32_t CAppDests::GetRegisterType(CtVar* var) {
  std::string name;
  if (!var || !var->IsAttachedToDest(&name)) return 0;
  CConnection* conn = GetConn(GetDestID(name.c_str()), nullptr);
  return conn ? conn->GetRegisterType(var) : 0;
}

void CAppDests::CleanAttachVars() {
  CtVarLock lock;
  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
    CtVar* attached = d->GetChild("AttachVar");
    if (attached && attached != d) attached->RemoveAllChildren();
  }
}

bool CAppDests::GetAttachedVarName(CtVar* dest, std::string* name, CtVar*& iterator) {
  CtVarLock lock;
  CtVar* attached = dest ? dest->GetChild("AttachVar") : nullptr;
  if (!attached || attached == dest) return false;
  iterator = attached->GetNextChild(iterator);
  if (!iterator) return false;
  if (name) *name = DecodeAttachKey(std::string(iterator->NameView()));
  return true;
}

int CAppDests::SetGPIVariables(int attach) {
  CtVarLock lock;
  const char* paths[2] = {"AppVar.Global.GPI", "AppVar.Global.GPO"};
  // Discrete outputs exist only on appliance types that have them; without an application
  // client to ask, only the inputs are attached.
  for (int i = 0; i < 1; ++i) {
    CtVar* dest = sys_[i == 0 ? SYS_DEST_GPI : SYS_DEST_GPO];
    if (!attach || !dest || gpio_vars_[i]) continue;
    CtVar* var = root_->Index(paths[i], 1);
    if (!var || var == root_) continue;
    var->AttachToDestination(std::string(dest->NameView()).c_str(), 0, 0);
    var->AddRef();
    var->SetOptions(TVAR_OPT_SYSTEM);
    gpio_vars_[i] = var;
  }
  return 1;
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
  CtVarLock lock;
  for (int id = 0; id < kNumSysDests; ++id) {
    if (sys_[id] == dest) ReleaseSysDest(id);
  }
  if (disconnect) {
    DisConnect(index);
  } else {
    MoveConnToRecycle(index);
  }
  if (remote) {
    CtVar* it = nullptr;
    std::string name;
    while (GetAttachedVarName(dest, &name, it)) {
      CtVar* var = root_->GetChild(("AppVar." + name).c_str());
      if (var && var != root_) var->Release(1, 0, 1);
    }
  }
  dest->Release(1, 0, 1);
  return 1;
}

void CAppDests::Close(int all, int disconnect) {
  CtVarLock lock;
  std::vector<CtVar*> doomed;
  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
    if (all || std::find(sys_.begin(), sys_.end(), d) == sys_.end()) doomed.push_back(d);
  }
  for (CtVar* d : doomed) {
    const int index = SlotIndex(d);
    // Whatever references remain are dropped with the destination itself.
    for (int id = 0; id < kNumSysDests; ++id) {
      if (sys_[id] == d) ReleaseSysDest(id);
    }
    if (disconnect) {
      DisConnect(index);
    } else {
      MoveConnToRecycle(index);
    }
    d->Release(d->GetRefCount() + 1, 0, 1);
  }
  for (CtVar*& var : gpio_vars_) {
    if (var) var->Release(1, 0, 0);
    var = nullptr;
  }
  if (all && disconnect) CloseRecycles();
}

int CAppDests::ResetSolution() {
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
        (SameText(name, default_port_name_.c_str()) || SameText(name, "COM3"))) {
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
    SetKey(com, "Change", static_cast<double>(DestKeyU32(com, "Change") | 1));
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

  if (CtVar* tcp = sys_[SYS_DEST_SOCK_5024]) {
    CtVar* var = root_->Index("AppVar.TcpP5024", 1);
    if (var && var != root_) {
      var->AttachToDestination(std::string(tcp->NameView()).c_str(), 0, 0);
      var->AddRef();
    }
  }

  if (CtVar* app_var = root_->GetChild("AppVar"); app_var && app_var != root_) {
    app_var->ReAttachVar(1);
  }
  SetGPIVariables(1);

  CloseRecycles();
  dests_->SetRemoteConnectState(1);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Serial services

bool CAppDests::AnyRole(std::initializer_list<uint32_t> roles) {
  for (int i = 1; i <= kMaxDests; ++i) {
    if (std::find(roles.begin(), roles.end(), slots_[i].rec.role) != roles.end()) return true;
  }
  return false;
}

std::unique_ptr<port::SerialPort> CAppDests::OpenComPort(const std::string& name) {
  std::string device = name;
  if (device.size() > 3 && port::EqualsNoCase(device.substr(0, 3), "COM") &&
      device.find(':') == std::string::npos) {
    device += ':';
  }
  auto serial = std::make_unique<port::SerialPort>();
  if (!serial->Open(port::SerialDevicePath(device))) return nullptr;
  return serial;
}

port::SerialPort* CAppDests::InitCOMPort(int index, const DEST_DEF_REC& rec) {
  if (index < 1 || index > kMaxDests) return nullptr;
  CtVarLock lock;
  // A serial protocol destination owns the line.
  if (AnyRole({OZK_ROLE_MODBUS_SERIAL, OZK_ROLE_MODBUS_SLAVE_SERIAL, OZK_ROLE_MELSEC_SERIAL,
               OZK_ROLE_SNP, OZK_ROLE_MOTOMAN})) {
    SafeCloseComPort(index);
    return nullptr;
  }
  const DEST_COM_BODY body = GetRecBody<DEST_COM_BODY>(rec);
  const std::string name = FixedText(body.port_name);
  Slot& slot = slots_[index];
  const bool fresh = !slot.serial;
  if (fresh) {
    for (int i = 1; i <= kMaxDests; ++i) {
      if (i != index && slots_[i].serial && slots_[i].rec.role == OZK_ROLE_COM_PORT &&
          SameText(FixedText(GetRecBody<DEST_COM_BODY>(slots_[i].rec).port_name), name.c_str())) {
        SafeCloseComPort(i);
      }
    }
    slot.serial = OpenComPort(name);
    if (!slot.serial) return nullptr;
  }

  port::SerialSettings want;
  want.baud_rate = body.baud_rate ? body.baud_rate : 9600;
  want.byte_size = body.byte_size ? body.byte_size : 8;
  want.parity = body.parity;
  want.stop_bits = body.stop_bits;
  want.flow = body.flow_ctl;
  port::SerialSettings have;
  if (!slot.serial->GetSettings(&have) || !(have == want)) {
    if (!slot.serial->SetSettings(want)) {
      SafeCloseComPort(index);
      return nullptr;
    }
  }
  if (fresh) slot.serial->SetTimeouts({11000 / want.baud_rate + 1, 10, 50, 500});
  return slot.serial.get();
}

void CAppDests::SafeCloseComPort(int index) {
  if (index < 1 || index > kMaxDests) return;
  std::unique_lock<std::timed_mutex> write(serial_mu_[0], kSerialWait);
  std::unique_lock<std::timed_mutex> read(serial_mu_[1], kSerialWait);
  slots_[index].serial.reset();
}

void CAppDests::ClosePortCheck(int index) {
  // A serial slave answers on the line whenever asked, so it always gets it back.
  if (AnyRole({OZK_ROLE_MODBUS_SLAVE_SERIAL})) SafeCloseComPort(index);
}

int CAppDests::ReadComPort(port::SerialPort* handle, std::span<uint8_t> buffer, uint32_t* read) {
  if (read) *read = 0;
  if (!handle) return 0;
  const int n = handle->Read(buffer);
  if (n < 0) return 0;
  if (read) *read = static_cast<uint32_t>(n);
  return 1;
}

int CAppDests::WriteComPort(port::SerialPort* handle, std::span<const uint8_t> data,
                            uint32_t* written) {
  if (written) *written = 0;
  if (!handle) return 0;
  const int n = handle->Write(data);
  if (n < 0) return 0;
  if (written) *written = static_cast<uint32_t>(n);
  return static_cast<size_t>(n) == data.size() ? 1 : 0;
}

int CAppDests::PurgeComPort(port::SerialPort* handle) {
  return handle && handle->Purge() ? 1 : 0;
}
