#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/profile.h"
#include "tests/dests/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadPeer(int fd, size_t want) {
  std::string got;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (got.size() < want && Clock::now() < deadline) {
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    if (n <= 0) usleep(2000);
  }
  return got;
}

TEST(SerialPortTest, CarriesBytesAtTwoBaudRatesAndReadsBackTheSettings) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  port::SerialPort port;
  ASSERT_TRUE(port.Open(pty.First()));
  const int peer = open(pty.Second().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(peer, 0);
  port.SetTimeouts({1, 200, 50, 500});
  // A pseudo-terminal keeps speed and stop bits but always reports 8 bits without parity.
  for (const port::SerialSettings s :
       {port::SerialSettings{9600, 8, 0, 0, 0}, port::SerialSettings{115200, 8, 0, 2, 0}}) {
    ASSERT_TRUE(port.SetSettings(s));
    port::SerialSettings back;
    ASSERT_TRUE(port.GetSettings(&back));
    EXPECT_EQ(back, s) << s.baud_rate;

    const std::string text = "at " + std::to_string(s.baud_rate) + "\r\n";
    EXPECT_EQ(port.Write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()),
                                                  text.size())),
              static_cast<int>(text.size()));
    EXPECT_EQ(ReadPeer(peer, text.size()), text);

    ASSERT_EQ(write(peer, "ok", 2), 2);
    uint8_t buf[8] = {};
    EXPECT_EQ(port.Read(std::span<uint8_t>(buf, 2)), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "ok");
  }
  close(peer);
}

TEST(SerialPortTest, UnsupportedSettingsAreRefused) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  port::SerialPort port;
  ASSERT_TRUE(port.Open(pty.First()));
  EXPECT_FALSE(port.SetSettings({12345, 8, 0, 0, 0}));
  EXPECT_FALSE(port.SetSettings({9600, 9, 0, 0, 0}));
  EXPECT_FALSE(port.SetSettings({9600, 8, 5, 0, 0}));
}

TEST(SerialPortTest, ReadWaitsOnlyAsLongAsTheTimeoutsSay) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  port::SerialPort port;
  ASSERT_TRUE(port.Open(pty.First()));
  port.SetTimeouts({10, 100, 0, 0});
  uint8_t buf[5];
  const auto t0 = Clock::now();
  EXPECT_EQ(port.Read(buf), 0);
  const auto waited = Clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(140));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

TEST(SerialPortTest, ASecondOpenOfTheSameDeviceFails) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  port::SerialPort first, second;
  ASSERT_TRUE(first.Open(pty.First()));
  EXPECT_FALSE(second.Open(pty.First()));
  first.Close();
  EXPECT_TRUE(second.Open(pty.First()));
  EXPECT_FALSE(first.Open("/nonexistent/tty"));
  EXPECT_FALSE(first.Open("/dev/null"));  // not a terminal
}

TEST(SerialPortTest, ADeviceThatDisappearsFailsReadsWithoutHanging) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  port::SerialPort port;
  ASSERT_TRUE(port.Open(pty.First()));
  port.SetTimeouts({0, 2000, 0, 2000});
  pty.Stop();
  uint8_t buf[4];
  const auto t0 = Clock::now();
  EXPECT_EQ(port.Read(buf), -1);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1500));
  const uint8_t out[] = {1, 2, 3};
  EXPECT_LE(port.Write(out), 0);
}

TEST(SerialDevicePathTest, ComNamesMapThroughEnvironmentThenIniThenDefault) {
  const std::filesystem::path home =
      std::filesystem::temp_directory_path() / ("vel-serial-" + std::to_string(getpid()));
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  unsetenv("VEL_COM5");
  unsetenv("VEL_COM6");
  EXPECT_EQ(port::SerialDevicePath("COM5"), "/dev/ttyS4");
  std::filesystem::create_directories(home / "velappclient");
  ASSERT_TRUE(
      port::WriteProfileString(port::SerialSettingsFile(), "Ports", "COM5", "/dev/ttyUSB1"));
  EXPECT_EQ(port::SerialDevicePath("com5:"), "/dev/ttyUSB1");
  setenv("VEL_COM5", "/dev/pts/77", 1);
  EXPECT_EQ(port::SerialDevicePath("COM5"), "/dev/pts/77");
  EXPECT_EQ(port::SerialDevicePath("COM6"), "/dev/ttyS5");
  EXPECT_EQ(port::SerialDevicePath("/dev/ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(port::SerialDevicePath("COMX"), "COMX");
  EXPECT_EQ(port::SerialDevicePath("COM99999999999"), "COM99999999999");
  unsetenv("VEL_COM5");
  std::filesystem::remove_all(home);
}

}  // namespace
