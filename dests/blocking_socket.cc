#include "dests/blocking_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// poll() in milliseconds from seconds and microseconds; negative waits without limit.
int PollFor(int fd, short events, long long timeout_ms) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int wait =
        timeout_ms < 0 ? -1 : static_cast<int>(std::min<long long>(timeout_ms, INT_MAX));
    const int r = poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    return r > 0 ? 1 : r;
  }
}

long long SecondsToMs(int secs) {
  return secs < 0 ? 0 : static_cast<long long>(secs) * 1000;
}

int Clamp(size_t n) {
  return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

}  // namespace

CBlockingSocketException::CBlockingSocketException(const char* operation, int code)
    : operation_(operation ? operation : ""), code_(code ? code : errno) {}

std::string CBlockingSocketException::GetErrorMessage() const {
  return code_ ? operation_ + " error #" + std::to_string(code_) : operation_ + " error";
}

bool CBlockingSocketException::GetErrorMessage(std::span<char> buffer) const {
  if (buffer.empty()) return false;
  const std::string text = GetErrorMessage();
  const size_t n = std::min(text.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), text.data(), n);
  buffer[n] = '\0';
  return true;
}

CBlockingSocket::~CBlockingSocket() {
  Cleanup();
}

void CBlockingSocket::Create(int type) {
  if (fd_ >= 0) return;
  fd_ = ::socket(AF_INET, type | SOCK_CLOEXEC, type == SOCK_DGRAM ? IPPROTO_UDP : 0);
}

void CBlockingSocket::CreateDatagram(const sockaddr_in& local, sockaddr_in* bound) {
  Cleanup();
  Create(SOCK_DGRAM);
  if (fd_ < 0) throw CBlockingSocketException("Create");
  // The original asked its socket layer not to fragment datagrams; the Linux default (path MTU
  // discovery) already behaves that way, so no option is set.
  Bind(local);
  if (bound) GetSockName(bound);
}

void CBlockingSocket::Bind(const sockaddr_in& address) {
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    throw CBlockingSocketException("Bind");
  }
}

int CBlockingSocket::Connect(const sockaddr_in& address, int timeout_secs) {
  if (fd_ < 0) return 0;
  // Non-blocking for the duration of the connect only, so an unreachable host cannot hold the
  // caller for the system's minutes-long SYN retry.
  const int flags = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  int ok = 0;
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    ok = 1;
  } else if (errno == EINPROGRESS && PollFor(fd_, POLLOUT, SecondsToMs(timeout_secs)) == 1) {
    int error = 0;
    socklen_t len = sizeof(error);
    ok = getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
  }
  fcntl(fd_, F_SETFL, flags);
  return ok;
}

void CBlockingSocket::Close() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  Cleanup();
}

void CBlockingSocket::Cleanup() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

sockaddr_in CBlockingSocket::GetHostByName(const char* name, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  const int r = getaddrinfo(name ? name : "", nullptr, &hints, &found);
  if (r != 0 || !found) {
    if (found) freeaddrinfo(found);
    throw CBlockingSocketException("GetHostByName", r ? r : EHOSTUNREACH);
  }
  sockaddr_in address;
  std::memcpy(&address, found->ai_addr, sizeof(address));
  freeaddrinfo(found);
  address.sin_port = htons(port);
  return address;
}

void CBlockingSocket::GetSockName(sockaddr_in* out) const {
  socklen_t len = sizeof(*out);
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(out), &len) != 0) {
    throw CBlockingSocketException("GetSockName");
  }
}

int CBlockingSocket::Receive(std::span<uint8_t> buffer, int timeout_secs) {
  if (fd_ < 0) return 0;
  if (PollFor(fd_, POLLIN, timeout_secs < 1 ? -1 : SecondsToMs(timeout_secs)) != 1) return 0;
  const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  return n > 0 ? Clamp(static_cast<size_t>(n)) : 0;
}

int CBlockingSocket::ReceiveDatagram(std::span<uint8_t> buffer, sockaddr_in* from, int timeout_secs,
                                     int timeout_usecs) {
  if (fd_ < 0) return 0;
  const long long ms = SecondsToMs(timeout_secs) + (timeout_usecs > 0 ? timeout_usecs / 1000 : 0);
  if (PollFor(fd_, POLLIN, ms) != 1) return 0;
  sockaddr_in sender{};
  socklen_t len = sizeof(sender);
  const ssize_t n =
      ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sender), &len);
  if (n < 0) return 0;
  if (from) *from = sender;
  return Clamp(static_cast<size_t>(n));
}

int CBlockingSocket::Send(std::span<const uint8_t> data, int timeout_secs) {
  if (fd_ < 0) return 0;
  if (PollFor(fd_, POLLOUT, SecondsToMs(timeout_secs)) != 1) return 0;
  const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return n > 0 ? Clamp(static_cast<size_t>(n)) : 0;
}

int CBlockingSocket::Write(std::span<const uint8_t> data, int timeout_secs) {
  size_t total = 0;
  while (total < data.size()) {
    const int n = Send(data.subspan(total), timeout_secs);
    if (n <= 0) break;
    total += static_cast<size_t>(n);
  }
  return Clamp(total);
}

int CBlockingSocket::SendDatagram(std::span<const uint8_t> data, const sockaddr_in& to,
                                  int timeout_secs) {
  if (fd_ < 0) return 0;
  if (PollFor(fd_, POLLOUT, SecondsToMs(timeout_secs)) != 1) return 0;
  const ssize_t n = ::sendto(fd_, data.data(), data.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof(to));
  return n >= 0 ? Clamp(static_cast<size_t>(n)) : 0;
}
