#include "dests/app_dests.h"

#include <algorithm>
#include <chrono>

#include "platform/text.h"
#include "vartree/tvar.h"

namespace {
constexpr auto kSerialWait = std::chrono::milliseconds(2000);
}  // namespace

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
          port::EqualsNoCase(FixedText(GetRecBody<DEST_COM_BODY>(slots_[i].rec).port_name), name)) {
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
