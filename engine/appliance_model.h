// The simulated appliance behind the reference server: its files (a sandbox folder), parameters,
// registry, digital I/O, application attributes and version, all kept below one data folder:
// "<root>/files" is the device's file system, "<root>/registry.txt" its registry file and
// "<root>/params.ini" the parameter values, read at start and written back at the end.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <span>
#include <string>

#include "engine/device_files.h"
#include "engine/device_gpio.h"
#include "engine/device_params.h"
#include "engine/device_registry.h"
#include "link/device_records.h"

class CApplianceModel {
 public:
  explicit CApplianceModel(const std::string& root);
  ~CApplianceModel();

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

  // Hardware registers: unset ones read 0; at most kMaxRegisters distinct addresses are kept.
  static constexpr size_t kMaxRegisters = 4096;
  uint32_t ReadReg(uint32_t address) const;
  void WriteReg(uint32_t address, uint32_t value);

  // The serial port of the appliance, wired back to itself: what is put can be got again.
  static constexpr size_t kMaxPortBytes = 65536;
  void PutPortString(const std::string& bytes);
  std::string GetPortString(size_t max_bytes);

  // Network settings of a PLC comm role: three numbers and a text.
  struct PlcAddress {
    uint32_t parts[3] = {0, 0, 0};
    std::string text;
  };
  PlcAddress GetPlcAddress(int role) const;
  void SetPlcAddress(int role, const PlcAddress& address);

  // Identity: the serial number is fixed, the name is the user's (1 to kMaxNameSize - 1 bytes).
  static constexpr uint32_t kSerialNumber = 180042;
  static constexpr size_t kMaxNameSize = 64;
  std::string SerialNo() const;
  std::string DeviceName() const;
  int SetDeviceName(const std::string& name);
  // The window generator's rectangle; a negative origin or an empty size is refused.
  struct Window {
    int x = 0, y = 0, width = 0, height = 0;
  };
  int SetWindowGen(const Window& window);
  Window WindowGen() const;
  // The network interface: a MAC address is exactly 6 bytes; its text is "00-1B-..." style.
  int SetMacAddress(std::span<const uint8_t> address);
  std::string MacAddressText() const;
  struct UdpMode {
    int mode = 0;
    uint32_t port = 0;
  };
  void SetUdpMode(const UdpMode& mode);
  UdpMode GetUdpMode() const;
  // How images are grabbed (8: a free-running camera set) and the permission to change
  // solutions, which a client withdraws while it connects.
  int GrabType() const { return grab_type_; }
  void SetGrabType(int type) { grab_type_ = type; }
  int ChangeSolutionEnabled() const { return change_solution_; }
  void EnableChangeSolution(int flag) { change_solution_ = flag ? 1 : 0; }
  // The image history settings, kept whole as the client sends them.
  VelLogFileAttrib LogAttrib() const;
  void SetLogAttrib(const VelLogFileAttrib& attrib);
  static constexpr wchar_t kOemName[] = L"Parvane Korin";
  static constexpr wchar_t kOemFolderName[] = L"Zelvin";
  // A restart keeps what the device stores (files, registry, parameters) and loses what it
  // only holds: the registers and the serial port's unread bytes.
  void Restart();
  int Restarts() const;

 private:
  std::string params_file_;
  CDeviceFiles files_;
  CDeviceParams params_;
  CDeviceRegistry registry_;
  CDeviceGpio gpio_;
  mutable std::mutex attr_mu_;
  VelAppAttributes attr_;
  std::atomic<int> server_version_;
  std::atomic<int> num_cameras_{1};
  std::atomic<int> grab_type_{8};
  std::atomic<int> change_solution_{1};
  mutable std::mutex state_mu_;
  std::map<uint32_t, uint32_t> registers_;
  std::string port_buffer_;
  std::map<int, PlcAddress> plc_addresses_;
  std::string device_name_ = "Zelvin EC";
  Window window_;
  std::array<uint8_t, 6> mac_ = {0x00, 0x1B, 0x2C, 0x00, 0x00, 0x01};
  UdpMode udp_mode_;
  VelLogFileAttrib log_attrib_;
  int restarts_ = 0;
};
