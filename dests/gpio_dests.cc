#include "dests/gpio_dests.h"

#include <algorithm>
#include <string>

#include "dests/app_dests.h"
#include "dests/conn_factory.h"
#include "dests/conn_names.h"
#include "vartree/tvar.h"

OZK_IMPLEMENT_RUNTIME_CLASS(CGPIDest, CConnection)
OZK_IMPLEMENT_RUNTIME_CLASS(CGPODest, CConnection)

namespace {

OzkAppDestRegistration g_inputs(OZK_ROLE_GPI, CGPIDest::CreateObject, GpioConnName,
                                GpioDetectDevice);
OzkAppDestRegistration g_outputs(OZK_ROLE_GPO, CGPODest::CreateObject, GpioConnName,
                                 GpioDetectDevice);

// Writes one bit as text ("1" or "0", or "" for none), zero-terminated when room allows.
int PutBitText(std::span<uint8_t> buffer, const char* text) {
  const size_t n = std::char_traits<char>::length(text);
  if (buffer.size() < n) return 0;
  std::copy_n(text, n, buffer.begin());
  if (buffer.size() > n) buffer[n] = 0;
  return static_cast<int>(n);
}

}  // namespace

std::wstring GpioConnName(uint32_t role, CtVar* dest) {
  return DestConnName(role, dest);
}
int GpioDetectDevice(uint32_t) {
  return 0;
}

CConnection* CGPIDest::CreateObject() {
  return new CGPIDest;
}

int CGPIDest::GetDest(CtVar*, DEST_DEF_REC* rec) {
  if (!rec) return 0;
  rec->role = OZK_ROLE_GPI;
  return 1;
}

int CGPIDest::Open(CtVar*, int, DEST_DEF_REC*, CAppDests* dests) {
  dests_ = dests;
  return 1;
}

int CGPIDest::SendMessageW(CtVar*, std::span<const uint8_t>, uint32_t, CtVar*) {
  return dests_ ? 1 : 0;
}

int CGPIDest::RecvMessage(CtVar*, std::span<uint8_t> buffer, uint32_t, uint32_t index, CtVar*) {
  if (!dests_ || buffer.empty()) return 0;
  CtVar* root = dests_->Root();
  CtVar* bit = root->GetChild("AppVar.Global.GPI." + std::to_string(index));
  if (bit == root) bit = nullptr;
  if (bit) bit->ReadRemote();
  // The bits are themselves attached to this destination: their value is read as held.
  return PutBitText(buffer, bit && bit->StoredNumber() != 0 ? "1" : "0");
}

std::wstring CGPIDest::GetDestDescription(CtVar* dest, uint32_t flags) {
  return DestBasicDescription(OZK_ROLE_GPI, dest, flags);
}

CConnection* CGPODest::CreateObject() {
  return new CGPODest;
}

int CGPODest::GetDest(CtVar*, DEST_DEF_REC* rec) {
  if (!rec) return 0;
  rec->role = OZK_ROLE_GPO;
  return 1;
}

int CGPODest::Open(CtVar*, int, DEST_DEF_REC*, CAppDests* dests) {
  dests_ = dests;
  return 1;
}

int CGPODest::SendMessageW(CtVar*, std::span<const uint8_t>, uint32_t, CtVar*) {
  return 0;
}

int CGPODest::RecvMessage(CtVar*, std::span<uint8_t> buffer, uint32_t, uint32_t index, CtVar*) {
  if (!dests_ || buffer.empty()) return 0;
  if (index >= kOutputs) return PutBitText(buffer, "");
  return PutBitText(buffer, states_[index] ? "1" : "0");
}

std::wstring CGPODest::GetDestDescription(CtVar* dest, uint32_t flags) {
  return DestBasicDescription(OZK_ROLE_GPO, dest, flags);
}
