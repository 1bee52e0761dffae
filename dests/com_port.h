// CComPort: the connection of a plain serial port destination (role 2). Sends go out through
// the manager's serial services, which open and configure the port on first use; receives read
// the port one byte at a time (the line reader of CConnection builds lines from them) and keep
// the bytes in a small ring that a receive with index 1 reads back without touching the port.
//
// Setting bit 0 of the destination's "Change" value makes the next operation re-open the port
// with the node's current settings.
#pragma once

#include "dests/connection.h"

namespace port {
class SerialPort;
}

class CComPort : public CConnection {
  OZK_DECLARE_RUNTIME_CLASS(CComPort)

 public:
  static constexpr size_t kRingSize = 1024;

  int Open(CtVar* dest, int index, DEST_DEF_REC* rec, CAppDests* dests) override;
  int GetDest(CtVar* dest, DEST_DEF_REC* rec) override;
  std::wstring GetDestDescription(CtVar* dest, uint32_t flags) override;
  int SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t index, CtVar* var) override;
  int RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                  CtVar* var) override;

  static CConnection* CreateObject();
  static std::wstring GetConnName(uint32_t role, CtVar* dest);
  static int DetectDevice(uint32_t role);

 private:
  // Applies a pending "Change" and returns the slot's open port, or null.
  port::SerialPort* PreparePort(CtVar* dest);

  CAppDests* dests_ = nullptr;
  int index_ = 0;
  uint8_t ring_[kRingSize] = {};
  uint32_t ring_write_ = 0;
  uint32_t ring_read_ = 0;
  bool settings_changed_ = false;
};
