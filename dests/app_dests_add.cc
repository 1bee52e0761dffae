#include "dests/app_dests.h"

#include <cstring>
#include <functional>
#include <memory>

#include "dests/app_dests_link.h"
#include "dests/connection.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

bool SameText(const std::string& a, const char* b) {
  return port::EqualsNoCase(a, b ? b : "");
}

void SetKey(CtVar* dest, const char* key, double value) {
  (*dest)[key] = value;
}
void SetKey(CtVar* dest, const char* key, const char* text) {
  (*dest)[key] = text ? text : "";
}

}  // namespace

// One Add operation: the role, what counts as an equal destination, what a match does, the keys
// to write and whether the new destination is opened at once.
struct CAppDests::AddRule {
  uint32_t role;
  std::function<bool(CtVar*)> equal;
  OnMatch on_match;
  std::function<void(CtVar*)> write_keys;
  int add_ref;
  bool opens;
};

// ---------------------------------------------------------------------------------------------
// Adding

CtVar* CAppDests::Add(const AddRule& rule) {
  CtVarLock lock;
  for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
    if (!rule.equal || !rule.equal(d)) continue;
    switch (rule.on_match) {
      case OnMatch::kNull:
        return nullptr;
      case OnMatch::kExisting:
        if (rule.add_ref) d->AddRef();
        return d;
      case OnMatch::kExistingRefOnce:
        if (rule.add_ref && d->GetRefCount() == 0) d->AddRef();
        if (rule.opens) OpenDest(d);
        return d;
      case OnMatch::kRewrite: {
        const int index = SlotIndex(d);
        SafeCloseComPort(index);
        rule.write_keys(d);
        FillSlot(d, index);
        if (rule.add_ref) d->AddRef();
        return d;
      }
    }
  }
  const int index = GetFreeIndex();
  if (index > kMaxDests) return nullptr;
  CtVar* dest = dests_->GetChild(std::to_string(index), 0, 1);
  if (!dest) return nullptr;
  if (rule.add_ref) dest->AddRef();
  (*dest)["Role"] = static_cast<double>(rule.role);
  rule.write_keys(dest);
  FillSlot(dest, index);
  if (rule.opens) OpenDest(dest);
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

CtVar* CAppDests::AddMelsecDest(const DEST_MELSEC_REC* rec, int add_ref) {
  if (!rec) return nullptr;
  const uint32_t role =
      rec->role == OZK_ROLE_MELSEC_SERIAL ? OZK_ROLE_MELSEC_SERIAL : OZK_ROLE_MELSEC_ETHERNET;
  const std::string host = FixedText(rec->host);
  return Add({role,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == role && DestKeyU32(d, "PortNum") == rec->port &&
                       SameText(DestKeyText(d, "IpAddr"), host.c_str()) &&
                       DestKeyU32(d, "Station") == rec->station &&
                       DestKeyU32(d, "Net") == rec->net && DestKeyU32(d, "PC") == rec->pc &&
                       DestKeyU32(d, "RegAddr") == rec->reg_addr &&
                       DestKeyU32(d, "RegType") == rec->reg_type;
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "PortNum", rec->port);
                SetKey(d, "IpAddr", host.c_str());
                SetKey(d, "RegAddr", rec->reg_addr);
                SetKey(d, "RegType", rec->reg_type);
                SetKey(d, "Block", rec->block);
                SetKey(d, "Format", rec->format);
                SetKey(d, "Protocol", rec->protocol);
                SetKey(d, "ReqIO", rec->req_io);
                SetKey(d, "ReqStation", rec->req_station);
                SetKey(d, "Station", rec->station);
                SetKey(d, "Net", rec->net);
                SetKey(d, "PC", rec->pc);
              },
              add_ref, false});
}

