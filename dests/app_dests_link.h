// What the destination manager needs from the client around it. A manager without these works
// alone (the in-process server engine case, or a test).
//
// XAppDestsLink is the client's server link: data a manager sends "remotely" goes to the
// server's manager instead of the local one, and the server's own destinations are asked
// whether they outlive a solution change and are deleted there.
// XAppDestsClient is the application client: its appliance type and the discrete I/O lines it
// reports, from which the manager builds "AppVar.Global.GPI" and "GPO".
#pragma once

#include <cstdint>
#include <span>

class XAppDestsLink {
 public:
  virtual ~XAppDestsLink() = default;
  // Hands data for destination dest_name (register index) to the server; 1 when sent.
  virtual int SendMessageRemote(const char* dest_name, std::span<const uint8_t> data,
                                uint32_t index) = 0;
  // The server's answer to query 44: 1 keeps the destinations as they are over a solution
  // change.
  virtual int QueryKeepDests() { return 0; }
  // The server's "DeleteAppDest" (name, flags); its result.
  virtual int DeleteAppDest(const char* dest_name, uint32_t flags) { return 0; }
};

// The discrete lines an appliance reports (its GPIO attributes).
struct DestGpioLines {
  uint32_t first_input = 0;
  uint32_t num_inputs = 0;
  uint32_t first_output = 0;
  uint32_t num_outputs = 0;
};

class XAppDestsClient {
 public:
  virtual ~XAppDestsClient() = default;
  virtual int GetApplianceType() = 0;
  // False when the client cannot tell.
  virtual bool GetGpioLines(DestGpioLines* lines) = 0;
};
