// CSockDest: text over the network for roles 1 (server) and 6 (client), TCP or UDP ("UDP"
// non-zero). Bytes go out unchanged; lines are formed by the senders and, on input, by the line
// reader of CConnection. TCP goes through the network node's sockets (net_sockets.h); UDP through
// CBlockingSocket. A TCP client keeps (re)connecting from its own thread once a second; a UDP
// server answers the last peer that sent it a datagram and sends nothing before one has.
//
// Role, port and host are read from the node once and then kept.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "dests/blocking_socket.h"
#include "dests/connection.h"
#include "dests/net_sockets.h"

class CSockDest : public CConnection {
  OZK_DECLARE_RUNTIME_CLASS(CSockDest)

 public:
  static constexpr size_t kDatagramSize = 1500;

  ~CSockDest() override;

  int GetDest(CtVar* dest, DEST_DEF_REC* rec) override;
  int Open(CtVar* dest, int index, DEST_DEF_REC* rec, CAppDests* dests) override;
  int SendMessageW(CtVar* dest, std::span<const uint8_t> data, uint32_t index, CtVar* var) override;
  int RecvMessage(CtVar* dest, std::span<uint8_t> buffer, uint32_t length, uint32_t index,
                  CtVar* var) override;
  int IsConnected(CtVar* dest) override;
  int Cancel() override;
  std::wstring GetDestDescription(CtVar* dest, uint32_t flags) override;

  static CConnection* CreateObject();
  static std::wstring GetConnName(uint32_t role, CtVar* dest);
  static int DetectDevice(uint32_t role);

 private:
  void ReadSettings(CtVar* dest);
  bool IsServer() const { return role_ == 1; }
  int SendTcp(CtVar* dest, std::span<const uint8_t> data);
  int RecvTcp(std::span<uint8_t> buffer, uint32_t length);
  int SendUdp(std::span<const uint8_t> data);
  int RecvUdp(std::span<uint8_t> buffer, uint32_t length);
  void LearnPeer(const sockaddr_in& from);
  void ConnectorLoop();
  bool LinkBroken();
  void StopConnector();

  CAppDests* dests_ = nullptr;
  int index_ = 0;
  bool have_settings_ = false;
  uint32_t role_ = 0;
  int port_ = 0;
  std::string host_;
  bool udp_ = false;

  XNetSockets* net_ = nullptr;
  NetSockHandle node_ = nullptr;
  std::thread connector_;
  std::mutex stop_mu_;
  std::condition_variable stop_cv_;
  bool stop_ = false;

  CBlockingSocket udp_socket_;
  sockaddr_in local_{};
  std::mutex peer_mu_;  // the peer is learned by the reading thread and used by senders
  sockaddr_in peer_{};
  uint8_t datagram_[kDatagramSize] = {};
  size_t datagram_pos_ = 0;
  size_t datagram_fill_ = 0;
};
