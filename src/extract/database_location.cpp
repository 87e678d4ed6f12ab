#include "extract/database_location.h"

#include <filesystem>
#include <system_error>

#include "app/log.h"
#include "catalogue/stored_file.h"

std::optional<DatabaseLocation> locateDatabase(const std::string& backupFolder,
                                               const std::vector<DatabaseCandidate>& keys,
                                               const FileIndex& index) {
  std::error_code ec;
  for (const auto& k : keys) {
    std::string stored = storedFilePath(backupFolder, k.key);
    if (std::filesystem::is_regular_file(stored, ec)) return DatabaseLocation{stored, k.domain, k.path};
  }
  for (const auto& k : keys) {
    // The latest entry of that device path wins, whatever its domain.
    for (auto it = index.rbegin(); it != index.rend(); ++it) {
      const auto& record = *it;
      if (!record || record->filePath != k.path || record->fileKey.empty()) continue;
      if (!std::filesystem::is_regular_file(record->fileKey, ec)) continue;
      applog::line("Using " + record->fileDomain + "-" + record->filePath + " at " +
                   record->fileKey + " for " + k.domain + "-" + k.path);
      return DatabaseLocation{record->fileKey, record->fileDomain, record->filePath};
    }
  }
  return std::nullopt;
}
