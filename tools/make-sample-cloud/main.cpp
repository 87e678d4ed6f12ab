// make-sample-cloud: writes the sample cloud store that the cloud script module serves: the
// account sample@example.com (password "retrievo", kept only as a salted hash) with Emma's
// iPhone (the embedded sample backup) and Emma's iPad (two snapshots).
//
// Exit status: 0 written, 1 the build failed, 2 bad usage.
#include <cstdio>
#include <string>

#include "cloud_store_builder.h"

namespace {

constexpr char kUsage[] =
    "usage: make-sample-cloud OUT_FOLDER\n"
    "\n"
    "Writes the sample cloud store into OUT_FOLDER (which must be missing or empty). The\n"
    "cloud module serves it when RETRIEVO_CLOUD_STORE names it, or when it is the folder\n"
    "\"sample-cloud\" beside the module. Sign in as sample@example.com, password retrievo.\n";

constexpr std::uint32_t kRounds = 1000;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-' || argv[1][0] == '\0') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  fixtures::CloudStoreResult result;
  std::string error;
  if (!fixtures::buildSampleCloudStore(argv[1], kRounds, &result, &error)) {
    std::fprintf(stderr, "make-sample-cloud: %s\n", error.c_str());
    return 1;
  }
  std::printf("Cloud store: %s\nAccount: sample@example.com (password: retrievo)\n", argv[1]);
  for (const auto& device : result.list) {
    std::printf("  %s (%s) %s\n", device.value("name", "").c_str(),
                device.value("product", "").c_str(), device.value("udid", "").c_str());
  }
  return 0;
}
