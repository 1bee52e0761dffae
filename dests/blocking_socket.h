// CBlockingSocket: a thin blocking IPv4 socket with time-outs, for the protocol connections
// that talk to one peer at a time (Modbus TCP, UDP sockets, MELSEC over Ethernet).
//
// Sends and receives return the byte count, or 0 on time-out or failure; a peer that closed the
// stream also reads as 0. Only Bind, GetHostByName and GetSockName report failure by throwing
// CBlockingSocketException; callers catch it and treat the link as not connected. Nothing here
// raises SIGPIPE. The object has no lock: its users serialise exchanges.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>
#include <string>

class CBlockingSocketException {
 public:
  // code 0 takes the current errno.
  explicit CBlockingSocketException(const char* operation, int code = 0);

  // "<operation> error #<code>", or "<operation> error" when the code is 0.
  std::string GetErrorMessage() const;
  // The same text, cut to buffer.size() - 1 and zero-terminated; false when buffer is empty.
  bool GetErrorMessage(std::span<char> buffer) const;
  int GetErrorCode() const { return code_; }

 private:
  std::string operation_;
  int code_;
};

class CBlockingSocket {
 public:
  CBlockingSocket() = default;
  ~CBlockingSocket();
  CBlockingSocket(const CBlockingSocket&) = delete;
  CBlockingSocket& operator=(const CBlockingSocket&) = delete;

  // type SOCK_STREAM or SOCK_DGRAM; does nothing when a socket exists. IsOpen() tells.
  void Create(int type = SOCK_STREAM);
  // A UDP socket bound to local; the bound address (port chosen by the system) into bound.
  void CreateDatagram(const sockaddr_in& local, sockaddr_in* bound = nullptr);
  void Bind(const sockaddr_in& address);
  // 1 when connected within timeout_secs, else 0 (the socket stays open for another try).
  int Connect(const sockaddr_in& address, int timeout_secs = 10);
  // Shuts down both ways, then closes. Cleanup closes without the shutdown.
  void Close();
  void Cleanup();
  bool IsOpen() const { return fd_ >= 0; }
  int Handle() const { return fd_; }

  static sockaddr_in GetHostByName(const char* name, uint16_t port);
  void GetSockName(sockaddr_in* out) const;

  // Waits up to timeout_secs for data (below 1: without limit), then one receive.
  int Receive(std::span<uint8_t> buffer, int timeout_secs);
  int ReceiveDatagram(std::span<uint8_t> buffer, sockaddr_in* from, int timeout_secs,
                      int timeout_usecs = 0);
  // One send once the socket is writable within timeout_secs.
  int Send(std::span<const uint8_t> data, int timeout_secs);
  // Repeats Send on the rest until all is sent or a send gives nothing; the total.
  int Write(std::span<const uint8_t> data, int timeout_secs);
  int SendDatagram(std::span<const uint8_t> data, const sockaddr_in& to, int timeout_secs);

 private:
  int fd_ = -1;
};