CtVar* CAppDests::AddSNPDest(uint32_t reg_addr, uint32_t area, uint32_t baud, uint32_t parity,
                             uint32_t stop_bits, const char* cpu_id, const char* password,
                             int add_ref) {
  const char* cpu = cpu_id ? cpu_id : "";
  return Add({OZK_ROLE_SNP,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_SNP &&
                       DestKeyU32(d, "RegAddr") == reg_addr && DestKeyU32(d, "Area") == area &&
                       SameText(DestKeyText(d, "CPUID"), cpu);
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "RegAddr", reg_addr);
                SetKey(d, "Area", area);
                SetKey(d, "CPUID", cpu);
                SetKey(d, "Password", password ? password : "");
                SetKey(d, "BaudRate", baud);
                SetKey(d, "Parity", parity);
                SetKey(d, "StopBits", stop_bits);
              },
              add_ref, false});
}

CtVar* CAppDests::AddSRTPDest(uint32_t reg_addr, uint32_t area, const char* host, int add_ref) {
  const char* address = host ? host : "";
  return Add({OZK_ROLE_SRTP,
              [&](CtVar* d) {
                return DestKeyU32(d, "Role") == OZK_ROLE_SRTP &&
                       DestKeyU32(d, "RegAddr") == reg_addr && DestKeyU32(d, "Area") == area &&
                       SameText(DestKeyText(d, "IpAddr"), address);
              },
              OnMatch::kExisting,
              [&](CtVar* d) {
                SetKey(d, "RegAddr", reg_addr);
                SetKey(d, "Area", area);
                SetKey(d, "IpAddr", address);
              },
              add_ref, false});
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

int CAppDests::MergeDest(CtVar& other_root, const char* name, std::string* out_name) {
  if (!name || std::strpbrk(name, ".[]")) return 0;
  CtVar* others = other_root.GetChild("Destinations");
  if (others == &other_root) return 0;
  CtVar* other = others ? others->GetNextChild(nullptr) : nullptr;
  while (other && other->NameView() != name) other = others->GetNextChild(other);
  if (!other) return 0;
  const uint32_t role = DestKeyU32(other, "Role");
  std::unique_ptr<CConnection, void (*)(CConnection*)> probe(OzkCreateAppDest(role),
                                                             [](CConnection* c) {
                                                               if (c) c->Release();
                                                             });
  CtVarLock lock;
  if (probe) {
    DEST_DEF_REC theirs{};
    probe->GetDest(other, &theirs);
    for (CtVar* d = GetNextDest(nullptr); d; d = GetNextDest(d)) {
      DEST_DEF_REC ours{};
      if (GetDest(d, &ours) && std::memcmp(&ours, &theirs, sizeof(ours)) == 0) {
        if (out_name) *out_name = std::string(d->NameView());
        return 1;
      }
    }
  }
  const int index = GetFreeIndex();
  if (index > kMaxDests) return 0;
  CtVar* copy = dests_->GetChild(std::to_string(index), 0, 1);
  if (!copy) return 0;
  *copy = *other;
  FillSlot(copy, index);
  if (out_name) *out_name = std::string(copy->NameView());
  return 1;
}

int CAppDests::PlcSetIPAddress(uint32_t address, uint32_t net_mask, uint32_t, const char* node_name,
                               const char* dest_name) {
  CtVarLock lock;
  CtVar* dest = GetDestID(dest_name);
  if (!dest || DestKeyU32(dest, "Role") != OZK_ROLE_ETHERNET_IP) return 1;
  SetKey(dest, "IpAddr", address);
  SetKey(dest, "NetMask", net_mask);
  SetKey(dest, "NodeName", node_name);
  FillSlot(dest, SlotIndex(dest));
  return 1;
}

int CAppDests::SetControlLogixDest(CtVar* dest, const char* host, uint32_t slot) {
  const int index = SlotIndex(dest);
  if (index < 0 || DestKeyU32(dest, "Role") != OZK_ROLE_CONTROL_LOGIX) return 0;
  CtVarLock lock;
  SetKey(dest, "IpAddr", host);
  SetKey(dest, "Slot", slot);
  FillSlot(dest, index);
  return 1;
}
