#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace port {
namespace {

struct BaudCode {
  uint32_t rate;
  speed_t code;
};
constexpr BaudCode kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},        {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},        {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},      {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},  {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}};

bool SpeedCode(uint32_t rate, speed_t* code) {
  for (const BaudCode& b : kBauds) {
    if (b.rate == rate) {
      *code = b.code;
      return true;
    }
  }
  return false;
}

uint32_t SpeedRate(speed_t code) {
  for (const BaudCode& b : kBauds) {
    if (b.code == code) return b.rate;
  }
  return 0;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative.
int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for events on fd until deadline: 1 ready, 0 time-out, -1 the device failed or hung up.
int WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    if (p.revents & events) return 1;
    return -1;  // POLLHUP, POLLERR or POLLNVAL without data
  }
}

}  // namespace

SerialPort::~SerialPort() {
  Close();
}

bool SerialPort::Open(const std::string& device_path) {
  Close();
  const int fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  termios tio{};
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &tio) != 0) {
    ::close(fd);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SerialPort::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SerialPort::GetSettings(SerialSettings* out) const {
  termios tio{};
  if (fd_ < 0 || tcgetattr(fd_, &tio) != 0) return false;
  SerialSettings s;
  s.baud_rate = SpeedRate(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      s.byte_size = 5;
      break;
    case CS6:
      s.byte_size = 6;
      break;
    case CS7:
      s.byte_size = 7;
      break;
    default:
      s.byte_size = 8;
      break;
  }
  if (!(tio.c_cflag & PARENB)) {
    s.parity = 0;
  } else if (tio.c_cflag & CMSPAR) {
    s.parity = (tio.c_cflag & PARODD) ? 3 : 4;
  } else {
    s.parity = (tio.c_cflag & PARODD) ? 1 : 2;
  }
  s.stop_bits = (tio.c_cflag & CSTOPB) ? 2 : 0;
  if (tio.c_cflag & CRTSCTS) {
    s.flow = 1;
  } else if (tio.c_iflag & (IXON | IXOFF)) {
    s.flow = 2;
  } else {
    s.flow = 0;
  }
  *out = s;
  return true;
}

bool SerialPort::SetSettings(const SerialSettings& s) {
  termios tio{};
  speed_t speed;
  if (fd_ < 0 || !SpeedCode(s.baud_rate, &speed) || s.byte_size < 5 || s.byte_size > 8 ||
      s.parity > 4 || tcgetattr(fd_, &tio) != 0) {
    return false;
  }
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | kSizes[s.byte_size - 5];
  tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                  PARENB | CMSPAR};
  tio.c_cflag |= kParity[s.parity];
  if (s.stop_bits == 0) {
    tio.c_cflag &= ~CSTOPB;
  } else {
    tio.c_cflag |= CSTOPB;
  }
  tio.c_cflag &= ~CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (s.flow == 1) tio.c_cflag |= CRTSCTS;
  if (s.flow == 2) tio.c_iflag |= IXON | IXOFF;
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
  // Modem lines are absent on pseudo-terminals; failing to set them is not an error.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd_, s.flow == 2 ? TIOCMBIC : TIOCMBIS, &lines);
  return true;
}

int SerialPort::Read(std::span<uint8_t> buffer) {
  if (fd_ < 0) return -1;
  if (buffer.empty()) return 0;
  const uint64_t wait_ms = static_cast<uint64_t>(timeouts_.read_multiplier_ms) * buffer.size() +
                           timeouts_.read_constant_ms;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  size_t got = 0;
  bool was_ready = false;
  while (got < buffer.size()) {
    const ssize_t n = ::read(fd_, buffer.data() + got, buffer.size() - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      was_ready = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Readable yet nothing to read: the other end of the line has gone away.
    const bool gone = (n < 0 && errno != EAGAIN) || (n == 0 && was_ready);
    if (gone) return got ? static_cast<int>(got) : -1;
    const int ready = WaitFor(fd_, POLLIN, deadline);
    if (ready == 0) break;
    if (ready < 0) return got ? static_cast<int>(got) : -1;
    was_ready = true;
  }
  return static_cast<int>(got);
}

int SerialPort::Write(std::span<const uint8_t> data) {
  if (fd_ < 0) return -1;
  const uint64_t wait_ms = static_cast<uint64_t>(timeouts_.write_multiplier_ms) * data.size() +
                           timeouts_.write_constant_ms;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::write(fd_, data.data() + sent, data.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (n < 0 && errno != EAGAIN)) return sent ? static_cast<int>(sent) : -1;
    const int ready = WaitFor(fd_, POLLOUT, deadline);
    if (ready == 0) break;
    if (ready < 0) return sent ? static_cast<int>(sent) : -1;
  }
  // The bytes are with the driver now. Waiting for them to leave the line (tcdrain) could block
  // without limit when the peer holds the line with flow control, so it is not done.
  return static_cast<int>(sent);
}

bool SerialPort::Purge() {
  return fd_ >= 0 && tcflush(fd_, TCIOFLUSH) == 0;
}

std::string SerialSettingsFile() {
  return UserDataDir() + "/velappclient/serial.ini";
}

std::string SerialDevicePath(std::string_view name) {
  std::string_view n = name;
  if (!n.empty() && n.back() == ':') n.remove_suffix(1);
  if (n.size() < 4 || !EqualsNoCase(n.substr(0, 3), "COM")) return std::string(name);
  int number = 0;
  for (char c : n.substr(3)) {
    if (c < '0' || c > '9' || number > 9999) return std::string(name);
    number = number * 10 + (c - '0');
  }
  const std::string key = "COM" + std::to_string(number);
  if (const char* env = std::getenv(("VEL_" + key).c_str()); env && *env) return env;
  const std::string configured = GetProfileString(SerialSettingsFile(), "Ports", key, "");
  if (!configured.empty()) return configured;
  return "/dev/ttyS" + std::to_string(number > 0 ? number - 1 : 0);
}

}  // namespace port
