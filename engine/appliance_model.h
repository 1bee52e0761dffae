// The simulated appliance behind the reference server: its files (a sandbox folder), parameters,
// registry, digital I/O, application attributes and version, all kept below one data folder:
// "<root>/files" is the device's file system, "<root>/registry.txt" its registry file.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "engine/device_files.h"
#include "engine/device_gpio.h"
#include "engine/device_params.h"
#include "engine/device_registry.h"
#include "link/device_records.h"

class CApplianceModel {
 public:
  explicit CApplianceModel(const std::string& root);

  CDeviceFiles& Files() { return files_; }
  CDeviceParams& Params() { return params_; }
  CDeviceRegistry& Registry() { return registry_; }
  CDeviceGpio& Gpio() { return gpio_; }

  VelAppAttributes Attributes() const;
  void SetAttributes(const VelAppAttributes& attr);

  // The version the server reports; settable so that a mismatch can be tried.
  int ServerVersion() const { return server_version_; }
  void SetServerVersion(int version) { server_version_ = version; }

  int NumCameras() const { return num_cameras_; }
  void SetNumCameras(int count) { num_cameras_ = count; }

 private:
  CDeviceFiles files_;
  CDeviceParams params_;
  CDeviceRegistry registry_;
  CDeviceGpio gpio_;
  mutable std::mutex attr_mu_;
  VelAppAttributes attr_;
  std::atomic<int> server_version_;
  std::atomic<int> num_cameras_{1};
};
