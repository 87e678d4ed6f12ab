// The folders of a recovery's output, reached through open descriptors.
//
// The output folder is opened once, as the user named it; every folder and file below it is
// then made and opened relative to a descriptor (mkdirat, openat with O_NOFOLLOW), one path
// component at a time. A symbolic link found inside the output folder is never followed,
// whether it stands for a folder ("Contact" -> elsewhere) or for a file name, so nothing a
// recovery writes can land outside the chosen folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class OutputDir {
 public:
  OutputDir() = default;
  ~OutputDir();
  OutputDir(OutputDir&& other) noexcept;
  OutputDir& operator=(OutputDir&& other) noexcept;
  OutputDir(const OutputDir&) = delete;
  OutputDir& operator=(const OutputDir&) = delete;

  // Opens the folder at `path` as the user named it (links among its parent folders are
  // followed; the folder itself must not be a link). With `create` the folder and its missing
  // parents are made first. None with `*problem` set to the cause ("Permission denied", "it
  // is a symbolic link", "it is not a folder") when it cannot be opened.
  static std::optional<OutputDir> openRoot(const std::string& path, bool create,
                                           std::string* problem);

  // Opens the folder `relative` below this one (components separated by "/", each already
  // safe, see output_names.h), making the missing ones. A component that is a link or a file
  // is not passed: none with `*problem` set, e.g. "not a folder: Contact is a symbolic link"
  // (paths are named from the output folder).
  std::optional<OutputDir> openFolder(std::string_view relative, std::string* problem) const;

  // Makes and removes an entry in the folder: 0 when that works, else the errno value.
  int probeWritable() const;

  int fd() const { return fd_; }
  // The folder's path: the output folder as named, then the path below it.
  const std::string& path() const { return path_; }
  // The path below the output folder ("" for the output folder itself).
  const std::string& relative() const { return relative_; }

 private:
  OutputDir(int fd, std::string path, std::string relative);

  int fd_ = -1;
  std::string path_;
  std::string relative_;
};

// A fresh name for a temporary entry in an output folder: ".retrievo-" and a unique tail.
std::string temporaryEntryName();
