#include "extract/database_location.h"

#include <filesystem>
#include <system_error>

#include "base/log.h"
#include "catalogue/stored_file.h"

namespace {

// Whether something is stored at `path`. Links count, without being followed: the copy
// refuses them and names them, rather than the scan taking them for a missing database.
bool isStored(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(path, ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

std::optional<DatabaseLocation> locateDatabase(const std::string& backupFolder,
                                               const std::vector<DatabaseCandidate>& keys,
                                               const FileIndex& index) {
  for (const auto& k : keys) {
    std::string stored = storedFilePath(backupFolder, k.key);
    if (isStored(stored)) return DatabaseLocation{stored, k.domain, k.path};
  }
  for (const auto& k : keys) {
    // The latest entry of that device path wins, whatever its domain.
    for (auto it = index.rbegin(); it != index.rend(); ++it) {
      const auto& record = *it;
      if (!record || record->filePath != k.path || record->fileKey.empty()) continue;
      if (!isStored(record->fileKey)) continue;
      applog::line("Using " + record->fileDomain + "-" + record->filePath + " at " +
                   record->fileKey + " for " + k.domain + "-" + k.path);
      return DatabaseLocation{record->fileKey, record->fileDomain, record->filePath};
    }
  }
  return std::nullopt;
}
