// A fingerprint of every file below a folder: relative path, size and SHA-1 of the bytes.
// Two equal fingerprints mean nothing in the folder was added, removed or changed.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/sha1.h"

inline std::map<std::string, std::string> folderFingerprint(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const auto rel = std::filesystem::relative(it->path(), folder, ec).string();
    if (it->is_directory(ec)) {
      out[rel + "/"] = "dir";
      continue;
    }
    std::ifstream in(it->path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out[rel] = std::to_string(bytes.size()) + ":" + SHAH::hexDigest(bytes);
  }
  return out;
}
