// The stream sockets of the network node, as the socket destinations use them. The network
// node (the server link's transport, netmsg/) installs its implementation when the library
// loads; without one, TCP socket destinations stay unconnected and their sends and receives
// give 0. Every operation may be called from several threads at once on one socket.
#pragma once

#include <cstdint>
#include <span>

using NetSockHandle = void*;

class XNetSockets {
 public:
  virtual ~XNetSockets() = default;
  virtual NetSockHandle NetCreateServerSocket() = 0;
  virtual NetSockHandle NetCreateClientSocket() = 0;
  // Starts accepting one peer on port.
  virtual int NetListen(NetSockHandle s, int port) = 0;
  // Polls for a peer to accept; non-zero once one is connected.
  virtual int NetIsListening(NetSockHandle s) = 0;
  virtual int NetConnect(NetSockHandle s, const char* host, int port) = 0;
  virtual int NetIsConnected(NetSockHandle s) = 0;
  virtual int NetSend(NetSockHandle s, std::span<const uint8_t> data) = 0;
  // Never waits: 0 when nothing is there, negative when the peer has gone. length with bit 31
  // set delivers at most one byte.
  virtual int NetRecv(NetSockHandle s, std::span<uint8_t> buffer, uint32_t length) = 0;
  // The platform socket (a file descriptor), -1 when none.
  virtual int NetGetSocket(NetSockHandle s) = 0;
  virtual void NetDisconnect(NetSockHandle s) = 0;
  virtual void NetDeleteSocket(NetSockHandle s) = 0;
};

// Process-wide; null uninstalls.
void SetNetSockets(XNetSockets* sockets);
XNetSockets* GetNetSockets();
