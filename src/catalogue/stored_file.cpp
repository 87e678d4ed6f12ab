#include "catalogue/stored_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

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

std::string OpenedStoredFile::reason() const {
  if (fd >= 0) return {};
  if (refused) return "not a regular file inside the backup";
  return std::strerror(error != 0 ? error : EIO);
}

namespace {

// The components of `relative` ("a/b/c"); none when one of them is "..".
std::optional<std::vector<std::string>> componentsOf(std::string_view relative) {
  std::vector<std::string> parts;
  while (!relative.empty()) {
    const std::size_t slash = relative.find('/');
    const std::string_view part = relative.substr(0, slash);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    relative.remove_prefix(slash + 1);
  }
  return parts;
}

}  // namespace

OpenedStoredFile openStoredFile(const std::string& backupFolder, const std::string& path) {
  OpenedStoredFile out;
  std::string folder = backupFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const bool below = !folder.empty() && path.size() > folder.size() + 1 &&
                     path.compare(0, folder.size(), folder) == 0 &&
                     (path[folder.size()] == '/' || folder == "/");
  const auto parts =
      below ? componentsOf(std::string_view(path).substr(folder.size())) : std::nullopt;
  if (!parts || parts->empty()) {
    out.refused = true;
    return out;
  }
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    out.error = errno;
    return out;
  }
  for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
    const int next =
        ::openat(dir, (*parts)[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int why = errno;
    ::close(dir);
    if (next < 0) {
      out.error = why;
      out.refused = why == ELOOP || why == ENOTDIR;
      return out;
    }
    dir = next;
  }
  out = openRegularFileAt(dir, parts->back().c_str());
  ::close(dir);
  return out;
}

OpenedStoredFile openRegularFileAt(int dirFd, const char* name) {
  OpenedStoredFile out;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    out.error = errno;
    out.refused = out.error == ELOOP;
    return out;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out.refused = true;
    return out;
  }
  ::fcntl(fd, F_SETFL, 0);
  out.fd = fd;
  return out;
}
