#include "dests/app_dests.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dests/app_dests_link.h"
#include "dests/connection.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& text_with_zero) {
  return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text_with_zero.c_str()),
                                  text_with_zero.size() + 1);
}

}  // namespace

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

void CAppDests::SetPendingText(std::string text) {
  std::lock_guard<std::mutex> guard(pending_mu_);
  pending_text_ = std::move(text);
  pending_mark_ = false;
}

void CAppDests::MarkPendingText() {
  std::lock_guard<std::mutex> guard(pending_mu_);
  pending_mark_ = !pending_text_.empty();
}

bool CAppDests::TakePendingText(std::string* text) {
  std::lock_guard<std::mutex> guard(pending_mu_);
  if (!pending_mark_) return false;
  pending_mark_ = false;
  *text = pending_text_;
  return true;
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
  CtVar* record = attached->GetChild(std::string_view(key), 0, 1);
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
  CtVar* record = key.empty() ? nullptr : attached->GetChild(std::string_view(key));
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

CtVar* CAppDests::AttachHeldVar(const char* path, CtVar* dest) {
  CtVar* var = root_->Index(path, 1);
  if (!var || var == root_) return nullptr;
  var->AttachToDestination(std::string(dest->NameView()).c_str(), 0, 0);
  if (std::find(held_vars_.begin(), held_vars_.end(), var) == held_vars_.end()) {
    var->AddRef();
    held_vars_.push_back(var);
  }
  return var;
}

// One child per line, named by its number from first; children that are no line go.
void CAppDests::RebuildLines(CtVar* var, uint32_t first, uint32_t count) {
  std::vector<CtVar*> stale;
  for (CtVar* c = var->GetFirstChild(); c; c = c->GetNextSibling()) stale.push_back(c);
  for (uint32_t i = 0; i < count; ++i) {
    const std::string name = std::to_string(first + i);
    CtVar* line = var->GetChild(name, 0, 1);
    stale.erase(std::remove(stale.begin(), stale.end(), line), stale.end());
  }
  for (CtVar* c : stale) c->Release(1, 0, 1);
}

int CAppDests::SetGPIVariables(int attach) {
  CtVarLock lock;
  if (!attach) return 1;
  DestGpioLines lines;
  const bool reported = client_ && client_->GetGpioLines(&lines);
  if (sys_[SYS_DEST_GPI]) {
    if (CtVar* gpi = AttachHeldVar("AppVar.Global.GPI", sys_[SYS_DEST_GPI])) {
      gpi->SetOptions(TVAR_OPT_SYSTEM);
      if (reported && lines.num_inputs) RebuildLines(gpi, lines.first_input, lines.num_inputs);
    }
  }
  // Only some appliance types have discrete outputs.
  const int type = client_ ? client_->GetApplianceType() : 1;
  if (sys_[SYS_DEST_GPO] && (type == 0 || (type >= 4 && type <= 10))) {
    if (CtVar* gpo = AttachHeldVar("AppVar.Global.GPO", sys_[SYS_DEST_GPO])) {
      gpo->SetOptions(TVAR_OPT_SYSTEM);
      if (reported && lines.num_outputs) RebuildLines(gpo, lines.first_output, lines.num_outputs);
    }
  }
  return 1;
}
