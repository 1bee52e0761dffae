#include "engine/device_params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace {

constexpr char kSection[] = "Params";

VelParamCaps Range(int32_t id, const char* name, int32_t group, double min, double max, double step,
                   double dflt, const char* units) {
  VelParamCaps c;
  c.id = id;
  c.name = name;
  c.group = group;
  c.kind = kParamRange;
  c.min = min;
  c.max = max;
  c.step = step;
  c.default_value = dflt;
  c.units = units;
  return c;
}

CDeviceParams::Param Enum(int32_t id, const char* name, int32_t group, double dflt,
                          std::vector<VelEnumArg> args) {
  CDeviceParams::Param p;
  p.caps.id = id;
  p.caps.name = name;
  p.caps.group = group;
  p.caps.kind = kParamEnum;
  p.caps.default_value = dflt;
  p.args = std::move(args);
  return p;
}

std::string Key(int32_t id, uint32_t index) {
  return index == 0 ? std::to_string(id) : std::to_string(id) + "." + std::to_string(index);
}

}  // namespace

void CDeviceParams::AddStandardSet() {
  CDeviceParams& p = *this;
  p.AddGroup({1, 0, 0, "Camera", "Image acquisition"});
  p.AddGroup({2, 1, 0, "Trigger", "When images are taken"});
  p.AddGroup({3, 0, 0, "Device", "The appliance itself"});
  p.AddParam({Range(1, "Exposure", 1, 10, 100000, 1, 2000, "us"), {}});
  p.AddParam({Range(2, "Gain", 1, 0, 24, 0.1, 0, "dB"), {}});
  p.AddParam(Enum(3, "TriggerMode", 2, 0, {{0, "Free Run"}, {1, "External"}, {2, "Software"}}));
  p.AddParam({Range(4, "TriggerDelay", 2, 0, 10000, 1, 0, "ms"), {}});
  p.AddParam({Range(6, "FrameRate", 2, 0, 200, 0.1, 0, "Hz"), {}});
  p.AddParam(Enum(5, "StrobeEnable", 3, 0, {{0, "Off"}, {1, "On"}}));
  p.AddParam({Range(40, "DeviceReady", 3, 0, 1, 1, 0, ""), {}});
}

void CDeviceParams::AddGroup(const VelGroupProperties& group) {
  std::lock_guard lock(mu_);
  groups_[group.id] = group;
}

void CDeviceParams::AddParam(Param param) {
  std::lock_guard lock(mu_);
  param.caps.enum_count = static_cast<uint32_t>(param.args.size());
  if (auto g = groups_.find(param.caps.group); g != groups_.end()) ++g->second.param_count;
  params_[param.caps.id] = std::move(param);
}

const CDeviceParams::Param* CDeviceParams::Find(int32_t id) const {
  auto it = params_.find(id);
  return it == params_.end() ? nullptr : &it->second;
}

bool CDeviceParams::Valid(const Param& p, double value) const {
  if (!std::isfinite(value)) return false;
  if (p.caps.kind == kParamEnum) {
    for (const auto& a : p.args) {
      if (a.value == value) return true;
    }
    return false;
  }
  return value >= p.caps.min && value <= p.caps.max;
}

bool CDeviceParams::Supported(int32_t id) const {
  std::lock_guard lock(mu_);
  return Find(id) != nullptr;
}

double CDeviceParams::Get(int32_t id, uint32_t index) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p || index >= kMaxIndex) return 0;
  auto it = values_.find({id, index});
  return it == values_.end() ? p->caps.default_value : it->second;
}

double CDeviceParams::GetByName(const std::string& name) const {
  int32_t id = 0;
  {
    std::lock_guard lock(mu_);
    for (const auto& [pid, p] : params_) {
      if (port::EqualsNoCase(p.caps.name, name)) id = pid;
    }
  }
  return id ? Get(id, 0) : 0;
}

int CDeviceParams::Set(int32_t id, double value, uint32_t index) {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p || index >= kMaxIndex || !Valid(*p, value)) return 0;
  values_[{id, index}] = value;
  return 1;
}

int CDeviceParams::GetCaps(int32_t id, VelParamCaps* out) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p) return 0;
  *out = p->caps;
  return 1;
}

