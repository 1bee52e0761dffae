// velctl: the command-line host of the appliance client.
#include <CLI/CLI.hpp>

#include "tools/velctl/eval_cmd.h"

int main(int argc, char** argv) {
  CLI::App app{"velctl: drive a machine-vision appliance from the command line"};
  app.require_subcommand(1);
  velctl::AddEvalCommands(app);
  CLI11_PARSE(app, argc, argv);
  return 0;
}
