// The appliance session of velctl's device commands: the --host and --mode options, connecting,
// and one line of error text when it fails.
#pragma once

#include <memory>
#include <string>

#include "link/vel_app_client.h"
#include "tools/velctl/commands.h"

class CtVar;

namespace velctl {

struct SessionOptions {
  std::string host = "loopback";
  int mode = 0;
};
SessionOptions& Options();

using ClientPtr = std::unique_ptr<CVelAppClient, void (*)(CVelAppClient*)>;
// Connects to Options().host; throws CommandError carrying the message the session showed.
ClientPtr OpenSession();
// The client's tree, fetched whole from the server when it is a mirror.
CtVar& SyncedRoot(CVelAppClient& client);
// The node at a dotted path of the tree as fetched, or a CommandError naming it.
CtVar& ExistingVar(CtVar& root, const std::string& path);
// True when the whole text is a number, stored in value.
bool ParseNumber(const std::string& text, double* value);
// Stores text in node: as a number when the whole text is one, else as text.
void AssignText(CtVar& node, const std::string& text);

}  // namespace velctl
