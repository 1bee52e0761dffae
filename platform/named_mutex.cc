#include "platform/named_mutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace port {
namespace {

// The abstract address: a leading zero byte, then a prefix that keeps our names apart.
socklen_t AbstractAddress(const std::string& name, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  const std::string full = "velappclient.mutex." + name;
  const size_t n = std::min(full.size(), sizeof addr->sun_path - 1);
  std::memcpy(addr->sun_path + 1, full.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name) {
  sockaddr_un addr;
  const socklen_t len = AbstractAddress(name, &addr);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    exists_ = errno == EADDRINUSE;
    ::close(fd_);
    fd_ = -1;
  }
}

NamedMutex::~NamedMutex() {
  Release();
}

void NamedMutex::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool NamedMutex::Exists(const std::string& name) {
  NamedMutex probe(name);
  return probe.AlreadyExists();
}

}  // namespace port
