#include "netmsg/net_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace netio {

int MapErrno(int err) {
  switch (err) {
    case ECONNREFUSED:
      return kNetErrRefused;
    case ETIMEDOUT:
      return kNetErrTimedOut;
    case EHOSTUNREACH:
    case ENETUNREACH:
      return kNetErrUnreachable;
    case ECONNRESET:
    case EPIPE:
      return kNetErrConnReset;
    case ENOTCONN:
      return kNetErrNotConnected;
    case EADDRINUSE:
      return kNetErrAddrInUse;
    default:
      return kNetErrOther;
  }
}

namespace {

void SetNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Waits for a non-blocking connect to finish; returns 0 or an error number.
int FinishConnect(int fd, uint32_t timeout_ms, const volatile bool* cancel) {
  constexpr int kSliceMs = 50;
  for (uint32_t waited = 0; waited < timeout_ms; waited += kSliceMs) {
    if (cancel && *cancel) return kNetErrConnAborted;
    pollfd p{fd, POLLOUT, 0};
    const int r = poll(&p, 1, kSliceMs);
    if (r < 0 && errno != EINTR) return MapErrno(errno);
    if (r > 0) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      return err ? MapErrno(err) : 0;
    }
  }
  return kNetErrTimedOut;
}

}  // namespace

int TcpConnect(const char* host, int port, uint32_t timeout_ms, const volatile bool* cancel,
               int* fd) {
  if (!host || port <= 0 || port > 65535) return kNetErrHostNotFound;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string name = std::string(host) == "localhost" ? "127.0.0.1" : host;
  if (getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return kNetErrHostNotFound;
  int result = kNetErrOther;
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s >= 0) {
    result = 0;
    if (connect(s, found->ai_addr, found->ai_addrlen) != 0) {
      result = errno == EINPROGRESS ? FinishConnect(s, timeout_ms, cancel) : MapErrno(errno);
    }
  }
  freeaddrinfo(found);
  if (result != 0) {
    if (s >= 0) close(s);
    return result;
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
  SetNoDelay(s);
  *fd = s;
  return 0;
}

int TcpListen(int port, int* fd, int* bound_port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return MapErrno(errno);
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof addr;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    const int err = MapErrno(errno);
    close(s);
    return err;
  }
  *fd = s;
  if (bound_port) *bound_port = ntohs(addr.sin_port);
  return 0;
}

bool SendAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string PeerAddress(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return std::string();
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  return text;
}

}  // namespace netio

// The fd is swapped by connecting and accepting while other threads send, receive and poll:
// every use of it holds mu. Sends are bounded by a send time-out so that a peer that stops
// reading blocks a sender (and the lock) for at most kSendTimeoutMs.
struct NetSocket {
  std::mutex mu;
  bool server = false;
  int listen_fd = -1;
  int listen_port = 0;
  int fd = -1;  // the connected peer
  std::chrono::steady_clock::time_point next_probe;
  bool event_waiting = false;
};

