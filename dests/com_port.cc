#include "dests/com_port.h"

#include <chrono>
#include <mutex>

#include "dests/app_dests.h"
#include "dests/conn_factory.h"
#include "dests/conn_names.h"
#include "vartree/tvar.h"

OZK_IMPLEMENT_RUNTIME_CLASS(CComPort, CConnection)

namespace {
constexpr auto kSerialWait = std::chrono::milliseconds(2000);
OzkAppDestRegistration g_register(OZK_ROLE_COM_PORT, CComPort::CreateObject, CComPort::GetConnName,
                                  CComPort::DetectDevice);
}  // namespace

CConnection* CComPort::CreateObject() {
  return new CComPort;
}
std::wstring CComPort::GetConnName(uint32_t role, CtVar* dest) {
  return DestConnName(role, dest);
}
int CComPort::DetectDevice(uint32_t) {
  return 0;
}

int CComPort::Open(CtVar*, int index, DEST_DEF_REC*, CAppDests* dests) {
  dests_ = dests;
  index_ = index;
  return 1;
}

int CComPort::GetDest(CtVar* dest, DEST_DEF_REC* rec) {
  if (!rec) return 0;
  rec->role = OZK_ROLE_COM_PORT;
  DEST_COM_BODY body{};
  SetFixedText(body.port_name, DestKeyText(dest, "PortName"));
  body.baud_rate = DestKeyU32(dest, "BaudRate");
  body.parity = DestKeyU32(dest, "Parity");
  body.stop_bits = DestKeyU32(dest, "StopBits");
  body.byte_size = DestKeyU32(dest, "ByteSize");
  body.flow_ctl = DestKeyU32(dest, "FlowCtl");
  SetRecBody(rec, body);
  return 1;
}

std::wstring CComPort::GetDestDescription(CtVar* dest, uint32_t flags) {
  return DestBasicDescription(OZK_ROLE_COM_PORT, dest, flags);
}

port::SerialPort* CComPort::PreparePort(CtVar* dest) {
  const uint32_t change = DestKeyU32(dest, "Change");
  if (change & 1) {
    dests_->SafeCloseComPort(index_);
    (*dest)["Change"] = static_cast<double>(change & ~1u);
    settings_changed_ = true;
  }
  DEST_DEF_REC* rec = dests_->GetSlotRecord(index_);
  if (!rec) return nullptr;
  *rec = DEST_DEF_REC{};
  GetDest(dest, rec);
  return dests_->InitCOMPort(index_, *rec);
}

int CComPort::SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t, CtVar*) {
  if (!dests_) return 0;
  port::SerialPort* serial = PreparePort(dest);
  if (!serial) return 0;
  int ok = 0;
  {
    std::unique_lock<std::timed_mutex> guard(dests_->SerialMutex(0), kSerialWait);
    if (guard) ok = dests_->WriteComPort(serial, data, nullptr);
  }
  dests_->ClosePortCheck(index_);
  return ok;
}

int CComPort::RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                          CtVar*) {
  if (buffer.empty()) return 0;
  if (index == 1) {
    if (ring_read_ == ring_write_) return 0;
    buffer[0] = ring_[ring_read_];
    ring_read_ = (ring_read_ + 1) % kRingSize;
    return 1;
  }
  if (length == kRecvOneValue || !dests_) return 0;
  port::SerialPort* serial = PreparePort(dest);
  if (!serial) return 0;
  uint32_t got = 0;
  bool failed = false;
  {
    std::unique_lock<std::timed_mutex> guard(dests_->SerialMutex(1), kSerialWait);
    if (guard) failed = !dests_->ReadComPort(serial, buffer.first(1), &got);
  }
  // A device that went away is closed, so a later call opens it again once it is back.
  if (failed) dests_->SafeCloseComPort(index_);
  if (got == 1 && (ring_write_ + 1) % kRingSize != ring_read_) {
    ring_[ring_write_] = buffer[0];
    ring_write_ = (ring_write_ + 1) % kRingSize;
  }
  dests_->ClosePortCheck(index_);
  return static_cast<int>(got);
}
