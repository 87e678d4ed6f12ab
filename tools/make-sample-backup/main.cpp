// make-sample-backup: writes a realistic device backup folder from a data description (the
// embedded sample of "Emma's iPhone" unless --description names another) and the truth file
// that lists what it holds.
//
// Exit status: 0 written, 1 the build failed, 2 bad usage.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "backup_builder.h"
#include "fixture_support.h"
#include "sample_backup.h"

namespace {

constexpr char kUsage[] =
    "usage: make-sample-backup OUT_FOLDER [--description FILE] [--ios 5|6|7|17]\n"
    "                          [--manifest mbdb|db] [--layout flat|nested] [--truth FILE]\n"
    "                          [--password-file FILE [--key-iterations N]]\n"
    "\n"
    "Writes a device backup into OUT_FOLDER (which must be missing or empty) and the truth\n"
    "file, truth.json beside OUT_FOLDER unless --truth names another file.\n"
    "\n"
    "  --description FILE   data description (JSON); default: the embedded sample (with\n"
    "                       --ios 17, the sample with the current devices' kinds of data)\n"
    "  --ios N              device generation whose database schemas are used\n"
    "                       (--generation N is the same)\n"
    "  --manifest KIND      Manifest.mbdb (default) or Manifest.db (default with --ios 17)\n"
    "  --layout KIND        stored files flat in the folder (default) or in two-digit folders\n"
    "                       (default with --ios 17)\n"
    "  --truth FILE         where to write the truth file\n"
    "  --password-file FILE writes the backup encrypted with the password on the first line\n"
    "                       of FILE (without its line end), as device-sync software does: the\n"
    "                       key derivation runs 10000 rounds and, for a Manifest.db backup,\n"
    "                       10000000 rounds of the second one (a few seconds)\n"
    "  --key-iterations N   with --password-file: N rounds for both derivations instead\n"
    "                       (quick to write and to open, for demonstrations and tests)\n"
    "  --help               this text\n";

constexpr std::uint32_t kDeviceIterations = 10000;
constexpr std::uint32_t kDeviceSecondIterations = 10000000;

// The first line of `path` without its line end; none when the file cannot be read.
std::optional<std::string> passwordFrom(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "make-sample-backup: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> out;
  std::optional<std::string> descriptionPath;
  fixtures::BackupBuildOptions options;
  bool manifestGiven = false, layoutGiven = false;
  std::optional<std::string> passwordPath;
  std::optional<std::uint32_t> keyIterations;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const bool takesValue = arg == "--description" || arg == "--ios" || arg == "--generation" ||
                            arg == "--manifest" || arg == "--layout" || arg == "--truth" ||
                            arg == "--password-file" || arg == "--key-iterations";
    if (takesValue) {
      if (i + 1 >= argc) return usageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--description") {
        descriptionPath = value;
      } else if (arg == "--ios" || arg == "--generation") {
        if (value != "5" && value != "6" && value != "7" && value != "17")
          return usageError(arg + " takes 5, 6, 7 or 17");
        options.generation = std::stoi(value);
      } else if (arg == "--manifest") {
        manifestGiven = true;
        if (value == "mbdb") {
          options.manifest = fixtures::ManifestLayout::Mbdb;
        } else if (value == "db") {
          options.manifest = fixtures::ManifestLayout::Db;
        } else {
          return usageError("--manifest takes mbdb or db");
        }
      } else if (arg == "--layout") {
        layoutGiven = true;
        if (value == "flat") {
          options.layout = fixtures::StoredLayout::Flat;
        } else if (value == "nested") {
          options.layout = fixtures::StoredLayout::TwoDigitFolders;
        } else {
          return usageError("--layout takes flat or nested");
        }
      } else if (arg == "--password-file") {
        passwordPath = value;
      } else if (arg == "--key-iterations") {
        char* end = nullptr;
        const unsigned long n = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || value[0] == '-' || *end != '\0' || n == 0 || n > 0x7fffffffUL)
          return usageError("--key-iterations takes a whole number from 1 to 2147483647");
        keyIterations = static_cast<std::uint32_t>(n);
      } else {
        options.truthPath = value;
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return usageError("unknown option " + arg);
    if (out) return usageError("more than one OUT_FOLDER");
    out = arg;
  }
  if (!out || out->empty()) return usageError("no OUT_FOLDER given");
  if (keyIterations && !passwordPath) return usageError("--key-iterations needs --password-file");
  // A current device writes Manifest.db and keeps the files in two-digit folders.
  if (options.generation == 17) {
    if (!manifestGiven) options.manifest = fixtures::ManifestLayout::Db;
    if (!layoutGiven) options.layout = fixtures::StoredLayout::TwoDigitFolders;
  }

  if (passwordPath) {
    const std::optional<std::string> password = passwordFrom(*passwordPath);
    if (!password) {
      std::fprintf(stderr, "make-sample-backup: cannot read a password from %s\n",
                   passwordPath->c_str());
      return 1;
    }
    if (password->empty()) {
      std::fprintf(stderr, "make-sample-backup: the first line of %s is empty\n",
                   passwordPath->c_str());
      return 1;
    }
    fixtures::BackupEncryption encryption;
    encryption.password = *password;
    encryption.iterations = keyIterations.value_or(kDeviceIterations);
    encryption.dpic = keyIterations.value_or(kDeviceSecondIterations);
    options.encryption = std::move(encryption);
  }

  nlohmann::json description;
  if (descriptionPath) {
    const auto text = fixtures::readFileText(*descriptionPath);
    if (!text) {
      std::fprintf(stderr, "make-sample-backup: cannot read %s\n", descriptionPath->c_str());
      return 1;
    }
    description = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (description.is_discarded() || !description.is_object()) {
      std::fprintf(stderr, "make-sample-backup: %s is not a JSON object\n",
                   descriptionPath->c_str());
      return 1;
    }
  } else {
    description = options.generation == 17 ? fixtures::currentDeviceDescription()
                                           : fixtures::sampleDescription();
  }

  fixtures::BackupBuildResult result;
  std::string error;
  if (!fixtures::buildBackup(description, *out, options, &result, &error)) {
    std::fprintf(stderr, "make-sample-backup: %s\n", error.c_str());
    return 1;
  }
  std::printf("Backup: %s\nTruth: %s\n", result.backupFolder.c_str(), result.truthPath.c_str());
  return 0;
}
