// velctl's expression commands: "eval" evaluates a line against a tree file, "check" prints the
// syntax-check messages of a line.
#pragma once

#include <CLI/CLI.hpp>

namespace velctl {

void AddEvalCommands(CLI::App& app);

}  // namespace velctl
