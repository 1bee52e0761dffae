#include "dests/conn_names.h"

#include <string>

#include "dests/dest_rec.h"
#include "platform/text.h"

namespace {
std::wstring Wide(const std::string& s) {
  return port::Utf8ToWide(s);
}
std::wstring Port(CtVar* dest) {
  return std::to_wstring(static_cast<int32_t>(DestKeyU32(dest, "PortNum")));
}
std::wstring Host(CtVar* dest) {
  return Wide(DestKeyText(dest, "IpAddr"));
}
bool Udp(CtVar* dest) {
  return DestKeyNumber(dest, "UDP") != 0;
}
}  // namespace

std::wstring DestConnName(uint32_t role, CtVar* dest) {
  switch (role) {
    case OZK_ROLE_SOCK_SERVER:
      return std::wstring(L"Sock") + (Udp(dest) ? L"UDPServer" : L"Server") + L":" + Port(dest);
    case OZK_ROLE_SOCK_CLIENT:
      return std::wstring(L"Sock") + (Udp(dest) ? L"UDPClient" : L"Client") + Host(dest) + L":" +
             Port(dest);
    case OZK_ROLE_COM_PORT:
      return L"COMPort" + Wide(DestKeyText(dest, "PortName"));
    case OZK_ROLE_MODBUS_TCP:
      return L"ModBus@" + Host(dest) + L":" + Port(dest);
    case OZK_ROLE_MODBUS_SERIAL:
      return L"ModBusCOM";
    case OZK_ROLE_MELSEC_ETHERNET:
      return L"MELSEC@" + Host(dest) + L":" + Port(dest);
    case OZK_ROLE_MELSEC_SERIAL:
      return L"MELSECCOM";
    case OZK_ROLE_ETHERNET_IP:
      return L"EtherNetIP";
    case OZK_ROLE_GPI:
      return L"GPInput";
    case OZK_ROLE_GPO:
      return L"GPOutput";
    case OZK_ROLE_MODBUS_SLAVE_TCP:
      return L"MBSlave:" + Port(dest);
    case OZK_ROLE_MODBUS_SLAVE_SERIAL:
      return L"MBSlaveCOM";
    case OZK_ROLE_SNP:
      return L"SnpCOM";
    case OZK_ROLE_SRTP:
      return L"SrtpCOM@" + Host(dest);
    case OZK_ROLE_MOTOMAN:
      return L"MotoCOM";
    case OZK_ROLE_NIDAQ:
      return L"NIDAQ";
    case OZK_ROLE_PROFINET:
      return L"Profinet";
    default:
      return std::wstring();
  }
}

std::wstring DestBasicDescription(uint32_t role, CtVar* dest, uint32_t flags) {
  switch (role) {
    case OZK_ROLE_SOCK_SERVER: {
      const uint32_t port = DestKeyU32(dest, "PortNum");
      if ((flags & kDescHideResultPorts) && (port == 5021 || port == 5022)) return std::wstring();
      return L"Server on port " + Port(dest);
    }
    case OZK_ROLE_SOCK_CLIENT:
      return L"Client " + Host(dest) + L":" + Port(dest);
    case OZK_ROLE_COM_PORT:
      return L"Com port on " + Wide(DestKeyText(dest, "PortName")) + L" Baud:" +
             std::to_wstring(static_cast<int32_t>(DestKeyU32(dest, "BaudRate")));
    case OZK_ROLE_CONTROL_LOGIX:
      return L"Control Logix @" + Host(dest) + L" Slot " +
             std::to_wstring(static_cast<int32_t>(DestKeyU32(dest, "Slot")));
    case OZK_ROLE_GPI:
      return L"General Purpose Input";
    case OZK_ROLE_GPO:
      return L"General Purpose Output";
    default:
      return std::wstring();
  }
}
