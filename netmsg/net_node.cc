#include "netmsg/net_node.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "netmsg/net_socket.h"

namespace {

constexpr uint32_t kConnectTimeoutMs = 5000;

using ConnList = std::vector<std::shared_ptr<NetConnection>>;

// Takes the parked connections that can be destroyed now: nobody else holds them and this thread
// is not one of theirs. They are destroyed by the caller, outside the node's lock, because
// destroying one waits for its threads, which may be inside a callback that takes that lock.
ConnList TakeReapable(ConnList* parked) {
  ConnList done;
  for (auto it = parked->begin(); it != parked->end();) {
    if (it->use_count() == 1 && !(*it)->IsOwnThread()) {
      done.push_back(std::move(*it));
      it = parked->erase(it);
    } else {
      ++it;
    }
  }
  return done;
}

}  // namespace

// ---- Client node ----

CNetClientNode::CNetClientNode() = default;

CNetClientNode::~CNetClientNode() {
  Disconnect();
  ConnList all;
  {
    std::lock_guard<std::mutex> lock(mu_);
    all.swap(parked_);
  }
}

int CNetClientNode::Initialize(const char* node_name) {
  node_name_ = node_name ? node_name : "";
  return 1;
}

void CNetClientNode::Terminate() {
  Disconnect();
}

int CNetClientNode::Connect(const char* host, int port) {
  Disconnect();
  cancel_ = false;
  int fd = -1;
  const int err = netio::TcpConnect(host, port, kConnectTimeoutMs, &cancel_, &fd);
  if (err) return err;
  auto conn = std::make_shared<NetConnection>(fd, static_cast<NetConnection::Owner*>(this), 0);
  conn->SetReplyTimeout(reply_timeout_ms_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    host_ = host;
    conn_ = conn;
  }
  conn->Start();
  OnConnected();
  return 0;
}

void CNetClientNode::ConnectCancel() {
  cancel_ = true;
}

int CNetClientNode::Disconnect() {
  std::shared_ptr<NetConnection> conn;
  {
    std::lock_guard<std::mutex> lock(mu_);
    conn = std::move(conn_);
    if (conn) {
      conn->Close();
      parked_.push_back(std::move(conn));
    }
  }
  Reap();
  return 0;
}

void CNetClientNode::Reap() {
  ConnList done;
  {
    std::lock_guard<std::mutex> lock(mu_);
    done = TakeReapable(&parked_);
  }
}

std::shared_ptr<NetConnection> CNetClientNode::Current() {
  std::lock_guard<std::mutex> lock(mu_);
  return conn_;
}

bool CNetClientNode::IsConnected() {
  auto conn = Current();
  return conn && conn->IsOpen();
}

int CNetClientNode::GetFromServerSocket() {
  auto conn = Current();
  return conn ? conn->Fd() : -1;
}

std::string CNetClientNode::GetClientAddress() {
  auto conn = Current();
  return conn ? netio::PeerAddress(conn->Fd()) : std::string();
}

int CNetClientNode::SendNetMessage(CLumMsg* request, CLumMsg* reply) {
  auto conn = Current();
  if (!conn || !request) return kNetErrNotConnected;
  return conn->Request(*request, reply);
}

int CNetClientNode::OnNetMessage(CLumMsg* request, CLumMsg* reply) {
  return 0;
}

void CNetClientNode::OnRequest(NetConnection* c, CLumMsg* request, CLumMsg* reply) {
  OnNetMessage(request, reply);
}

void CNetClientNode::OnStreamStart(NetConnection* c, int id, int length) {
  OnRcvStreamStart(id, length);
}

void CNetClientNode::OnClosed(NetConnection* c, int reason) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn_.get() != c) return;
    parked_.push_back(std::move(conn_));
  }
  OnDisconnect(reason);
}

// The stream operations act on the stream being served when called from OnRcvStreamStart, else
// on this node's own stream towards the server.
namespace {
template <typename F>
int OnStream(const std::shared_ptr<NetConnection>& own, F f) {
  if (NetConnection* serving = NetConnection::Serving()) return f(serving);
  return own ? f(own.get()) : kNetErrNotConnected;
}
}  // namespace

int CNetClientNode::SendStreamStart(int id, long total, int flag) {
  return OnStream(Current(), [&](NetConnection* c) { return c->SendStreamStart(id, total, flag); });
}

