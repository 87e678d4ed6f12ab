// The byte-for-byte copy of recovered files, and the atomic writes of the text exports.
//
// A copy goes in pieces of at most 8 MiB, in the kernel (copy_file_range) where the file
// systems allow it, else through one 8 MiB buffer, and writes exactly the bytes it read:
// a source shorter than the size the scan recorded gives a shorter target (never one padded
// with zeros), and the result says so, so the recovery can report the file as incomplete.
// No copy or write replaces a file that is already there: a taken name moves on to the next
// candidate of output_names.h. New files are made in a folder's descriptor (output_folder.h)
// with O_EXCL and O_NOFOLLOW, so a link planted at a name is passed over, never followed.
// A file that could not be written whole (a full disk, a file size limit) is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/stored_file.h"
#include "catalogue/stored_plaintext.h"
#include "results/output_folder.h"

enum class CopyStatus {
  Complete,          // every expected byte was copied
  SourceShort,       // the source ended before the expected size; the target keeps what was read
  SourceUnreadable,  // the source could not be opened; no target was made
  SourceRefused,     // the source is a link or not a regular file; no target was made
  ReadFailed,        // a read failed; the target keeps what was read before it
  TargetFailed,      // the target could not be created
  WriteFailed,       // a write failed; the target was removed
  DecryptFailed,     // the source of an encrypted backup has no usable key or a wrong padding;
                     // no target is left
};

struct CopyResult {
  CopyStatus status = CopyStatus::Complete;
  std::uint64_t written = 0;  // bytes in the target
  int error = 0;              // errno of the failure, 0 when none
  std::string target;         // full path of the target made, "" when none (or removed)

  bool complete() const { return status == CopyStatus::Complete; }
};

// A short English text for a result that is not complete ("" when it is).
std::string copyProblem(const CopyResult& result, std::uint64_t expected);

// Opens a file to be recovered for reading. With a `backupFolder`, through openStoredFile, so
// that no link inside the backup is followed and a path outside it is refused; without one
// (files that are not the backup's), the file itself must still be a regular file, never a
// link, FIFO or device.
OpenedStoredFile openRecoverySource(const std::string& backupFolder, const std::string& path);

// Copies with one buffer that is reused from file to file. Not shared between threads.
class ChunkedCopier {
 public:
  static constexpr std::size_t kChunkSize = 0x800000;  // 8 MiB

  // The backup folder the sources lie in (openRecoverySource); "" for none.
  void setSourceFolder(std::string folder) { sourceFolder_ = std::move(folder); }

  // Copies the first `expected` bytes of `source` into a new file named `name` (already safe)
  // in `folder`, or into the next free candidate name with `index` (output_names.h).
  CopyResult copyFile(const std::string& source, std::uint64_t expected, const OutputDir& folder,
                      const std::string& name, std::size_t index);
  // The same for a source that lies in `sourceFolder` rather than in the backup folder.
  CopyResult copyFileFrom(const std::string& sourceFolder, const std::string& source,
                          std::uint64_t expected, const OutputDir& folder, const std::string& name,
                          std::size_t index);

 private:
  std::string sourceFolder_;
  std::unique_ptr<char[]> buffer_;
};

// Writes `text` to `path` atomically: a new file in the same folder (mode 0600), synced
// and renamed over `path`, so readers see the old file or the whole new one. False with a
// reason (and its errno value in `*errorNumber`) on failure; the old file is left as it was.
bool writeFileAtomically(const std::string& path, std::string_view text,
                         std::string* error = nullptr, int* errorNumber = nullptr);

// The same, the text coming from `produce`, which writes it through the given writer (that
// returns false once a write failed) and returns false to abandon the file.
bool writeFileAtomicallyWith(
    const std::string& path,
    const std::function<bool(const std::function<bool(std::string_view)>& write)>& produce,
    std::string* error = nullptr, int* errorNumber = nullptr);

// Writes `bytes` atomically into a new file named `name` in `folder`, or the next free
// candidate name with `index`: a temporary file made in the folder, then renamed without
// replacing (a hard link where the file system has no such rename). An existing file is never
// replaced, and nothing is left behind when the write fails. Returns the path written, or
// none with `*error` set.
std::optional<std::string> writeNewFileAtomically(const OutputDir& folder, const std::string& name,
                                                  std::size_t index, std::string_view bytes,
                                                  int* error);
