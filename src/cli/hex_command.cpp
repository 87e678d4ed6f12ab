// retrievo hex: the hex preview of a category's database, printed or written to a file.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/scan_session.h"
#include "results/file_copy.h"
#include "results/hex_preview.h"

namespace cli {
namespace {

struct HexOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  std::string category;
  std::string exportPath;
  std::optional<std::int64_t> offset;
  std::optional<std::int64_t> length;
};

int runHex(const HexOptions& opt) {
  if (opt.offset.value_or(0) < 0 || opt.length.value_or(0) < 0) {
    std::cerr << "retrievo: " << (opt.offset.value_or(0) < 0 ? "offset" : "length")
              << " must not be negative\n";
    return kExitUsage;
  }
  auto category = categoryByName(opt.category);
  if (!category || hexPreviewDatabaseKey(*category) == nullptr) {
    std::cerr << "retrievo: " << (category ? "no database to preview for " : "unknown category: ")
              << opt.category
              << " (one of: contacts conversations calls notes bookmarks calendar)\n";
    return kExitUsage;
  }
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  const std::string database = hexPreviewDatabasePath(opt.backup, *category);
  std::optional<std::uint64_t> size;
  if (!database.empty()) size = regularFileSize(database);
  if (!size) {
    std::cerr << "retrievo: the backup has no " << opt.category << " database: " << opt.backup
              << '\n';
    return kExitFailure;
  }
  std::optional<std::uint64_t> length;
  if (opt.length) length = static_cast<std::uint64_t>(*opt.length);
  const ByteWindow window{static_cast<std::uint64_t>(opt.offset.value_or(0)), length};
  if (window.offset > *size) {
    std::cerr << "retrievo: offset " << window.offset << " is past the end of the database ("
              << *size << " bytes)\n";
    return kExitUsage;
  }

  if (!opt.exportPath.empty()) {
    if (std::string problem = outputFileProblem(opt.exportPath, opt.backup); !problem.empty()) {
      std::cerr << "retrievo: " << problem << '\n';
      return kExitUsage;
    }
    std::error_code ec;
    std::string target = std::filesystem::absolute(opt.exportPath, ec).string();
    if (ec) target = opt.exportPath;
    std::string error;
    bool read = true;
    const bool written = writeFileAtomicallyWith(
        target,
        [&](const std::function<bool(std::string_view)>& write) {
          read = streamHexPreview(database, window, write);
          return read;
        },
        &error);
    if (!written) {
      std::cerr << "retrievo: "
                << (read ? error : "cannot read the " + opt.category + " database: " + database)
                << '\n';
      return kExitFailure;
    }
    std::cout << target << '\n';
    return kExitOk;
  }

  const bool read = streamHexPreview(database, window, [](std::string_view piece) {
    std::cout.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    return static_cast<bool>(std::cout);
  });
  std::cout << '\n';
  if (!read) {
    std::cerr << "retrievo: cannot read the " << opt.category << " database: " << database << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

void addHexCommand(CLI::App& app) {
  auto opt = std::make_shared<HexOptions>();
  CLI::App* cmd = app.add_subcommand(
      "hex", "Print a category's database file as printable characters, or write them to a file");
  cmd->footer(
      "One character per byte, in file order, without separators: bytes 0x20 to 0x7E as "
      "they are, every other byte as \".\". Only the stored file is read; the backup is not "
      "scanned.");
  cmd->add_option("BACKUP", opt->backup, "The backup folder")->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option("CATEGORY", opt->category,
                  "contacts, conversations, calls, notes, bookmarks or calendar")
      ->required();
  cmd->add_option("--export", opt->exportPath,
                  "Write the text to FILE (replacing it at once) and print its path; never a file "
                  "inside the backup folder or a symbolic link")
      ->type_name("FILE");
  cmd->add_option("--offset", opt->offset, "Start at this byte of the database (default 0)")
      ->type_name("N");
  cmd->add_option("--length", opt->length, "At most this many bytes (default: to the end)")
      ->type_name("N");
  cmd->callback([opt] { exitCode() = runHex(*opt); });
}

}  // namespace cli
