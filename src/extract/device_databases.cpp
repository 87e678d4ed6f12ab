#include "extract/device_databases.h"

#include "catalogue/stored_file.h"

namespace devicedb {

std::string walKeyFor(const DeviceFile& file) {
  return fileKeyFor(file.domain, std::string(file.path) + "-wal");
}

}  // namespace devicedb
