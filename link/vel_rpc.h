// CVelRpc: the call channel between client and server over one message connection.
//
// It calls a peer function by name with a packed frame (InvokeProxy, and the stubs built on
// it), serves the peer's named calls (InvokeRpc: message 20488), carries the remote variable
// operations of a client mirror (it is the mirror's XTVarRemote) and answers them from its own
// tree (OnNetMessage: 20667 to 20680). Sends go through the client node, or on a server node to
// the first connected client.
//
// A served call is untrusted: a frame whose name is not terminated, whose slot count is not 1 to
// 8, or whose descriptors point outside the received data block is refused (InvokeRpc returns 0)
// before anything is called. Functions are found in the sorted map (at most 400 entries), then in
// the libraries of the search list (each loaded once; "this" is the host program), by the plain
// name and then by "_name@bytes" (bytes = slot count * 8); a hit joins the map.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "link/peer_lock.h"
#include "link/rpc_frame.h"
#include "netmsg/net_node.h"
#include "vartree/tvar_seams.h"

namespace port {
class SharedLibrary;
}
class CtVar;

constexpr int32_t kMsgInvoke = 20488;
constexpr int32_t kMsgSendToDest = 20655;
constexpr int32_t kMsgVarRead = 20667;
constexpr int32_t kMsgVarWrite = 20668;
constexpr int32_t kMsgVarNextChildName = 20669;
constexpr int32_t kMsgVarNumChildren = 20670;
constexpr int32_t kMsgVarRelease = 20671;
constexpr int32_t kMsgVarReadTree = 20672;
constexpr int32_t kMsgVarReadTreeSize = 20673;
constexpr int32_t kMsgVarLock = 20674;
constexpr int32_t kMsgVarUnLock = 20675;
constexpr int32_t kMsgVarMoveUp = 20676;
constexpr int32_t kMsgVarMoveDown = 20677;
constexpr int32_t kMsgVarRefCount = 20678;
constexpr int32_t kMsgVarRename = 20679;
constexpr int32_t kMsgVarPlaceAfter = 20680;

constexpr size_t kRpcMapCapacity = 400;

class CVelRpc : public XTVarRemote {
 public:
  explicit CVelRpc(CNetClientNode* client);
  explicit CVelRpc(CNetServerNode* server);
  ~CVelRpc() override;
  CVelRpc(const CVelRpc&) = delete;
  CVelRpc& operator=(const CVelRpc&) = delete;

  // Adds a library name to the search list (once).
  int AddRpcDll(const char* library);
  // Appends entries and re-sorts; count 0 takes the table up to its first null address.
  // Returns the number added (the map holds at most kRpcMapCapacity).
  int AddFunctionMapTable(const OZK_RPC_FUNC_MAP* table, int count);

  // Calls the peer function the frame names; frame->args points to the caller's slots.
  // Returns the result, 0 on failure or when this thread is serving a call on this channel.
  double InvokeProxy(OZK_RPC_INVOKE_STRUCT* frame);
  // Serves a call: 1 when the function was found and called (result in *result), else 0.
  int InvokeRpc(OZK_RPC_INVOKE_STRUCT* frame, uint64_t* slots, uint32_t slot_count, uint8_t* data,
                uint32_t data_size, double* result);
  bool InsideInvoke() const;

  // 0 on success.
  int SendNetMessage(CLumMsg* request, CLumMsg* reply);
  // Answers 20488 and 20655 to 20680; returns 1 when the message was one of them.
  int OnNetMessage(CLumMsg* request, CLumMsg* reply);

  CtVar* GetRootTVar() const { return root_; }
  void SetRootTVar(CtVar* root) { root_ = root; }
  XTVarDests* GetAppDest() override { return app_dest_; }
  void SetAppDest(XTVarDests* dests) { app_dest_ = dests; }
  // Who answers 20655 (send to a destination) on this side; unset, the message is dropped.
  using DestSender = std::function<int(const char* dest, std::span<const uint8_t>, uint32_t)>;
  void SetDestSender(DestSender sender) { dest_sender_ = std::move(sender); }
  int SendToDest(const char* dest, std::span<const uint8_t> data, uint32_t flag);

  // The tree lock as the peer holds it (tVarLock / tVarUnLock); see PeerTreeLock.
  int EnterTreeLockForPeer() { return peer_lock_.Lock(); }
  int LeaveTreeLockForPeer() { return peer_lock_.Unlock(); }

  // ---- XTVarRemote: the mirror's operations, sent to the peer ----
  int ReadVar(const std::string& full_name, uint32_t capacity, TVarRemoteValue* out) override;
  int WriteVar(const std::string& full_name, uint32_t type, double number,
               std::span<const uint8_t> value, const std::string& format) override;
  int GetNextChildName(const std::string& full_name, const std::string& prev,
                       std::string* out) override;
  uint32_t GetNumChildren(const std::string& full_name) override;
  uint32_t Release(const std::string& full_name, int count) override;
  uint32_t ReadTreeSize(const std::string& full_name) override;
  int ReadTree(const std::string& full_name, uint32_t size, std::vector<uint8_t>* out) override;
  int Lock(const std::string& full_name, uint32_t timeout_ms) override;
  int UnLock(const std::string& full_name) override;
  int MoveUp(const std::string& full_name) override;
  int MoveDown(const std::string& full_name) override;
  uint32_t GetRefCount(const std::string& full_name) override;
  int Rename(const std::string& full_name, const std::string& new_name) override;
  int PlaceAfter(const std::string& full_name, const std::string& after_full_name) override;

 private:
  OzkRpcFunction Lookup(const char* name, uint32_t slot_count);
  OzkRpcFunction FindInMap(const char* name);
  void AddToMap(const char* name, OzkRpcFunction fn);
  void ServeInvoke(const CLumMsg& request, CLumMsg* reply);

  CNetClientNode* const client_ = nullptr;
  CNetServerNode* const server_ = nullptr;
  CtVar* root_ = nullptr;
  XTVarDests* app_dest_ = nullptr;
  DestSender dest_sender_;

  std::timed_mutex map_mu_;
  std::vector<OZK_RPC_FUNC_MAP> map_;  // sorted by name
  std::mutex libs_mu_;
  std::vector<std::string> libraries_;
  std::map<std::string, std::unique_ptr<port::SharedLibrary>> loaded_;  // null: failed to load

  PeerTreeLock peer_lock_;
};
