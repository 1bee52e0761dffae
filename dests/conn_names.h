// Connection names and descriptions of the comm roles, computed from a destination node.
//
// Destinations whose connection names are equal share one connection object, so the name says
// what makes a link distinct: the port for a socket server, host and port for a TCP peer, the
// port name for a serial port, nothing for a link of which there is only one per appliance.
// The connection classes use these for their registration and their GetDestDescription.
#pragma once

#include <cstdint>
#include <string>

class CtVar;

// Empty for a role whose name depends on a class of its own (5, 19, 20) or is not a role.
std::wstring DestConnName(uint32_t role, CtVar* dest);

// Description bits.
constexpr uint32_t kDescHideResultPorts = 0x1;  // servers on 5021 and 5022 describe as ""
constexpr uint32_t kDescWithAttached = 0x4;     // the manager lists attached variables
constexpr uint32_t kDescNoBase = 0x8;           // a trailing " Base=%d" is left out

// The description of roles whose text needs only the node (1, 2, 5, 6, 10, 11); "" otherwise.
std::wstring DestBasicDescription(uint32_t role, CtVar* dest, uint32_t flags);
