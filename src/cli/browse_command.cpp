// retrievo browse: registered here; the command's options and work are added with its unit.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"

namespace cli {

void addBrowseCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "browse", "Show the backup's files by domain and folder (not available yet)");
  command->allow_extras();
  command->callback([] {
    std::cerr << "retrievo: browse is not available in this build\n";
    exitCode() = kExitFailure;
  });
}

}  // namespace cli
