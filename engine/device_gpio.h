// The appliance's general-purpose inputs and outputs: the attribute record that describes them,
// one configuration per line, and the current input and output bits (bit n is line
// first + n). Line numbers outside the described lines are refused.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "link/device_records.h"

class CDeviceGpio {
 public:
  // At most kGpioMaxLines lines each way; names "Input N" and "Output N".
  CDeviceGpio(uint32_t inputs, uint32_t outputs, uint32_t first_line);

  VelGpioAttributes Attributes() const { return attr_; }

  int GetInputConfig(uint32_t line, VelGpioConfig* out) const;
  int SetInputConfig(uint32_t line, const VelGpioConfig& config);
  int GetOutputConfig(uint32_t line, VelGpioConfig* out) const;
  int SetOutputConfig(uint32_t line, const VelGpioConfig& config);

  uint32_t InputBits() const;
  // The simulated wiring: what the inputs read from now on.
  void SetInputBits(uint32_t bits);
  uint32_t OutputBits() const;
  // Sets (value non-zero) or clears the output bits in mask; returns the new output bits.
  uint32_t SetOutputPort(uint32_t mask, int value);

 private:
  static int GetConfig(const std::vector<VelGpioConfig>& configs, uint32_t first, uint32_t line,
                       VelGpioConfig* out);
  static int SetConfig(std::vector<VelGpioConfig>& configs, uint32_t first, uint32_t line,
                       const VelGpioConfig& config);

  VelGpioAttributes attr_;
  mutable std::mutex mu_;
  std::vector<VelGpioConfig> inputs_, outputs_;
  uint32_t input_bits_ = 0, output_bits_ = 0;
};
