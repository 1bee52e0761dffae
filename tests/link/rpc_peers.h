// Two ends of a server link in one test process: a server node and a client node, each with its
// CVelRpc, connected over loopback TCP on an ephemeral port.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "link/vel_rpc.h"
#include "netmsg/net_node.h"

class RpcServer : public CNetServerNode {
 public:
  ~RpcServer() override { Close(); }
  int OnNetMessage(int client, CLumMsg* request, CLumMsg* reply) override {
    if (intercept && intercept(request, reply)) return 1;
    return rpc.OnNetMessage(request, reply);
  }
  CVelRpc rpc{this};
  // Returns true when it answered the message itself.
  std::function<bool(CLumMsg*, CLumMsg*)> intercept;
};

class RpcClient : public CNetClientNode {
 public:
  ~RpcClient() override { Disconnect(); }
  int OnNetMessage(CLumMsg* request, CLumMsg* reply) override {
    return rpc.OnNetMessage(request, reply);
  }
  CVelRpc rpc{this};
};

// Connects client to server; false when the link did not come up.
inline bool ConnectPeers(RpcServer* server, RpcClient* client) {
  if (server->Listen(0) != 0) return false;
  if (client->Connect("127.0.0.1", server->GetPort()) != 0) return false;
  for (int i = 0; i < 1000 && server->GetClientCount() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return server->GetClientCount() == 1;
}
