#include "dests/sock_dest.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "dests/app_dests.h"
#include "dests/conn_factory.h"
#include "dests/conn_names.h"
#include "vartree/tvar.h"

OZK_IMPLEMENT_RUNTIME_CLASS(CSockDest, CConnection)

namespace {

std::atomic<XNetSockets*> g_net{nullptr};

// Serialises disconnecting and deleting node sockets across all destinations.
std::timed_mutex& SocketMutex() {
  static std::timed_mutex mu;
  return mu;
}
constexpr auto kSocketWait = std::chrono::milliseconds(2000);
constexpr auto kReconnectPeriod = std::chrono::milliseconds(1000);
// Unread input beyond this is a peer flooding a link nobody reads; it is thrown away.
constexpr int kMaxUnreadBytes = 1000;

OzkAppDestRegistration g_server(OZK_ROLE_SOCK_SERVER, CSockDest::CreateObject,
                                CSockDest::GetConnName, CSockDest::DetectDevice);
OzkAppDestRegistration g_client(OZK_ROLE_SOCK_CLIENT, CSockDest::CreateObject,
                                CSockDest::GetConnName, CSockDest::DetectDevice);

}  // namespace

void SetNetSockets(XNetSockets* sockets) {
  g_net.store(sockets);
}
XNetSockets* GetNetSockets() {
  return g_net.load();
}

CConnection* CSockDest::CreateObject() {
  return new CSockDest;
}
std::wstring CSockDest::GetConnName(uint32_t role, CtVar* dest) {
  return DestConnName(role, dest);
}
int CSockDest::DetectDevice(uint32_t) {
  return 0;
}

CSockDest::~CSockDest() {
  StopConnector();
  std::unique_lock<std::timed_mutex> guard(SocketMutex(), kSocketWait);
  if (net_ && node_) {
    net_->NetDisconnect(node_);
    net_->NetDeleteSocket(node_);
  }
}

void CSockDest::ReadSettings(CtVar* dest) {
  if (have_settings_ || !dest) return;
  role_ = DestKeyU32(dest, "Role");
  port_ = static_cast<int>(DestKeyU32(dest, "PortNum"));
  host_ = DestKeyText(dest, "IpAddr");
  udp_ = DestKeyNumber(dest, "UDP") != 0;
  have_settings_ = true;
}

int CSockDest::GetDest(CtVar* dest, DEST_DEF_REC* rec) {
  if (!rec) return 0;
  ReadSettings(dest);
  rec->role = role_;
  DEST_SOCK_BODY body{};
  body.port = static_cast<uint32_t>(port_);
  if (!IsServer()) SetFixedText(body.host, host_);
  SetRecBody(rec, body);
  return 1;
}

std::wstring CSockDest::GetDestDescription(CtVar* dest, uint32_t flags) {
  return DestBasicDescription(DestKeyU32(dest, "Role"), dest, flags);
}

int CSockDest::Open(CtVar* dest, int index, DEST_DEF_REC*, CAppDests* dests) {
  dests_ = dests;
  index_ = index;
  ReadSettings(dest);
  if (port_ <= 0 || port_ > 65535) return 1;  // a placeholder server, nothing to open
  if (udp_) {
    try {
      if (IsServer()) {
        local_ = sockaddr_in{};
        local_.sin_family = AF_INET;
        local_.sin_addr.s_addr = htonl(INADDR_ANY);
        local_.sin_port = htons(static_cast<uint16_t>(port_));
        peer_ = sockaddr_in{};
        if (!udp_socket_.IsOpen()) udp_socket_.CreateDatagram(local_);
      } else {
        if (!udp_socket_.IsOpen()) {
          sockaddr_in any{};
          any.sin_family = AF_INET;
          udp_socket_.CreateDatagram(any, &local_);
        }
        peer_ = CBlockingSocket::GetHostByName(host_.c_str(), static_cast<uint16_t>(port_));
      }
    } catch (const CBlockingSocketException&) {
      // Not connected: sends give 0 until the destination is opened again.
      udp_socket_.Cleanup();
    }
    return 1;
  }
  net_ = GetNetSockets();
  if (!net_) return 1;
  const bool in_process = dests && dests->HasServerEngine();
  if (IsServer()) {
    if (!node_) node_ = net_->NetCreateServerSocket();
    if (node_ && in_process) {
      // A port another program holds (10048) stays the connection's last error: the
      // destination never gets a peer, and its owner can tell why.
      const int result = net_->NetListen(node_, port_);
      SetLastError(static_cast<uint16_t>(result));
      if (result != 0) return 0;
    }
  } else {
    if (!node_) node_ = net_->NetCreateClientSocket();
    if (node_ && in_process && !connector_.joinable()) {
      stop_ = false;
      connector_ = std::thread(&CSockDest::ConnectorLoop, this);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return 1;
}

int CSockDest::SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t, CtVar*) {
  ReadSettings(dest);
  return udp_ ? SendUdp(data) : SendTcp(dest, data);
}

int CSockDest::RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t,
                           CtVar*) {
  ReadSettings(dest);
  if (buffer.empty()) return 0;
  return udp_ ? RecvUdp(buffer, length) : RecvTcp(buffer, length);
}

