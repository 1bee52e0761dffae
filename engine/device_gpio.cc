#include "engine/device_gpio.h"

#include <algorithm>
#include <string>

CDeviceGpio::CDeviceGpio(uint32_t inputs, uint32_t outputs, uint32_t first_line) {
  attr_.num_inputs = std::min<uint32_t>(inputs, kGpioMaxLines);
  attr_.num_outputs = std::min<uint32_t>(outputs, kGpioMaxLines);
  attr_.first_input = attr_.first_output = first_line;
  for (uint32_t i = 0; i < attr_.num_inputs; ++i) {
    attr_.input_names.push_back("Input " + std::to_string(first_line + i));
    inputs_.push_back({first_line + i, 0, 0, 0, 0});
  }
  for (uint32_t i = 0; i < attr_.num_outputs; ++i) {
    attr_.output_names.push_back("Output " + std::to_string(first_line + i));
    outputs_.push_back({first_line + i, 0, 0, 0, 0});
  }
}

int CDeviceGpio::GetConfig(const std::vector<VelGpioConfig>& configs, uint32_t first, uint32_t line,
                           VelGpioConfig* out) {
  if (line < first || line - first >= configs.size()) return 0;
  *out = configs[line - first];
  return 1;
}

int CDeviceGpio::SetConfig(std::vector<VelGpioConfig>& configs, uint32_t first, uint32_t line,
                           const VelGpioConfig& config) {
  if (line < first || line - first >= configs.size()) return 0;
  configs[line - first] = config;
  configs[line - first].line = line;  // the record cannot move a line
  return 1;
}

int CDeviceGpio::GetInputConfig(uint32_t line, VelGpioConfig* out) const {
  std::lock_guard lock(mu_);
  return GetConfig(inputs_, attr_.first_input, line, out);
}

int CDeviceGpio::SetInputConfig(uint32_t line, const VelGpioConfig& config) {
  std::lock_guard lock(mu_);
  return SetConfig(inputs_, attr_.first_input, line, config);
}

int CDeviceGpio::GetOutputConfig(uint32_t line, VelGpioConfig* out) const {
  std::lock_guard lock(mu_);
  return GetConfig(outputs_, attr_.first_output, line, out);
}

int CDeviceGpio::SetOutputConfig(uint32_t line, const VelGpioConfig& config) {
  std::lock_guard lock(mu_);
  return SetConfig(outputs_, attr_.first_output, line, config);
}

namespace {
uint32_t LineMask(uint32_t lines) {
  return lines >= 32 ? 0xFFFFFFFFu : (1u << lines) - 1;
}
}  // namespace

uint32_t CDeviceGpio::InputBits() const {
  std::lock_guard lock(mu_);
  return input_bits_;
}

void CDeviceGpio::SetInputBits(uint32_t bits) {
  std::lock_guard lock(mu_);
  input_bits_ = bits & LineMask(attr_.num_inputs);
}

uint32_t CDeviceGpio::OutputBits() const {
  std::lock_guard lock(mu_);
  return output_bits_;
}

uint32_t CDeviceGpio::SetOutputPort(uint32_t mask, int value) {
  std::lock_guard lock(mu_);
  mask &= LineMask(attr_.num_outputs);
  output_bits_ = value ? (output_bits_ | mask) : (output_bits_ & ~mask);
  return output_bits_;
}
