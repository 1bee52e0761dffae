// A named mutex visible to every process of the machine, as the original's named kernel mutex
// was: the first process to create a name holds it until it releases it or exits (also by a
// crash: the name is an abstract-namespace Unix socket, which the kernel frees with the process,
// so nothing is left behind on disk).
#pragma once

#include <string>

namespace port {

class NamedMutex {
 public:
  // Tries to take name. Check Held() (this object owns it) or AlreadyExists() (another holder).
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  bool Held() const { return fd_ >= 0; }
  bool AlreadyExists() const { return exists_; }
  void Release();

  // Whether some process holds name now.
  static bool Exists(const std::string& name);

 private:
  int fd_ = -1;
  bool exists_ = false;
};

}  // namespace port
