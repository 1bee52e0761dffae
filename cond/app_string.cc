#include "cond/app_string.h"

#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_seams.h"
#include "platform/format.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {

constexpr uint32_t kLockTimeoutMs = 4000;

// "[" and "]" of every reference whose name is name become "?"; true when any did.
bool NeutraliseReferences(std::string* text, std::string_view name) {
  bool changed = false;
  for (size_t open = text->find('['); open != std::string::npos; open = text->find('[', open + 1)) {
    const size_t close = text->find(']', open + 1);
    if (close == std::string::npos) break;
    const size_t pct = text->find('%', open + 1);
    const size_t end = pct < close ? pct : close;
    if (std::string_view(*text).substr(open + 1, end - open - 1) == name) {
      (*text)[open] = '?';
      (*text)[close] = '?';
      changed = true;
    }
  }
  return changed;
}

}  // namespace

CAppString::CAppString(CtVar* root, CVelServerEngine* engine, CVelAppClient* client)
    : root_(root),
      app_var_(root ? &(*root)["AppVar"] : nullptr),
      app_strings_(root ? &(*root)["AppStrings"] : nullptr),
      engine_(engine),
      client_(client) {}

CAppString::~CAppString() = default;

CtVar* CAppString::FindString(const char* name) {
  if (!app_strings_ || !name) return nullptr;
  for (CtVar* c = app_strings_->GetFirstChild(); c; c = c->GetNextSibling()) {
    if (port::EqualsNoCase(c->NameView(), name)) return c;
  }
  return nullptr;
}

CtVar* CAppString::AddString(const char* name, const char* content, int add_ref) {
  if (!app_strings_ || !name || !*name) return nullptr;
  CtVarLock lock(kLockTimeoutMs);
  CtVar* node = FindString(name);
  if (!node) node = app_strings_->GetChild(name, 0, 1, 1);
  if (!node) return nullptr;
  (*node)["Content"] = content ? content : "";
  if (add_ref) node->AddRef();
  return node;
}

int CAppString::GetString(const char* name, std::string* content) {
  CtVarLock lock(kLockTimeoutMs);
  CtVar* node = FindString(name);
  if (content) content->clear();
  if (node) GetString(node, nullptr, content);
  return 1;
}

int CAppString::GetString(CtVar* node, std::string* name, std::string* content) {
  if (!node) return 0;
  if (name) *name = std::string(node->NameView());
  if (content) {
    CtVar* c = node->Index("Content", 0);
    *content = c ? std::string(cond::NodeText(*c)) : std::string();
  }
  return 1;
}

int CAppString::SetString(const char* name, const char* content) {
  CtVarLock lock(kLockTimeoutMs);
  CtVar* node = FindString(name);
  if (!node) return AddString(name, content, 0) ? 1 : 0;
  return SetString(node, content);
}

int CAppString::SetString(CtVar* node, const char* content) {
  if (!node) return 0;
  (*node)["Content"] = content ? content : "";
  return 1;
}

CtVar* CAppString::GetNextString(CtVar* node, int add_ref) {
  if (!app_strings_) return nullptr;
  CtVarLock lock(kLockTimeoutMs);
  CtVar* next = app_strings_->GetNextChild(node);
  if (next && add_ref) next->AddRef();
  return next;
}

int CAppString::GetNumStrings() {
  return app_strings_ ? static_cast<int>(app_strings_->GetNumChildren()) : 0;
}

void CAppString::DeleteString(CtVar* node, unsigned long n) {
  if (node) node->Release(static_cast<uint32_t>(n), 0, 1, 0);
}

int CAppString::ResetSolution() {
  if (app_strings_) app_strings_->RemoveAllChildren();
  return 1;
}

double CAppString::GetParamVal(const char* name) {
  return name ? XCondParams::Get().GetParam(name, 0) : 0;
}

