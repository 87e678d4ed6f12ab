#include "catalogue/stored_file.h"

#include <filesystem>
#include <system_error>

#include "catalogue/sha1.h"

std::string storedFilePath(const std::string& backupFolder, const std::string& key) {
  std::string flat = backupFolder + "/" + key;
  std::error_code ec;
  if (std::filesystem::exists(flat, ec)) return flat;
  if (key.size() >= 2) {
    std::string nested = backupFolder + "/" + key.substr(0, 2) + "/" + key;
    if (std::filesystem::exists(nested, ec)) return nested;
  }
  return flat;
}

std::string fileKeyFor(const std::string& domain, const std::string& path) {
  std::string text;
  text.reserve(domain.size() + 1 + path.size());
  text += domain;
  text += '-';
  text += path;
  return SHAH::hexDigest(text);
}
