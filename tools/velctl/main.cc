// velctl: the command-line host of the appliance client.
#include <iostream>

#include "tools/velctl/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"velctl: drive a machine-vision appliance from the command line"};
  app.require_subcommand(1);
  velctl::AddTreeCommands(app);
  velctl::AddEvalCommands(app);
  velctl::AddSessionCommands(app);
  velctl::AddDeviceCommands(app);
  velctl::AddResultCommands(app);
  velctl::AddDestCommands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const velctl::CommandError& e) {
    std::cerr << "velctl: " << e.what() << '\n';
    return 1;
  } catch (const velctl::CommandFailed&) {
    return 1;  // the command has said why
  }
  return 0;
}
