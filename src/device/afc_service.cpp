#include "device/afc_service.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace amd {
namespace {

constexpr const char* kAfc = "com.apple.afc";
constexpr const char* kAfc2 = "com.apple.afc2";

// Copies the open device file into `local`; the byte count, or none when a read or a write
// failed.
std::optional<std::uint64_t> copyStream(FileConnection& files, FileConnection::FileHandle file,
                                        std::FILE* local) {
  std::array<std::uint8_t, AfcService::kCopyChunk> buffer{};
  std::uint64_t copied = 0;
  for (;;) {
    std::size_t got = 0;
    if (files.readFile(file, buffer.data(), buffer.size(), &got) != 0 || got > buffer.size())
      return std::nullopt;
    if (got == 0) return copied;
    if (std::fwrite(buffer.data(), 1, got, local) != got) return std::nullopt;
    copied += got;
  }
}

}  // namespace

AfcService::~AfcService() { files_.reset(); }

int AfcService::open(int position) { return openFileService(position, kAfc); }

int AfcService::openFileService(int position, const std::string& serviceName) {
  if (const int code = BaseService::open(position); code != 0) return code;
  if (const int code = startService(serviceName); code != 0) return code;
  return attachFileConnection();
}

int AfcService::attachFileConnection() {
  files_ = backend().openFileConnection(serviceConnection());
  return files_ ? 0 : 1;
}

std::optional<std::vector<std::string>> AfcService::listDirectory(const std::string& path) {
  if (!files_) return std::nullopt;
  std::vector<std::string> names;
  if (files_->readDirectory(path, &names) != 0) return std::nullopt;
  std::erase_if(names, [](const std::string& name) { return name == "." || name == ".."; });
  return names;
}

int AfcService::copyToLocal(const std::string& devicePath, const std::string& localPath) {
  if (!files_) return 1;
  FileConnection::FileHandle file = 0;
  if (files_->openFile(devicePath, FileMode::Read, &file) != 0) return 1;
  std::FILE* local = std::fopen(localPath.c_str(), "wb");
  if (local == nullptr) {
    files_->closeFile(file);
    return 1;
  }
  std::optional<std::uint64_t> copied = copyStream(*files_, file, local);
  files_->closeFile(file);
  if (std::fclose(local) != 0) copied.reset();
  if (!copied) {
    std::error_code ignored;
    std::filesystem::remove(localPath, ignored);
    return 1;
  }
  return *copied > 0 ? 0 : 1;
}

int AfcService::copyToDevice(const std::string& localPath, const std::string& devicePath) {
  if (!files_) return 1;
  std::FILE* local = std::fopen(localPath.c_str(), "rb");
  if (local == nullptr) return 1;
  FileConnection::FileHandle file = 0;
  if (files_->openFile(devicePath, FileMode::Write, &file) != 0) {
    std::fclose(local);
    return 1;
  }
  std::array<std::uint8_t, kCopyChunk> buffer{};
  bool whole = true;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), local);
    if (got > 0 && files_->writeFile(file, buffer.data(), got) != 0) {
      whole = false;
      break;
    }
    if (got < buffer.size()) {
      whole = std::ferror(local) == 0;
      break;
    }
  }
  if (files_->closeFile(file) != 0) whole = false;
  std::fclose(local);
  return whole ? 0 : 1;
}

std::optional<std::map<std::string, std::string>> AfcService::fileInfo(const std::string& path) {
  if (!files_) return std::nullopt;
  std::map<std::string, std::string> info;
  if (files_->fileInfo(path, &info) != 0) return std::nullopt;
  return info;
}

std::optional<FileConnection::FileHandle> AfcService::openFile(const std::string& path,
                                                               FileMode mode) {
  if (!files_) return std::nullopt;
  FileConnection::FileHandle file = 0;
  if (files_->openFile(path, mode, &file) != 0) return std::nullopt;
  return file;
}

int AfcService::closeFile(std::optional<FileConnection::FileHandle> handle) {
  if (!files_ || !handle) return 1;
  return files_->closeFile(*handle);
}

int AfcService::removePath(const std::string& path) {
  return files_ ? files_->removePath(path) : 1;
}

int AfcService::makeDirectory(const std::string& path) {
  return files_ ? files_->makeDirectory(path) : 1;
}

int AfcService::renamePath(const std::string& from, const std::string& to) {
  return files_ ? files_->renamePath(from, to) : 1;
}

int Afc2Service::open(int position) { return openFileService(position, kAfc2); }

int AppDirService::openAppContainer(int position, const std::string& bundleId) {
  if (const int code = BaseService::open(position); code != 0) return code;
  ServiceConnection started = 0;
  const int code =
      runOperation([&] { return backend().startHouseArrest(deviceHandle(), bundleId, &started); });
  if (code != 0) return code;
  adoptServiceConnection(started);
  return attachFileConnection();
}

}  // namespace amd
