// retrievo search: registered here; the command's options and work are added with its unit.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"

namespace cli {

void addSearchCommand(CLI::App& app) {
  CLI::App* command =
      app.add_subcommand("search", "Find records of one category by text (not available yet)");
  command->allow_extras();
  command->callback([] {
    std::cerr << "retrievo: search is not available in this build\n";
    exitCode() = kExitFailure;
  });
}

}  // namespace cli
