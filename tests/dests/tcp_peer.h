// Plain TCP peers for socket destination tests: a listener on a loopback port and a client,
// both written directly on the socket interface so that the code under test talks to a
// program that is not its own. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace testpeer {

inline sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

inline bool Readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1;
}

// Reads until want bytes arrived or timeout_ms passed without any.
inline std::string ReadSome(int fd, size_t want, int timeout_ms = 2000) {
  std::string got;
  char buf[4096];
  while (got.size() < want && Readable(fd, timeout_ms)) {
    const ssize_t n = recv(fd, buf, std::min(sizeof buf, want - got.size()), 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

inline bool SendText(int fd, const std::string& s) {
  return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
}

// Polls cond every 10 ms for up to timeout.
template <typename F>
bool WaitUntil(F cond, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A listening socket on a port of the system's choice (or a given one); accepts one peer.
struct Listener {
  explicit Listener(uint16_t want = 0) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(want);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0) {
      close(fd);
      fd = -1;
      return;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Listener() {
    if (peer >= 0) close(peer);
    if (fd >= 0) close(fd);
  }
  bool Accept(int timeout_ms = 3000) {
    if (peer >= 0) close(peer);
    peer = Readable(fd, timeout_ms) ? accept(fd, nullptr, nullptr) : -1;
    return peer >= 0;
  }
  int fd = -1;
  int peer = -1;
  uint16_t port = 0;
};

// A free loopback port: bound by the system, then released.
inline uint16_t FreePort() {
  Listener probe;
  return probe.port;
}

struct Client {
  explicit Client(uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      fd = -1;
    }
  }
  ~Client() { Close(); }
  void Close() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int fd = -1;
};

}  // namespace testpeer
