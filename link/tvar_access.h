// The answering side of the remote variable operations: each function works on the tree of a
// channel (CVelRpc::GetRootTVar), finds the node by its full dotted name with operator[] (so a
// missing path is created), and holds the tree lock for the lookup and the operation. Results:
// 1 (or the count asked for), 0 when the channel has no tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/rpc_frame.h"
#include "netmsg/lum_msg.h"

class CVelRpc;

// Reports type, number and value buffer size; the value is copied for data of exactly capacity
// bytes, or for text and destination references when capacity is at least the size.
int tVarRead(CVelRpc* rpc, const char* name, uint32_t* type, double* number, uint32_t capacity,
             uint32_t* size, std::string* value, std::string* format);
// Sets type and format: 0 (or 3) the number, 1 the text, 2 the data, 4 the destination reference.
int tVarWrite(CVelRpc* rpc, const char* name, uint32_t type, double number, std::string_view value,
              const char* format);
// The first child's name for an empty prev, else the name after the child named prev
// (case-insensitive); empty when there is none.
int tVarGetNextChildName(CVelRpc* rpc, const char* name, const char* prev, std::string* out);
uint32_t tVarGetNumChildren(CVelRpc* rpc, const char* name);
uint32_t tVarGetRefCount(CVelRpc* rpc, const char* name);
// Releases count references (the node is destroyed when none remain); returns what remains.
uint32_t tVarRelease(CVelRpc* rpc, const char* name, int count);
// The serialized subtree, when it fits in size bytes.
int tVarReadTree(CVelRpc* rpc, const char* name, uint32_t size, std::vector<uint8_t>* out);
uint32_t tVarReadTreeSize(CVelRpc* rpc, const char* name);
int tVarRename(CVelRpc* rpc, const char* name, const char* new_name);
int tVarMoveUp(CVelRpc* rpc, const char* name);
int tVarMoveDown(CVelRpc* rpc, const char* name);
// sibling empty: the node goes first.
int tVarPlaceAfter(CVelRpc* rpc, const char* name, const char* sibling);
// Enters the tree lock on behalf of the peer; tVarUnLock leaves it.
int tVarLock(CVelRpc* rpc, const char* name, uint32_t timeout_ms);
int tVarUnLock(CVelRpc* rpc, const char* name);
// The named call behind tVarReadCountsRmtO; this side keeps no counts and answers 0.
OZK_RPC_FUNCTION(tVarReadCounts);

// Answers a remote variable message (20667 to 20680) into reply; 0 for other ids.
int ServeVarMessage(CVelRpc* rpc, const CLumMsg& request, CLumMsg* reply);