int CNetClientNode::ResponseStreamStart(int* length) {
  return OnStream(Current(), [&](NetConnection* c) { return c->ResponseStreamStart(length); });
}

int CNetClientNode::StreamWrite(int length, unsigned char* data) {
  return OnStream(Current(), [&](NetConnection* c) { return c->StreamWrite(length, data); });
}

int CNetClientNode::StreamRead(int length, unsigned char* buffer) {
  return OnStream(Current(), [&](NetConnection* c) { return c->StreamRead(length, buffer); });
}

int CNetClientNode::StreamEnd() {
  return OnStream(Current(), [&](NetConnection* c) { return c->StreamEnd(); });
}

// ---- Server node ----

CNetServerNode::CNetServerNode() = default;

CNetServerNode::~CNetServerNode() {
  Close();
}

int CNetServerNode::Listen(int port) {
  Close();
  int fd = -1;
  const int err = netio::TcpListen(port, &fd, &port_);
  if (err) return err;
  {
    std::lock_guard<std::mutex> lock(mu_);
    listen_fd_ = fd;
    stopping_ = false;
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return 0;
}

void CNetServerNode::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
    }
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::shared_ptr<NetConnection> conn;
    {
      std::lock_guard<std::mutex> lock(mu_);
      conn =
          std::make_shared<NetConnection>(fd, static_cast<NetConnection::Owner*>(this), next_id_++);
      clients_.push_back(conn);
    }
    conn->Start();
    OnClientConnected(conn->Id());
    Reap();
  }
}

void CNetServerNode::Close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  if (acceptor_.joinable()) acceptor_.join();
  ConnList all;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
    for (auto& c : clients_) c->Close();
    all.swap(clients_);
    for (auto& c : parked_) all.push_back(std::move(c));
    parked_.clear();
  }
}

void CNetServerNode::Reap() {
  ConnList done;
  {
    std::lock_guard<std::mutex> lock(mu_);
    done = TakeReapable(&parked_);
  }
}

std::shared_ptr<NetConnection> CNetServerNode::Find(int client_id) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& c : clients_)
    if (c->Id() == client_id) return c;
  return nullptr;
}

int CNetServerNode::GetClientCount() {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(clients_.size());
}

int CNetServerNode::GetClientId(int index) {
  std::lock_guard<std::mutex> lock(mu_);
  if (index < 0 || static_cast<size_t>(index) >= clients_.size()) return -1;
  return clients_[index]->Id();
}

int CNetServerNode::SendNetMessage(int client_id, CLumMsg* request, CLumMsg* reply) {
  auto conn = Find(client_id);
  if (!conn || !request) return kNetErrNotConnected;
  return conn->Request(*request, reply);
}

void CNetServerNode::DisconnectClient(int client_id) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = std::find_if(clients_.begin(), clients_.end(),
                           [&](const auto& c) { return c->Id() == client_id; });
    if (it == clients_.end()) return;
    (*it)->Close();
    parked_.push_back(std::move(*it));
    clients_.erase(it);
  }
  Reap();
}

void CNetServerNode::OnRequest(NetConnection* c, CLumMsg* request, CLumMsg* reply) {
  OnNetMessage(c->Id(), request, reply);
}

void CNetServerNode::OnStreamStart(NetConnection* c, int id, int length) {
  OnRcvStreamStart(c->Id(), id, length);
}

void CNetServerNode::OnClosed(NetConnection* c, int reason) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it =
        std::find_if(clients_.begin(), clients_.end(), [&](const auto& p) { return p.get() == c; });
    if (it == clients_.end()) return;
    parked_.push_back(std::move(*it));
    clients_.erase(it);
  }
  OnClientDisconnect(c->Id(), reason);
}

int CNetServerNode::StreamRead(int length, unsigned char* buffer) {
  NetConnection* c = NetConnection::Serving();
  return c ? c->StreamRead(length, buffer) : kNetErrNotConnected;
}

int CNetServerNode::SendStreamStart(int id, long total, int flag) {
  NetConnection* c = NetConnection::Serving();
  return c ? c->SendStreamStart(id, total, flag) : kNetErrNotConnected;
}

int CNetServerNode::StreamWrite(int length, unsigned char* data) {
  NetConnection* c = NetConnection::Serving();
  return c ? c->StreamWrite(length, data) : kNetErrNotConnected;
}
