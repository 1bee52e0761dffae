// Starting a helper program, and finding the programs installed with the library.
#pragma once

#include <string>
#include <vector>

namespace port {

// Starts path with args in a new session (its own process group, detached from the terminal),
// its output discarded. Returns 0, or the errno of the failure.
int SpawnDetached(const std::string& path, const std::vector<std::string>& args);

// The folder of the shared library (or program) that holds this code.
std::string LibraryDir();

// Whether a TCP connection to host:port is accepted now.
bool PortAccepts(const char* host, int port);

}  // namespace port
