// What the destination manager needs from the client's server link: sending a destination's
// data to the server's manager instead of the local one. A manager without a link works alone
// (the in-process server engine case).
#pragma once

#include <cstdint>
#include <span>

class XAppDestsLink {
 public:
  virtual ~XAppDestsLink() = default;
  // Hands data for destination dest_name (register index) to the server; 1 when sent.
  virtual int SendMessageRemote(const char* dest_name, std::span<const uint8_t> data,
                                uint32_t index) = 0;
};
