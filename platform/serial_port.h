// A serial port over termios, with the read and write time-outs of the appliance's original
// serial API, and the mapping from the port names the appliance uses ("COM3") to devices.
//
// Port names: "COMn" (a trailing ":" is ignored, case-insensitive) is the device named by the
// environment variable VEL_COMn (e.g. VEL_COM3=/dev/ttyUSB0), else by key "COMn" of section
// [Ports] in <user data>/velappclient/serial.ini, else /dev/ttyS<n-1>. Any other name is taken
// as a device path already.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace port {

struct SerialSettings {
  uint32_t baud_rate = 9600;
  uint32_t byte_size = 8;  // 5 to 8
  uint32_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint32_t stop_bits = 0;  // 0 one, 1 one and a half (sent as two), 2 two
  uint32_t flow = 0;       // 0 none (DTR and RTS on), 1 RTS/CTS, 2 XON/XOFF (DTR and RTS off)
  bool operator==(const SerialSettings&) const = default;
};

// A read waits at most read_multiplier_ms per byte asked plus read_constant_ms for the whole
// count, and returns what has arrived by then; a write likewise. Zero everywhere: no waiting.
struct SerialTimeouts {
  uint32_t read_multiplier_ms = 0;
  uint32_t read_constant_ms = 0;
  uint32_t write_multiplier_ms = 0;
  uint32_t write_constant_ms = 0;
};

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens an existing device for reading and writing, not shared: a second open of the same
  // device fails while this one is open. The line is put in raw mode.
  bool Open(const std::string& device_path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  bool GetSettings(SerialSettings* out) const;
  // False (nothing changed) for a baud rate or byte size the system cannot set.
  bool SetSettings(const SerialSettings& settings);
  void SetTimeouts(const SerialTimeouts& timeouts) { timeouts_ = timeouts; }

  // Bytes read (0 on time-out), or -1 when the device failed or went away.
  int Read(std::span<uint8_t> buffer);
  // Bytes handed to the device (fewer on time-out), or -1 when the device failed.
  int Write(std::span<const uint8_t> data);
  // Drops unread input and unsent output.
  bool Purge();

 private:
  int fd_ = -1;
  SerialTimeouts timeouts_;
};

std::string SerialSettingsFile();
std::string SerialDevicePath(std::string_view port_name);

}  // namespace port
