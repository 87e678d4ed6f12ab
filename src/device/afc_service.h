// The device's file services: the media file system ("com.apple.afc"), the whole file
// system of a modified device ("com.apple.afc2") and an application's container.
//
// Use: create, open(position), then list folders and copy files any number of times, then
// destroy. The file connection stays usable after open's device operation has ended; when
// the device goes away, every call fails.
//
// Names in listings come from the device: a caller that joins one to a local folder must
// make it safe first (it may hold "/" or be ".." on a hostile device).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/base_service.h"

namespace amd {

class AfcService : public BaseService {
 public:
  // Bytes read from the device per request while copying.
  static constexpr std::size_t kCopyChunk = 4096;

  using BaseService::BaseService;
  ~AfcService() override;

  // Selects the device, starts "com.apple.afc" and opens the file connection on it: 0, 1
  // when the device is not in the list or the connection does not open, or the code of the
  // failed device operation.
  int open(int position) override;

  // The entry names of a device folder in the device's order, without "." and ".."; none
  // when the folder cannot be read (or there is no file connection).
  std::optional<std::vector<std::string>> listDirectory(const std::string& path);

  // Copies a device file byte for byte into the local file `localPath` (created or
  // replaced), reading kCopyChunk bytes at a time. 0 when the file was copied whole and held
  // at least one byte. 1 when there is no file connection, the device file cannot be opened,
  // the local file cannot be created, or nothing was copied (an empty device file leaves an
  // empty local file). A read or write that fails part way also gives 1, and the partial
  // local file is removed, so that no truncated copy is taken for the file.
  int copyToLocal(const std::string& devicePath, const std::string& localPath);

  // Writes the local file `localPath` to the device file `devicePath` (created or replaced):
  // 0 when the whole file was written, 1 otherwise.
  int copyToDevice(const std::string& localPath, const std::string& devicePath);

  // The attributes of a device file or folder ("st_size", "st_ifmt", "st_mtime", ...); none
  // when the path cannot be read.
  std::optional<std::map<std::string, std::string>> fileInfo(const std::string& path);

  // Opens a device file; none on failure.
  std::optional<FileConnection::FileHandle> openFile(const std::string& path, FileMode mode);
  // Closes a file from openFile(): the code, 1 without a connection or a handle.
  int closeFile(std::optional<FileConnection::FileHandle> handle);

  // The file service's codes; 1 without a file connection.
  int removePath(const std::string& path);
  int makeDirectory(const std::string& path);
  int renamePath(const std::string& from, const std::string& to);

  bool isOpen() const { return files_ != nullptr; }

 protected:
  // open() with another file service.
  int openFileService(int position, const std::string& serviceName);
  // Opens the file connection on the started service: 0, or 1 when it does not open.
  int attachFileConnection();

 private:
  std::unique_ptr<FileConnection> files_;
};

class Afc2Service : public AfcService {
 public:
  using AfcService::AfcService;
  // As AfcService::open, with "com.apple.afc2".
  int open(int position) override;
};

class AppDirService : public AfcService {
 public:
  using AfcService::AfcService;
  // Selects the device and opens the file connection inside the container of the
  // application `bundleId`: 0, 1 for a missing device or connection, or the failed device
  // operation's code. The file operations then work within that container.
  int openAppContainer(int position, const std::string& bundleId);
};

}  // namespace amd
