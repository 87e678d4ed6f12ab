#include "catalogue/tree_dir_node.h"

#include <sys/stat.h>

#include "catalogue/stored_plaintext.h"

const StoredFileStatus& storedFileStatus(MzTreeDirNode& record) {
  if (!record.storedStatus) {
    StoredFileStatus status;
    struct stat st {};
    if (!record.fileKey.empty() && ::lstat(record.fileKey.c_str(), &st) == 0) {
      status.exists = true;
      status.isLink = S_ISLNK(st.st_mode);
      status.isRegular = S_ISREG(st.st_mode);
      // A file of an encrypted backup is padded; the record carries its plaintext's size.
      if (status.isRegular) {
        status.size = plaintextSizeOfStored(record.fileKey, static_cast<std::uint64_t>(st.st_size));
      }
    }
    record.storedStatus = status;
  }
  return *record.storedStatus;
}
