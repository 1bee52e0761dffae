// The stream sockets of the network node, as the socket destinations use them. The network
// node (the server link's transport) installs its implementation once at start-up; until one
// is installed, TCP socket destinations stay unconnected and their sends and receives give 0.
#pragma once

#include <cstdint>
#include <span>

using NetSocket = void*;

class XNetSockets {
 public:
  virtual ~XNetSockets() = default;
  virtual NetSocket NetCreateServerSocket() = 0;
  virtual NetSocket NetCreateClientSocket() = 0;
  // Starts accepting one peer on port.
  virtual int NetListen(NetSocket s, int port) = 0;
  // Polls for a peer to accept; non-zero once one is connected.
  virtual int NetIsListening(NetSocket s) = 0;
  virtual int NetConnect(NetSocket s, const char* host, int port) = 0;
  virtual int NetIsConnected(NetSocket s) = 0;
  virtual int NetSend(NetSocket s, std::span<const uint8_t> data) = 0;
  // Never waits: 0 when nothing is there. length with bit 31 set delivers at most one byte.
  virtual int NetRecv(NetSocket s, std::span<uint8_t> buffer, uint32_t length) = 0;
  // The platform socket (a file descriptor), -1 when none.
  virtual int NetGetSocket(NetSocket s) = 0;
  virtual void NetDisconnect(NetSocket s) = 0;
  virtual void NetDeleteSocket(NetSocket s) = 0;
};

// Process-wide; null uninstalls.
void SetNetSockets(XNetSockets* sockets);
XNetSockets* GetNetSockets();
