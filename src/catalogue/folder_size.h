// The disk space a backup's stored files take, for the backup list.
#pragma once

#include <cstdint>
#include <string>

// The sizes of the regular files under `folder`, at any depth, summed. Each entry is
// looked at with lstat(2) alone: no file is opened and no symbolic link under `folder`
// followed (a link neither counts nor leads anywhere). A folder that cannot be read adds nothing;
// the walk goes on with the others. A missing folder gives 0.
std::uint64_t regularFilesSize(const std::string& folder);
