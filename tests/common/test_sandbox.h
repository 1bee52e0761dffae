// A test's private corner of the machine: a temporary folder that holds the per-user and
// all-users settings and the in-process engine's data, a server port of this process's own (so
// that concurrent test programs do not meet), and a velserver started on demand. The server is
// killed and the folder removed when the sandbox goes.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/common/temp_dir.h"

extern char** environ;

class TestSandbox {
 public:
  // name: the folder's prefix; port_base: where this program's ports start.
  TestSandbox(const std::string& name, int port_base) : tmp_(name) {
    setenv("XDG_DATA_HOME", (dir_ + "/user").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir_ + "/all").c_str(), 1);
    setenv("VEL_ENGINE_ROOT", (dir_ + "/engine").c_str(), 1);
    port_ = port_base + getpid() % 20000;
    setenv("VEL_SERVER_PORT", std::to_string(port_).c_str(), 1);
  }
  ~TestSandbox() { StopServer(); }
  TestSandbox(const TestSandbox&) = delete;
  TestSandbox& operator=(const TestSandbox&) = delete;

  const std::string& dir() const { return dir_; }
  int port() const { return port_; }

  // Starts server (a velserver program) on the port, its device in dir()/server, and waits
  // until it accepts.
  void StartServer(const char* server, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {server, "--port", std::to_string(port_), "--root",
                                     dir_ + "/server"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&server_pid_, server, nullptr, nullptr, argv.data(), environ), 0);
    for (int i = 0; i < 500 && !port::PortAccepts("127.0.0.1", port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(port::PortAccepts("127.0.0.1", port_));
  }
  void StopServer() {
    if (server_pid_ <= 0) return;
    kill(server_pid_, SIGKILL);
    waitpid(server_pid_, nullptr, 0);
    server_pid_ = -1;
  }

 private:
  TempDir tmp_;
  const std::string& dir_ = tmp_.path();
  int port_ = 0;
  pid_t server_pid_ = -1;
};
