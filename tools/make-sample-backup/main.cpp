// make-sample-backup: writes a realistic device backup folder from a data description (the
// embedded sample of "Emma's iPhone" unless --description names another) and the truth file
// that lists what it holds.
//
// Exit status: 0 written, 1 the build failed, 2 bad usage.
#include <cstdio>
#include <cstring>
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
    "\n"
    "Writes a device backup into OUT_FOLDER (which must be missing or empty) and the truth\n"
    "file, truth.json beside OUT_FOLDER unless --truth names another file.\n"
    "\n"
    "  --description FILE   data description (JSON); default: the embedded sample\n"
    "  --ios N              device generation whose database schemas are used\n"
    "                       (--generation N is the same)\n"
    "  --manifest KIND      Manifest.mbdb (default) or Manifest.db (default with --ios 17)\n"
    "  --layout KIND        stored files flat in the folder (default) or in two-digit folders\n"
    "                       (default with --ios 17)\n"
    "  --truth FILE         where to write the truth file\n"
    "  --help               this text\n";

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
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const bool takesValue = arg == "--description" || arg == "--ios" || arg == "--generation" ||
                            arg == "--manifest" || arg == "--layout" || arg == "--truth";
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
  // A current device writes Manifest.db and keeps the files in two-digit folders.
  if (options.generation == 17) {
    if (!manifestGiven) options.manifest = fixtures::ManifestLayout::Db;
    if (!layoutGiven) options.layout = fixtures::StoredLayout::TwoDigitFolders;
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
  } else if (options.generation == 17) {
    description = fixtures::currentSampleDescription();
  } else {
    description = fixtures::sampleDescription();
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