void CDeviceParams::GetAll(std::vector<int32_t>* ids, std::vector<double>* values) const {
  ids->clear();
  values->clear();
  std::vector<int32_t> all;
  {
    std::lock_guard lock(mu_);
    for (const auto& entry : params_) all.push_back(entry.first);
  }
  for (int32_t id : all) {
    ids->push_back(id);
    values->push_back(Get(id, 0));
  }
}

int32_t CDeviceParams::FirstParam(int32_t group) const {
  return NextParam(group, 0);
}

int32_t CDeviceParams::NextParam(int32_t group, int32_t prev) const {
  std::lock_guard lock(mu_);
  for (auto it = params_.upper_bound(prev); it != params_.end(); ++it) {
    if (group == 0 || it->second.caps.group == group) return it->first;
  }
  return 0;
}

int32_t CDeviceParams::FirstGroup() const {
  return NextGroup(0);
}

int32_t CDeviceParams::NextGroup(int32_t prev) const {
  std::lock_guard lock(mu_);
  auto it = groups_.upper_bound(prev);
  return it == groups_.end() ? 0 : it->first;
}

int32_t CDeviceParams::ParentGroup(int32_t group) const {
  std::lock_guard lock(mu_);
  auto it = groups_.find(group);
  return it == groups_.end() ? 0 : it->second.parent;
}

int CDeviceParams::GetGroupProperties(int32_t group, VelGroupProperties* out) const {
  std::lock_guard lock(mu_);
  auto it = groups_.find(group);
  if (it == groups_.end()) return 0;
  *out = it->second;
  return 1;
}

int CDeviceParams::IsArgSupported(int32_t id, double value) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  return p && Valid(*p, value) ? 1 : 0;
}

double CDeviceParams::ClosestArgSupported(int32_t id, double value) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p || std::isnan(value)) return 0;
  if (p->caps.kind != kParamEnum) return std::clamp(value, p->caps.min, p->caps.max);
  double best = 0;
  double best_distance = INFINITY;
  for (const auto& a : p->args) {
    const double d = std::fabs(a.value - value);
    if (d < best_distance) {
      best = a.value;
      best_distance = d;
    }
  }
  return best;
}

int CDeviceParams::GetArgName(int32_t id, double value, std::string* out) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p) return 0;
  for (const auto& a : p->args) {
    if (a.value == value) {
      *out = a.name;
      return 1;
    }
  }
  return 0;
}

double CDeviceParams::GetArgValue(int32_t id, const std::string& name) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p) return 0;
  for (const auto& a : p->args) {
    if (port::EqualsNoCase(a.name, name)) return a.value;
  }
  return 0;
}

int CDeviceParams::FirstEnumArg(int32_t id, VelEnumArg* out) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p || p->args.empty()) return 0;
  *out = p->args.front();
  return 1;
}

int CDeviceParams::NextEnumArg(int32_t id, double prev, VelEnumArg* out) const {
  std::lock_guard lock(mu_);
  const Param* p = Find(id);
  if (!p) return 0;
  for (size_t i = 0; i + 1 < p->args.size(); ++i) {
    if (p->args[i].value == prev) {
      *out = p->args[i + 1];
      return 1;
    }
  }
  return 0;
}

int CDeviceParams::WriteFile(const std::string& path) const {
  std::ostringstream text;
  text << '[' << kSection << "]\r\n";
  {
    std::lock_guard lock(mu_);
    for (const auto& [key, value] : values_) {
      char number[64];
      std::snprintf(number, sizeof number, "%.17g", value);
      text << Key(key.first, key.second) << '=' << number << "\r\n";
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text.str();
  return out.good() ? 1 : 0;
}

int CDeviceParams::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::string line;
  bool in_section = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in_section = port::EqualsNoCase(line, std::string("[") + kSection + "]");
      continue;
    }
    int id = 0;
    unsigned index = 0;
    double value = 0;
    if (!in_section) continue;
    if (std::sscanf(line.c_str(), "%d.%u=%lf", &id, &index, &value) == 3 ||
        (index = 0, std::sscanf(line.c_str(), "%d=%lf", &id, &value) == 2)) {
      Set(id, value, index);
    }
  }
  return 1;
}
