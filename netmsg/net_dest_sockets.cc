// The network node's socket functions serve the socket destinations: this installs them
// behind the destinations' XNetSockets seam when the library loads, so that every manager of
// the process (client or in-process engine) gets real TCP links without naming this layer.
#include <algorithm>

#include "dests/net_sockets.h"
#include "netmsg/net_socket.h"

namespace {

NetSocket* Sock(NetSockHandle s) {
  return static_cast<NetSocket*>(s);
}

class CNetNodeDestSockets : public XNetSockets {
 public:
  NetSockHandle NetCreateServerSocket() override { return ::NetCreateServerSocket(); }
  NetSockHandle NetCreateClientSocket() override { return ::NetCreateClientSocket(); }
  int NetListen(NetSockHandle s, int port) override { return ::NetListen(Sock(s), port); }
  int NetIsListening(NetSockHandle s) override { return ::NetIsListening(Sock(s)); }
  int NetConnect(NetSockHandle s, const char* host, int port) override {
    return ::NetConnect(Sock(s), host, port);
  }
  int NetIsConnected(NetSockHandle s) override { return ::NetIsConnected(Sock(s)); }
  int NetSend(NetSockHandle s, std::span<const uint8_t> data) override {
    return ::NetSend(Sock(s), data.data(), static_cast<int>(data.size()));
  }
  int NetRecv(NetSockHandle s, std::span<uint8_t> buffer, uint32_t length) override {
    if (buffer.empty()) return 0;
    const size_t want = (length & 0x80000000u) ? 1 : std::min<size_t>(length, buffer.size());
    if (want == 0) return 0;
    const int n = ::NetRecv(Sock(s), buffer.data(), static_cast<int>(want), 0);
    // The node reports "nothing yet" as -1 and a closed peer as 0; callers here see the
    // reverse: nothing is 0, a broken link is negative.
    if (n == 0) return -1;
    return n < 0 ? 0 : n;
  }
  int NetGetSocket(NetSockHandle s) override { return ::NetGetSocket(Sock(s)); }
  void NetDisconnect(NetSockHandle s) override { ::NetDisconnect(Sock(s)); }
  void NetDeleteSocket(NetSockHandle s) override { ::NetDeleteSocket(Sock(s)); }
};

struct Installer {
  Installer() { SetNetSockets(&sockets); }
  ~Installer() { SetNetSockets(nullptr); }
  CNetNodeDestSockets sockets;
};
Installer g_installer;

}  // namespace
