// retrievo: the command-line front end.
#include <malloc.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"

namespace {

// The first argument that is not one of the program's own options: the command's name, or
// "" when there is none.
std::string_view commandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a.empty() || a.front() != '-') return a;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  // A scan makes and frees millions of small blocks (the file index, the backup-browser tree,
  // the scan document). glibc keeps small freed blocks in its fast bins and merges them all
  // at once before a larger request, which took a tenth of the scan of a current iPhone's
  // backup; without fast bins a block is merged as it is freed, at a fraction of that cost.
  mallopt(M_MXFAST, 0);
  CLI::App app{"retrievo - get an iPhone or iPad owner's data back from device backups"};
  app.name("retrievo");
  app.set_version_flag("--version", std::string(RETRIEVO_VERSION));
  app.require_subcommand(1);
  // Options of the program itself, such as --verbose, are taken after the command too.
  app.fallthrough();
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
  cli::addDeviceCommand(app);
  cli::addCloudCommand(app);

  // "retrievo help [COMMAND]" shows the help, and a word that names no command says so and
  // lists the commands, instead of the parser's "A subcommand is required".
  std::string_view word = commandWord(argc, argv);
  // "help COMMAND" is read as "COMMAND --help", so both print the same text.
  std::vector<char*> helpArgs;
  if (word == "help") {
    const std::string_view topic = commandWord(argc - 1, argv + 1);
    bool known = topic.empty();
    for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->get_name() == topic;
    if (known) {
      static char helpFlag[] = "--help";
      helpArgs = {argv[0]};
      if (!topic.empty()) helpArgs.push_back(const_cast<char*>(topic.data()));
      helpArgs.push_back(helpFlag);
      argc = static_cast<int>(helpArgs.size());
      argv = helpArgs.data();
      word = topic;
    }
  }
  if (!word.empty()) {
    bool known = false;
    std::string names;
    for (const CLI::App* sub : app.get_subcommands({})) {
      known = known || sub->get_name() == word;
      names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    if (!known) {
      const std::string_view what = word == "help" ? commandWord(argc - 1, argv + 1) : word;
      std::cerr << "retrievo: unknown command: " << terminalSafe(what) << " (commands: " << names
                << "; see retrievo --help)\n";
      return cli::kExitUsage;
    }
  }

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
