// The network nodes of the server link: CNetClientNode (one connection to a server) and
// CNetServerNode (accepts clients). Both carry CLumMsg requests both ways over TCP: a node's
// OnNetMessage answers the peer's requests (on a handler thread, never the socket reader) while
// its own SendNetMessage calls wait for their replies. Requests from one peer are answered in
// the order they were sent.
//
// Results: 0 for success, otherwise an error number (net_socket.h; 10061: refused).
// OnDisconnect (client) and OnClientDisconnect (server) fire once when the peer goes away or the
// link breaks, not when this side disconnects, on the thread that noticed (a handler thread, or a
// caller waiting for its reply); waiting callers are released with an error.
// A class derived from a node must call Disconnect (or Close) in its own destructor, so that no
// callback reaches a half-destroyed object.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netmsg/lum_msg.h"
#include "netmsg/net_connection.h"

class CNetClientNode : private NetConnection::Owner {
 public:
  CNetClientNode();
  virtual ~CNetClientNode();
  CNetClientNode(const CNetClientNode&) = delete;
  CNetClientNode& operator=(const CNetClientNode&) = delete;

  virtual int Connect(const char* host, int port);
  virtual int Disconnect();
  // reply null: sent without waiting.
  virtual int SendNetMessage(CLumMsg* request, CLumMsg* reply);
  // A request from the server; reply goes back when this returns.
  virtual int OnNetMessage(CLumMsg* request, CLumMsg* reply);
  virtual void OnConnected() {}
  virtual void OnDisconnect(int reason) {}
  // Ends a Connect in progress on another thread.
  virtual void ConnectCancel();
  virtual void SetConnectDialogStatus(const std::wstring& status) {}
  virtual void SetCancelConnectEnable(int enable) {}
  virtual int SendStreamStart(int id, long total, int flag);
  virtual int ResponseStreamStart(int* length);
  virtual int StreamWrite(int length, unsigned char* data);
  virtual int StreamRead(int length, unsigned char* buffer);
  // A stream from the server: read it with StreamRead, answer with SendStreamStart/StreamWrite.
  virtual int OnRcvStreamStart(int id, int length) { return 0; }
  virtual int StreamEnd();

  int Initialize(const char* node_name);
  void Terminate();
  int GetFromServerSocket();
  std::string GetClientAddress();
  std::string GetClientHost() const { return host_; }
  bool IsConnected();
  void SetReplyTimeout(uint32_t ms) { reply_timeout_ms_ = ms; }

 private:
  void OnRequest(NetConnection* c, CLumMsg* request, CLumMsg* reply) override;
  void OnStreamStart(NetConnection* c, int id, int length) override;
  void OnClosed(NetConnection* c, int reason) override;
  std::shared_ptr<NetConnection> Current();
  // Destroys parked connections that are not running this thread.
  void Reap();

  std::mutex mu_;
  std::shared_ptr<NetConnection> conn_;
  std::vector<std::shared_ptr<NetConnection>> parked_;
  std::string node_name_;
  std::string host_;
  volatile bool cancel_ = false;
  uint32_t reply_timeout_ms_ = 60000;
};

class CNetServerNode : private NetConnection::Owner {
 public:
  CNetServerNode();
  virtual ~CNetServerNode();
  CNetServerNode(const CNetServerNode&) = delete;
  CNetServerNode& operator=(const CNetServerNode&) = delete;

  // Port 0 takes an ephemeral port (see GetPort).
  int Listen(int port);
  int GetPort() const { return port_; }
  // Stops listening and drops every client.
  void Close();

  int GetClientCount();
  // The id of the index-th connected client, or -1.
  int GetClientId(int index);
  int SendNetMessage(int client_id, CLumMsg* request, CLumMsg* reply);
  void DisconnectClient(int client_id);

  virtual int OnNetMessage(int client_id, CLumMsg* request, CLumMsg* reply) { return 0; }
  virtual void OnClientConnected(int client_id) {}
  virtual void OnClientDisconnect(int client_id, int reason) {}
  // A stream from a client; read and answer as on the client node.
  virtual int OnRcvStreamStart(int client_id, int id, int length) { return 0; }
  int StreamRead(int length, unsigned char* buffer);
  int SendStreamStart(int id, long total, int flag);
  int StreamWrite(int length, unsigned char* data);

 private:
  void OnRequest(NetConnection* c, CLumMsg* request, CLumMsg* reply) override;
  void OnStreamStart(NetConnection* c, int id, int length) override;
  void OnClosed(NetConnection* c, int reason) override;
  void AcceptLoop();
  std::shared_ptr<NetConnection> Find(int client_id);
  void Reap();

  std::mutex mu_;
  int listen_fd_ = -1;
  int port_ = 0;
  int next_id_ = 1;
  bool stopping_ = false;
  std::thread acceptor_;
  std::vector<std::shared_ptr<NetConnection>> clients_;
  std::vector<std::shared_ptr<NetConnection>> parked_;
};
