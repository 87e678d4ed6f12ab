// retrievo recover: registered here; the command's options and work are added with its unit.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"

namespace cli {

void addRecoverCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "recover", "Write the ticked items of a backup into a folder (not available yet)");
  command->allow_extras();
  command->callback([] {
    std::cerr << "retrievo: recover is not available in this build\n";
    exitCode() = kExitFailure;
  });
}

}  // namespace cli
