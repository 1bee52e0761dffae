// The appliance's discrete inputs (role 10) and outputs (role 11) as destinations: a register
// read by index answers "1" or "0". Input bits are the children "AppVar.Global.GPI.<index>",
// refreshed from the server on every read; output states are held here (48 of them) and are
// changed on the server side only, never by a send, which writes nothing.
#pragma once

#include <array>

#include "dests/connection.h"

class CGPIDest : public CConnection {
  OZK_DECLARE_RUNTIME_CLASS(CGPIDest)

 public:
  int GetDest(CtVar* dest, DEST_DEF_REC* rec) override;
  int Open(CtVar* dest, int index, DEST_DEF_REC* rec, CAppDests* dests) override;
  int SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t index, CtVar* var) override;
  int RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                  CtVar* var) override;
  std::wstring GetDestDescription(CtVar* dest, uint32_t flags) override;

  static CConnection* CreateObject();

 private:
  CAppDests* dests_ = nullptr;
};

class CGPODest : public CConnection {
  OZK_DECLARE_RUNTIME_CLASS(CGPODest)

 public:
  static constexpr uint32_t kOutputs = 48;

  int GetDest(CtVar* dest, DEST_DEF_REC* rec) override;
  int Open(CtVar* dest, int index, DEST_DEF_REC* rec, CAppDests* dests) override;
  int SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t index, CtVar* var) override;
  int RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                  CtVar* var) override;
  std::wstring GetDestDescription(CtVar* dest, uint32_t flags) override;

  static CConnection* CreateObject();

 private:
  CAppDests* dests_ = nullptr;
  std::array<uint32_t, kOutputs> states_{};
};

// Shared by both classes' registrations.
std::wstring GpioConnName(uint32_t role, CtVar* dest);
int GpioDetectDevice(uint32_t role);
