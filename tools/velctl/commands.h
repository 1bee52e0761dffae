// Subcommand groups of velctl. Each group registers its subcommands on the application; a
// subcommand reports failure by throwing CommandError, which main turns into one line on
// standard error and a non-zero exit.
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

}  // namespace velctl
