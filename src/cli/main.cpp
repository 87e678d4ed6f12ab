// retrievo: the command-line front end.
#include <CLI/CLI.hpp>
#include <iostream>

#include "app/log.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"retrievo - get an iPhone or iPad owner's data back from device backups"};
  app.set_version_flag("--version", std::string(RETRIEVO_VERSION));
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Copy log lines to stderr");
  app.parse_complete_callback([&verbose] { applog::setVerbose(verbose); });

  cli::addListCommand(app);
  cli::addFilesCommand(app);
  cli::addScanCommand(app);
  cli::addShowCommand(app);
  cli::addRecoverCommand(app);
  cli::addBrowseCommand(app);
  cli::addSearchCommand(app);
  cli::addHexCommand(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return cli::kExitUsage;
  }
  return cli::exitCode();
}
