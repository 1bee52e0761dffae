#include "engine/appliance_model.h"

#include <algorithm>
#include <cstdio>

#include "link/versions.h"

CApplianceModel::CApplianceModel(const std::string& root)
    : params_file_(root + "/params.ini"),
      files_(root + "/files"),
      registry_(root + "/registry.txt"),
      gpio_(8, 8, 1),
      attr_{"ZelvinEC.dll", "Inspection", "1.0", "Zelvin EC", "Zelvin"},
      server_version_(ClientVersion()) {
  params_.AddStandardSet();
  params_.ReadFile(params_file_);
}

CApplianceModel::~CApplianceModel() {
  params_.WriteFile(params_file_);
  registry_.Flush();
}

VelAppAttributes CApplianceModel::Attributes() const {
  std::lock_guard lock(attr_mu_);
  return attr_;
}

void CApplianceModel::SetAttributes(const VelAppAttributes& attr) {
  std::lock_guard lock(attr_mu_);
  attr_ = attr;
}

uint32_t CApplianceModel::ReadReg(uint32_t address) const {
  std::lock_guard lock(state_mu_);
  auto it = registers_.find(address);
  return it == registers_.end() ? 0 : it->second;
}

void CApplianceModel::WriteReg(uint32_t address, uint32_t value) {
  std::lock_guard lock(state_mu_);
  if (registers_.size() < kMaxRegisters || registers_.count(address)) registers_[address] = value;
}

void CApplianceModel::PutPortString(const std::string& bytes) {
  std::lock_guard lock(state_mu_);
  port_buffer_ += bytes.substr(0, kMaxPortBytes - std::min(kMaxPortBytes, port_buffer_.size()));
}

std::string CApplianceModel::GetPortString(size_t max_bytes) {
  std::lock_guard lock(state_mu_);
  std::string out = port_buffer_.substr(0, max_bytes);
  port_buffer_.erase(0, out.size());
  return out;
}

CApplianceModel::PlcAddress CApplianceModel::GetPlcAddress(int role) const {
  std::lock_guard lock(state_mu_);
  auto it = plc_addresses_.find(role);
  return it == plc_addresses_.end() ? PlcAddress{} : it->second;
}

void CApplianceModel::SetPlcAddress(int role, const PlcAddress& address) {
  // Comm roles are 1 to 20; anything else is not a PLC of this appliance.
  if (role < 1 || role > 20) return;
  std::lock_guard lock(state_mu_);
  plc_addresses_[role] = address;
}

std::string CApplianceModel::SerialNo() const {
  return "ZEC-" + std::to_string(kSerialNumber);
}

std::string CApplianceModel::DeviceName() const {
  std::lock_guard lock(state_mu_);
  return device_name_;
}

int CApplianceModel::SetDeviceName(const std::string& name) {
  if (name.empty() || name.size() >= kMaxNameSize) return 0;
  std::lock_guard lock(state_mu_);
  device_name_ = name;
  return 1;
}

int CApplianceModel::SetWindowGen(const Window& window) {
  if (window.x < 0 || window.y < 0 || window.width <= 0 || window.height <= 0) return 0;
  std::lock_guard lock(state_mu_);
  window_ = window;
  return 1;
}

CApplianceModel::Window CApplianceModel::WindowGen() const {
  std::lock_guard lock(state_mu_);
  return window_;
}

void CApplianceModel::Restart() {
  std::lock_guard lock(state_mu_);
  registers_.clear();
  port_buffer_.clear();
  ++restarts_;
}

int CApplianceModel::Restarts() const {
  std::lock_guard lock(state_mu_);
  return restarts_;
}

int CApplianceModel::SetMacAddress(std::span<const uint8_t> address) {
  if (address.size() != 6) return 0;
  std::lock_guard lock(state_mu_);
  std::copy(address.begin(), address.end(), mac_.begin());
  return 1;
}

std::string CApplianceModel::MacAddressText() const {
  std::lock_guard lock(state_mu_);
  std::string text;
  for (uint8_t b : mac_) {
    char part[4];
    std::snprintf(part, sizeof part, text.empty() ? "%02X" : "-%02X", b);
    text += part;
  }
  return text;
}

void CApplianceModel::SetUdpMode(const UdpMode& mode) {
  std::lock_guard lock(state_mu_);
  udp_mode_ = mode;
}

CApplianceModel::UdpMode CApplianceModel::GetUdpMode() const {
  std::lock_guard lock(state_mu_);
  return udp_mode_;
}

VelLogFileAttrib CApplianceModel::LogAttrib() const {
  std::lock_guard lock(state_mu_);
  return log_attrib_;
}

void CApplianceModel::SetLogAttrib(const VelLogFileAttrib& attrib) {
  std::lock_guard lock(state_mu_);
  log_attrib_ = attrib;
}
