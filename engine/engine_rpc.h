// The server functions the engine serves by name (message 20488), and the check every named
// call passes before it reaches them: the function must be one of the served ones, with its
// slot count, and every buffer it writes or reads must have exactly the size the function
// relies on (texts: terminated inside their buffer; a capacity-sized buffer exactly as large as
// the capacity argument or the capacity the call holds). A buffer where the function expects
// none, or none where it expects one, fails too. A call that fails the check is answered
// without a result, which the caller sees as a failed call.
#pragma once

#include "link/vel_rpc.h"

class CVelEngine;

class CEngineRpc : public CVelRpc {
 public:
  CEngineRpc(CNetServerNode* node, CVelEngine* engine);
  CVelEngine* Engine() const { return engine_; }

  // Named calls and the remote variable operations; 1 when the message was one of them.
  int Serve(CLumMsg* request, CLumMsg* reply);

 private:
  bool Acceptable(const CLumMsg& request) const;

  CVelEngine* engine_;
};
