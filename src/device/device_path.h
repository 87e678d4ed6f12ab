// Device paths of a simulated file service, resolved inside the folder it serves.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace amd {

// Longest device path and path component accepted.
inline constexpr std::size_t kMaxDevicePath = 1024;
inline constexpr std::size_t kMaxDeviceName = 255;

// The local path of `devicePath` under `root`: "/" and "" are the root itself, a leading "/"
// is within the root, "." components and repeated separators are dropped. None for a path
// with a ".." component, a NUL byte, a component longer than kMaxDeviceName or a whole path
// longer than kMaxDevicePath, and for one that passes through a symbolic link below `root`
// (the link itself included).
std::optional<std::filesystem::path> resolveDevicePath(const std::filesystem::path& root,
                                                       std::string_view devicePath);

}  // namespace amd
