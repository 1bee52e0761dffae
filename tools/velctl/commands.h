// Subcommand groups of velctl. Each group registers its subcommands on the application; a
// subcommand reports failure by throwing CommandError, which main turns into one line on
// standard error and a non-zero exit. With --json a command prints one JSON document.
#pragma once

#include <CLI/CLI.hpp>
#include <stdexcept>
#include <string>

namespace velctl {

struct CommandError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A command that has printed its own result and only wants a non-zero exit.
struct CommandFailed {};

void AddTreeCommands(CLI::App& app);
void AddEvalCommands(CLI::App& app);
// --host and --mode, and the commands on the appliance's variables and parameters.
void AddSessionCommands(CLI::App& app);
// ls, push and pull on the appliance's files.
void AddDeviceCommands(CLI::App& app);
// stats, counters and watch on the appliance's results.
void AddResultCommands(CLI::App& app);
// dest list, add-socket-server, add-socket-client, add-serial, send, recv.
void AddDestCommands(CLI::App& app);

// The connected appliance's tree below path (all of it when empty).
void ShowRemoteTree(const std::string& path, bool json);

}  // namespace velctl