int CSockDest::IsConnected(CtVar*) {
  if (udp_) return udp_socket_.IsOpen() ? 1 : 0;
  return net_ && node_ && net_->NetIsConnected(node_) ? 1 : 0;
}

int CSockDest::Cancel() {
  {
    std::unique_lock<std::timed_mutex> guard(SocketMutex(), kSocketWait);
    if (net_ && node_) net_->NetDisconnect(node_);
  }
  udp_socket_.Close();
  return 1;
}

// ---- TCP ----

int CSockDest::SendTcp(CtVar* dest, std::span<const uint8_t> data) {
  if (!net_ || !node_) return 0;
  if (!LockSend(1)) return 0;
  int ok = 0;
  if (IsServer()) {
    // Asking whether a peer is connected also adopts one that is waiting.
    const bool connected =
        net_->NetIsConnected(node_) || (net_->NetIsListening(node_) && net_->NetIsConnected(node_));
    const bool is_5020 = dests_ && dest && dests_->GetSysDest(SYS_DEST_SOCK_5020) == dest;
    if (connected) {
      std::string pending;
      if (is_5020 && dests_->TakePendingText(&pending)) {
        net_->NetSend(node_,
                      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(pending.c_str()),
                                               pending.size() + 1));
      }
      ok = data.empty() || net_->NetSend(node_, data) == static_cast<int>(data.size());
    } else if (is_5020) {
      dests_->MarkPendingText();
    }
  } else if (net_->NetIsConnected(node_)) {
    ok = net_->NetSend(node_, data) == static_cast<int>(data.size());
  }
  LockSend(0);
  return ok;
}

int CSockDest::RecvTcp(std::span<uint8_t> buffer, uint32_t length) {
  if (!net_ || !node_) return 0;
  const uint32_t want =
      (length & kRecvBufferedFlag) ? 1 : std::min<uint32_t>(length, buffer.size());
  const std::span<uint8_t> into = buffer.first(want ? want : 1);
  const bool hold = IsServer() && (length & kRecvBufferedFlag);
  if (hold && !LockSend(1)) return 0;
  // The peer's bytes first, so that a peer that closed reads as a broken link (negative);
  // a server with no peer yet adopts a waiting one and reads again.
  int n = net_->NetRecv(node_, into, length);
  if (n == 0 && IsServer() && net_->NetIsConnected(node_)) n = net_->NetRecv(node_, into, length);
  if (hold) LockSend(0);
  return n;
}

void CSockDest::ConnectorLoop() {
  std::unique_lock<std::mutex> guard(stop_mu_);
  while (!stop_) {
    guard.unlock();
    if (!net_->NetIsConnected(node_)) {
      net_->NetConnect(node_, host_.c_str(), port_);
    } else if (LinkBroken()) {
      Cancel();
    }
    guard.lock();
    stop_cv_.wait_for(guard, kReconnectPeriod, [this] { return stop_; });
  }
}

bool CSockDest::LinkBroken() {
  if (!LockSend(1)) return false;
  bool broken = false;
  const int fd = net_->NetGetSocket(node_);
  if (fd < 0) {
    broken = true;
  } else {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) == 1) {
      int waiting = 0;
      if (ioctl(fd, FIONREAD, &waiting) != 0 || waiting == 0) {
        broken = true;  // readable with nothing to read: the peer closed
      } else if (waiting > kMaxUnreadBytes) {
        std::vector<uint8_t> drop(static_cast<size_t>(waiting));
        while (recv(fd, drop.data(), drop.size(), MSG_DONTWAIT) > 0) {
        }
      }
    }
  }
  LockSend(0);
  return broken;
}

void CSockDest::StopConnector() {
  {
    std::lock_guard<std::mutex> guard(stop_mu_);
    stop_ = true;
  }
  stop_cv_.notify_all();
  if (connector_.joinable()) connector_.join();
}

// ---- UDP ----

int CSockDest::SendUdp(std::span<const uint8_t> data) {
  sockaddr_in peer;
  {
    std::lock_guard<std::mutex> guard(peer_mu_);
    peer = peer_;
  }
  if (!udp_socket_.IsOpen() || peer.sin_port == 0) return 0;
  if (data.empty()) return 1;
  return udp_socket_.SendDatagram(data, peer, 1) == static_cast<int>(data.size()) ? 1 : 0;
}

void CSockDest::LearnPeer(const sockaddr_in& from) {
  if (!IsServer()) return;
  std::lock_guard<std::mutex> guard(peer_mu_);
  peer_ = from;
}

int CSockDest::RecvUdp(std::span<uint8_t> buffer, uint32_t length) {
  if (!udp_socket_.IsOpen()) return 0;
  sockaddr_in from{};
  if (!(length & kRecvBufferedFlag)) {
    const int n = udp_socket_.ReceiveDatagram(buffer, &from, 0);
    if (n > 0) LearnPeer(from);
    return n;
  }
  if (datagram_pos_ >= datagram_fill_) {
    const int n = udp_socket_.ReceiveDatagram(datagram_, &from, 0);
    if (n <= 0) return 0;
    LearnPeer(from);
    datagram_pos_ = 0;
    datagram_fill_ = static_cast<size_t>(n);
  }
  buffer[0] = datagram_[datagram_pos_++];
  return 1;
}
