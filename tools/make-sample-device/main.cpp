// make-sample-device: writes a simulated device folder (values.plist, media/, data/ and
// `present`) for the device behind the embedded sample backup, to be attached with
// RETRIEVO_DEVICE=simulated:DIR.
//
// Exit status: 0 written, 1 the build failed, 2 bad usage.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "sample_device.h"

namespace {

constexpr char kUsage[] =
    "usage: make-sample-device OUT_FOLDER [--ios 5|6|7|17] [--name NAME] [--no-data]\n"
    "                          [--absent]\n"
    "\n"
    "Writes a simulated device into OUT_FOLDER (which must be missing or empty): its values\n"
    "(values.plist), its media file system (media/: camera roll, photo sync, photo streams),\n"
    "the files a backup of it holds (data/DOMAIN/PATH) and the file `present`, which attaches\n"
    "it. Use it with RETRIEVO_DEVICE=simulated:OUT_FOLDER; deleting `present` unplugs it.\n"
    "\n"
    "  --ios N      device generation (default: the sample's, 6)\n"
    "  --name NAME  the device's name (default: Emma's iPhone)\n"
    "  --no-data    leave out data/\n"
    "  --absent     leave out `present` (the device starts unplugged)\n"
    "  --help       this text\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "make-sample-device: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> out;
  fixtures::SampleDeviceOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--ios" || arg == "--name") {
      if (i + 1 >= argc) return usageError(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--name") {
        options.values["DeviceName"] = value;
      } else if (value == "5" || value == "6" || value == "7" || value == "17") {
        options.generation = std::stoi(value);
      } else {
        return usageError("--ios takes 5, 6, 7 or 17");
      }
    } else if (arg == "--no-data") {
      options.withData = false;
    } else if (arg == "--absent") {
      options.present = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else if (out) {
      return usageError("more than one output folder");
    } else {
      out = arg;
    }
  }
  if (!out) return usageError("no output folder");
  std::error_code error;
  if (std::filesystem::exists(*out, error) && !std::filesystem::is_empty(*out, error))
    return usageError(*out + " is not empty");
  std::string reason;
  if (!fixtures::buildSampleDevice(*out, options, &reason)) {
    std::fprintf(stderr, "make-sample-device: %s\n", reason.c_str());
    return 1;
  }
  std::printf("%s\n", out->c_str());
  return 0;
}
