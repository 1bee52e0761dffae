// The client's end of the destination manager's server link: data a client-side manager sends
// "remotely" goes to the server's manager as message 20655 (destination name, data, index) and
// is not awaited. The server hands it to its own manager (CVelRpc::SetDestSender). Deleting a
// destination remotely calls the server's "DeleteAppDest".
#pragma once

#include <cstdint>
#include <span>

#include "dests/app_dests_link.h"
#include "link/rpc_stubs.h"
#include "link/tvar_remote_ops.h"

class CAppDestsRemoteLink : public XAppDestsLink {
 public:
  explicit CAppDestsRemoteLink(CVelRpc* rpc) : rpc_(rpc) {}
  int SendMessageRemote(const char* dest_name, std::span<const uint8_t> data,
                        uint32_t index) override {
    return AppDestsSendMessageRmtO(rpc_, dest_name, data, index);
  }
  int DeleteAppDest(const char* dest_name, uint32_t flags) override {
    return ::DeleteAppDest(rpc_, dest_name, static_cast<int>(flags));
  }

 private:
  CVelRpc* rpc_;
};
