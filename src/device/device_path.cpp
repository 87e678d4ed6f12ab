#include "device/device_path.h"

#include <system_error>

namespace amd {

std::optional<std::filesystem::path> resolveDevicePath(const std::filesystem::path& root,
                                                       std::string_view devicePath) {
  if (devicePath.size() > kMaxDevicePath) return std::nullopt;
  if (devicePath.find('\0') != std::string_view::npos) return std::nullopt;
  std::filesystem::path local = root;
  std::size_t start = 0;
  while (start <= devicePath.size()) {
    std::size_t end = devicePath.find('/', start);
    if (end == std::string_view::npos) end = devicePath.size();
    const std::string_view part = devicePath.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.size() > kMaxDeviceName) return std::nullopt;
    local /= std::string(part);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(local, error);
    if (!error && std::filesystem::is_symlink(status)) return std::nullopt;
  }
  return local;
}

}  // namespace amd
