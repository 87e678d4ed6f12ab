// retrievo hex: registered here; the command's options and work are added with its unit.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"

namespace cli {

void addHexCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "hex", "Show a category's database as printable characters (not available yet)");
  command->allow_extras();
  command->callback([] {
    std::cerr << "retrievo: hex is not available in this build\n";
    exitCode() = kExitFailure;
  });
}

}  // namespace cli