std::wstring CAppString::FormatReference(const std::wstring& name, const std::wstring& format,
                                         const std::wstring& whole) {
  if (!name.empty() && name[0] >= L'0' && name[0] <= L'9') {
    long code = 0;
    for (size_t i = 0; i < name.size() && name[i] >= L'0' && name[i] <= L'9' && code <= 0x10FFFF;
         ++i) {
      code = code * 10 + (name[i] - L'0');
    }
    return code > 0 && code <= 0x10FFFF ? std::wstring(1, static_cast<wchar_t>(code))
                                        : std::wstring();
  }
  std::wstring fmt = format;
  double value = 0;
  if (name.size() >= 3 && name.compare(0, 2, L"P.") == 0) {
    value = GetParamVal(port::WideToUtf8(name.substr(2)).c_str());
    if (fmt.empty()) fmt = L"%f";
  } else {
    if (!app_var_) return {};
    CtVar& var = (*app_var_)[port::WideToUtf8(name).c_str()];
    switch (var.GetType()) {
      case OZK_TVAR_DOUBLE:
        value = static_cast<double>(var);
        if (fmt.empty()) fmt = L"%f";
        break;
      case OZK_TVAR_INT:
        value = static_cast<double>(var);
        if (fmt.empty() || fmt == L"%s") fmt = L"%d";
        break;
      case OZK_TVAR_STRING: {
        const std::string_view text = cond::NodeText(var);
        uint32_t size = 0;
        if (var.GetStoredType() != OZK_TVAR_DEST && !var.GetData(&size)) return whole;
        return port::MixedToWide(text);
      }
      case OZK_TVAR_DATA: {
        uint32_t size = 0;
        const uint8_t* data = var.GetData(&size);
        if (!data) return whole;
        std::wstring bytes;
        for (uint32_t i = 0; i < size && data[i]; ++i) bytes += static_cast<wchar_t>(data[i]);
        return bytes;
      }
      default:
        return {};
    }
  }
  const wchar_t conversion = fmt.back();
  std::string f = port::WideToUtf8(fmt);
  std::string piece;
  if (conversion == L'e' || conversion == L'f' || conversion == L'g') {
    if (!port::FormatNumber(f, value, &piece)) return {};
  } else if (std::wstring_view(L"Xdiopux").find(conversion) != std::wstring_view::npos) {
    if (conversion == L'p') f.back() = 'X';
    if (!port::FormatNumber(f, static_cast<double>(cond::ToInt32(value)), &piece)) return {};
  } else {
    return {};
  }
  return port::Utf8ToWide(piece);
}

int CAppString::ProcessStr(const std::wstring& tmpl, std::wstring& output) {
  output.clear();
  size_t pos = 0;
  for (;;) {
    const size_t open = tmpl.find(L'[', pos);
    if (open == std::wstring::npos) break;
    output.append(tmpl, pos, open - pos);
    pos = open;
    const size_t close = tmpl.find(L']', open + 1);
    if (close == std::wstring::npos) break;
    const size_t pct = tmpl.find(L'%', open + 1);
    const size_t name_end = pct < close ? pct : close;
    const std::wstring name = tmpl.substr(open + 1, name_end - open - 1);
    const std::wstring format = pct < close ? tmpl.substr(pct, close - pct) : std::wstring();
    output += FormatReference(name, format, tmpl.substr(open, close - open + 1));
    pos = close + 1;
  }
  output.append(tmpl, pos, std::wstring::npos);
  return 1;
}

void CAppString::NullVarRefInString(const char* name, CtVar* node) {
  if (!name) return;
  if (!node) {
    CtVarLock lock(kLockTimeoutMs);
    for (CtVar* c = GetNextString(nullptr, 0); c; c = GetNextString(c, 0)) {
      NullVarRefInString(name, c);
    }
    return;
  }
  std::string content;
  GetString(node, nullptr, &content);
  if (NeutraliseReferences(&content, name)) SetString(node, content.c_str());
}

char* CStringToAscii(const std::wstring& text, char* buffer, int size) {
  if (!buffer || size < 0) return nullptr;
  if (size != 0 && static_cast<size_t>(size) < text.size() + 1) return nullptr;
  const size_t capacity = size == 0 ? 2 * text.size() + 8 : static_cast<size_t>(size);
  const std::string utf8 = port::WideToUtf8(text);
  if (utf8.size() + 1 > capacity) return nullptr;
  std::memcpy(buffer, utf8.c_str(), utf8.size() + 1);
  return buffer;
}