namespace {

constexpr int kConnectTimeoutMs = 5000;
constexpr int kSendTimeoutMs = 3000;
constexpr int kRecvSliceMs = 50;
// Probing the peer for a close costs a system call, and senders ask before every line: probe at
// most this often. A send to a peer gone meanwhile fails and lets the peer go.
constexpr auto kProbeInterval = std::chrono::milliseconds(5);

void CloseFd(int* fd) {
  if (*fd >= 0) {
    shutdown(*fd, SHUT_RDWR);
    close(*fd);
  }
  *fd = -1;
}

void SetSendTimeout(int fd) {
  timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// A peer that closed shows as readable with nothing to read; a reset as an error.
bool PeerGone(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char probe;
  const ssize_t n = recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

NetSocket* NetCreateClientSocket() {
  return new NetSocket;
}

NetSocket* NetCreateServerSocket() {
  NetSocket* s = new NetSocket;
  s->server = true;
  return s;
}

void NetDeleteSocket(NetSocket* s) {
  if (!s) return;
  {
    std::lock_guard lock(s->mu);
    CloseFd(&s->fd);
    CloseFd(&s->listen_fd);
  }
  delete s;
}

int NetConnect(NetSocket* s, const char* host, int port) {
  if (!s || s->server) return kNetErrOther;
  // Connecting may take seconds: senders keep the lock meanwhile and see no peer.
  int fd = -1;
  const int result = netio::TcpConnect(host, port, kConnectTimeoutMs, nullptr, &fd);
  if (result == 0) SetSendTimeout(fd);
  std::lock_guard lock(s->mu);
  CloseFd(&s->fd);
  s->fd = fd;
  return result;
}

int NetListen(NetSocket* s, int port) {
  if (!s || !s->server) return kNetErrOther;
  std::lock_guard lock(s->mu);
  CloseFd(&s->listen_fd);
  return netio::TcpListen(port, &s->listen_fd, &s->listen_port);
}

int NetGetListenPort(NetSocket* s) {
  if (!s) return 0;
  std::lock_guard lock(s->mu);
  return s->listen_port;
}

namespace {

// A server without a peer takes the next one waiting, if any. Holds s->mu.
void AdoptWaitingPeer(NetSocket* s) {
  if (s->fd >= 0 || !s->server || s->listen_fd < 0) return;
  pollfd p{s->listen_fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return;
  s->fd = accept4(s->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (s->fd >= 0) {
    // Lines go out as they are sent, as on a connecting socket.
    netio::SetNoDelay(s->fd);
    SetSendTimeout(s->fd);
  }
}

}  // namespace

int NetIsConnected(NetSocket* s) {
  if (!s) return 0;
  std::lock_guard lock(s->mu);
  if (s->fd >= 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= s->next_probe) {
      s->next_probe = now + kProbeInterval;
      if (PeerGone(s->fd)) CloseFd(&s->fd);
    }
  }
  AdoptWaitingPeer(s);
  return s->fd >= 0 ? 1 : 0;
}

int NetIsListening(NetSocket* s) {
  if (!s) return 0;
  std::lock_guard lock(s->mu);
  return s->listen_fd >= 0 ? 1 : 0;
}

int NetSend(NetSocket* s, const void* data, int length) {
  if (!s || length < 0 || (length > 0 && !data)) return -1;
  std::lock_guard lock(s->mu);
  if (s->fd < 0) return -1;
  if (netio::SendAll(s->fd, data, static_cast<size_t>(length))) return length;
  // A peer that stopped reading keeps its place; one that left since the last probe is let go
  // and the next one waiting gets the bytes.
  if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
  CloseFd(&s->fd);
  AdoptWaitingPeer(s);
  return s->fd >= 0 && netio::SendAll(s->fd, data, static_cast<size_t>(length)) ? length : -1;
}

int NetRecv(NetSocket* s, void* buffer, int length, int wait) {
  if (!s || length <= 0 || !buffer) return -1;
  // Waiting happens in slices with the lock released, so that senders and a disconnect from
  // another thread are never held up by a reader.
  const int limit = !wait ? 0 : (s->event_waiting ? -1 : 1000);
  for (int waited = 0;; waited += kRecvSliceMs) {
    {
      std::lock_guard lock(s->mu);
      if (s->fd < 0) return -1;
      const ssize_t n = recv(s->fd, buffer, static_cast<size_t>(length), MSG_DONTWAIT);
      if (n >= 0) return static_cast<int>(n);
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    }
    if (limit >= 0 && waited >= limit) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(kRecvSliceMs));
  }
}

int NetDisconnect(NetSocket* s) {
  if (!s) return kNetErrOther;
  std::lock_guard lock(s->mu);
  CloseFd(&s->fd);
  return 0;
}

int NetGetSocket(NetSocket* s) {
  if (!s) return -1;
  std::lock_guard lock(s->mu);
  return s->fd;
}

int NetSetEventWaiting(NetSocket* s, int flag) {
  if (!s) return kNetErrOther;
  std::lock_guard lock(s->mu);
  s->event_waiting = flag != 0;
  return 0;
}
