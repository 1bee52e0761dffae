// CVelEngine: the reference server's engine, shared by the in-process engine library and the
// velserver program. It owns the appliance model and the server's variable tree, and answers
// every request a client sends: the connection exchanges and the device services.
//
// Clients are told apart by an id (the in-process client is kLoopbackClientId). A client holds
// the server from its "appliance ready" message until it closes or goes away; the in-use query
// reports whether some other client holds it. Every client that holds the server receives the
// results of the inspection (CGaugeService): a network client through the server node, the
// in-process client through the delivery the engine library sets.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "engine/appliance_model.h"
#include "engine/engine_stream.h"
#include "engine/gauge_service.h"
#include "link/server_engine.h"
#include "netmsg/lum_msg.h"
#include "platform/mutex.h"

class CAppDests;
class CtVar;
class CEngineRpc;
class CNetServerNode;

class CVelEngine {
 public:
  // node: the server node the engine's named-call channel sends through (null in-process).
  CVelEngine(const std::string& data_root, CNetServerNode* node,
             const InspectionSettings& inspection = {});
  ~CVelEngine();
  CVelEngine(const CVelEngine&) = delete;
  CVelEngine& operator=(const CVelEngine&) = delete;

  CApplianceModel& Model() { return model_; }
  CtVar* Root() { return root_.get(); }
  port::RecursiveMutex* TreeLock() { return &tree_lock_; }
  // The engine's destination manager, over its own tree; a client in this process adopts it.
  // Data a remote client's manager sends (message 20655) goes out through it.
  CAppDests* AppDests() { return dests_.get(); }
  // How results reach the in-process client (called on a delivery thread of the engine).
  void SetLoopbackDelivery(CResultFanout::Deliver deliver) {
    loopback_deliver_ = std::move(deliver);
  }
  // The in-process client's stream exchange (network clients stream through the server node).
  CEngineStream& LoopbackStream() { return loopback_stream_; }

  // Answers request into reply: the connection exchanges, named calls and remote variable
  // operations, and the device services. Returns 0 (the message layer's success).
  int OnNetMessage(uint32_t client_id, CLumMsg* request, CLumMsg* reply);
  void OnClientDisconnect(uint32_t client_id);

  // Drops a client's connection (set by the program that owns the connections).
  void SetDropClient(std::function<void(uint32_t)> drop) { drop_client_ = std::move(drop); }
  // Called when a client asks the server program to end.
  void SetOnCloseServer(std::function<void()> close) { on_close_ = std::move(close); }

  // The difference between the clock a client set and this machine's, in 100-ns units.
  int64_t ClockOffset() const { return clock_offset_; }

 private:
  bool HandleConnectionMessage(uint32_t client_id, const CLumMsg& request, CLumMsg* reply);
  void AddHolder(uint32_t client_id);
  void RemoveHolder(uint32_t client_id);

  CApplianceModel model_;
  port::RecursiveMutex tree_lock_;
  std::unique_ptr<CtVar> root_;
  std::unique_ptr<CAppDests> dests_;
  CEngineStream loopback_stream_;
  std::unique_ptr<CEngineRpc> rpc_;
  std::mutex clients_mu_;
  std::set<uint32_t> holders_;
  std::function<void(uint32_t)> drop_client_;
  std::function<void()> on_close_;
  std::atomic<int64_t> clock_offset_{0};
  CNetServerNode* const node_;
  CResultFanout::Deliver loopback_deliver_;
  // Last: it reaches the tree, the parameters and the node while it runs.
  std::unique_ptr<CGaugeService> inspection_;
};
