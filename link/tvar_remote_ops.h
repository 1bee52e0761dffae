// The sending side of the remote variable operations: a client mirror's reads and changes, sent
// to the peer's tree by the node's full dotted name. Each returns the reply's result (0 when the
// peer cannot be reached or answers short); operations the peer does not answer return 1 when
// the request was sent. CVelRpc's XTVarRemote methods are these functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "vartree/tvar_seams.h"

class CVelRpc;

int tVarReadRmtO(CVelRpc* rpc, const std::string& name, uint32_t capacity, TVarRemoteValue* out);
int tVarWriteRmtO(CVelRpc* rpc, const std::string& name, uint32_t type, double number,
                  std::span<const uint8_t> value, const std::string& format);
int tVarGetNextChildNameRmtO(CVelRpc* rpc, const std::string& name, const std::string& prev,
                             std::string* out);
uint32_t tVarGetNumChildrenRmtO(CVelRpc* rpc, const std::string& name);
uint32_t tVarReleaseRmtO(CVelRpc* rpc, const std::string& name, int count);
int tVarReadTreeRmtO(CVelRpc* rpc, const std::string& name, uint32_t size,
                     std::vector<uint8_t>* out);
uint32_t tVarReadTreeSizeRmtO(CVelRpc* rpc, const std::string& name);
int tVarLockRmtO(CVelRpc* rpc, const std::string& name, uint32_t timeout_ms);
int tVarUnLockRmtO(CVelRpc* rpc, const std::string& name);
int tVarMoveUpRmtO(CVelRpc* rpc, const std::string& name);
int tVarMoveDownRmtO(CVelRpc* rpc, const std::string& name);
uint32_t tVarGetRefCountRmtO(CVelRpc* rpc, const std::string& name);
int tVarRenameRmtO(CVelRpc* rpc, const std::string& name, const std::string& new_name);
int tVarPlaceAfterRmtO(CVelRpc* rpc, const std::string& name, const std::string& sibling);
int AppDestsSendMessageRmtO(CVelRpc* rpc, const char* dest, std::span<const uint8_t> data,
                            uint32_t flag);
