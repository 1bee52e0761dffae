// Variable names: shadow variables created while an editor checks lines, and simple names.
#include <cstring>

#include "cond/cond_internal.h"
#include "cond/cond_output.h"
#include "platform/text.h"
#include "vartree/tvar.h"

namespace {
constexpr size_t kShadowNameSize = 64;
}

void CCondOutput::SetShadowVarEnable(int on) {
  shadow_enabled_ = on != 0;
}

std::vector<std::string> CCondOutput::ShadowVars() const {
  std::lock_guard<std::mutex> guard(shadow_mutex_);
  std::vector<std::string> names;
  for (const auto& entry : shadow_vars_) names.push_back(entry.second);
  return names;
}

void CCondOutput::NoteShadowVar(const std::string& name, CtVar* root) {
  if (!shadow_enabled_) return;
  CtVar* existing = root->GetChild(std::string_view(name), 0, 0, 0);
  if (existing && existing != root) return;
  const std::string stored = name.substr(0, kShadowNameSize - 1);
  std::lock_guard<std::mutex> guard(shadow_mutex_);
  if (shadow_vars_.size() >= static_cast<size_t>(kShadowVarCapacity)) return;
  for (const auto& entry : shadow_vars_) {
    if (entry.second == stored) return;
  }
  shadow_vars_.emplace_back(0, stored);
}

void CCondOutput::PruneShadowVars() {
  if (!app_var_) return;
  CtVarLock lock;
  std::vector<std::pair<uint32_t, std::string>> names;
  {
    std::lock_guard<std::mutex> guard(shadow_mutex_);
    names.swap(shadow_vars_);
  }
  CtVar* equations = root_ ? root_->Index("Equations", 0) : nullptr;
  for (const auto& [word, name] : names) {
    const std::string full = "AppVar." + name;
    CtVar* node = root_->GetChild(std::string_view(full), 0, 0, 0);
    if (!node || node == root_ || node == app_var_) continue;
    bool referenced = false;
    for (CtVar* st = equations ? equations->GetFirstChild() : nullptr; st && !referenced;
         st = st->GetNextSibling()) {
      for (const char* part : {"Cond", "lVal", "Eq"}) {
        CtVar* text_node = st->Index(part, 0);
        if (!text_node) continue;
        std::string text(cond::NodeText(*text_node));
        OZK_COND_TERM terms[kCondMaxTerms];
        const unsigned long n = MakeCondTerms(text.data(), terms, app_var_, nullptr, 0);
        for (unsigned long i = 0; i < n && !referenced; ++i) referenced = terms[i].variable == node;
        if (referenced) break;
      }
    }
    if (!referenced) node->Release(0, 0, 1, 0);
  }
}

int GetVarSimpleName(const char* full_name, std::string* out) {
  if (!full_name || !out) return 0;
  std::string name(full_name);
  constexpr std::string_view kResult = ".Result";
  if (name.size() >= kResult.size() &&
      port::EqualsNoCase(std::string_view(name).substr(name.size() - kResult.size()), kResult)) {
    name.resize(name.size() - kResult.size());
  }
  const size_t dot = name.find('.');
  if (name.compare(0, 6, "Camera") == 0 && dot != std::string::npos && dot >= 8) {
    const int camera = name[dot - 1] - '1';
    *out = name.substr(dot + 1);
    return camera;
  }
  *out = name;
  return 0;
}
