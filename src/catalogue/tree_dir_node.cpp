#include "catalogue/tree_dir_node.h"

#include <sys/stat.h>

const StoredFileStatus& storedFileStatus(MzTreeDirNode& record) {
  if (!record.storedStatus) {
    StoredFileStatus status;
    struct stat st {};
    if (!record.fileKey.empty() && ::lstat(record.fileKey.c_str(), &st) == 0) {
      status.exists = true;
      status.isLink = S_ISLNK(st.st_mode);
      status.isRegular = S_ISREG(st.st_mode);
      if (status.isRegular) status.size = static_cast<std::uint64_t>(st.st_size);
    }
    record.storedStatus = status;
  }
  return *record.storedStatus;
}
