// Message ids the server sends the client: results, notifications and requests, and the mode
// exchanges the client starts.
#pragma once

#include <cstdint>

enum VelServerMsg : int32_t {
  // Results.
  kMsgResultsHistory = 36864,  // dropped while the history is locked
  kMsgResults = 36865,
};
