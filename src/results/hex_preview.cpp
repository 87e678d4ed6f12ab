#include "results/hex_preview.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "base/log.h"
#include "base/main_thread.h"
#include "base/paths.h"
#include "catalogue/stored_file.h"
#include "catalogue/stored_plaintext.h"
#include "extract/device_databases.h"
#include "results/file_copy.h"
#include "results/result_view_controller.h"

extern char** environ;

namespace {

// Pieces read at a time: large enough that the system calls cost nothing next to the
// translation, small enough to be turned into characters while still in the cache, and
// that a stop request is seen within a millisecond or so.
constexpr std::size_t kReadPiece = 1u << 20;
constexpr std::size_t kStreamPiece = 1u << 20;

// A file opened read-only, closed when it goes.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) {
    // Not blocking on open: a FIFO put where a database should be must not hang us; only
    // a regular file is read.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
  }
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::uint64_t size() const { return size_; }

  // Reads up to `n` bytes at `offset`; the count read (0 at the end), or -1 on error.
  ssize_t readAt(char* into, std::size_t n, std::uint64_t offset) const {
    for (;;) {
      ssize_t got = ::pread(fd_, into, n, static_cast<off_t>(offset));
      if (got >= 0 || errno != EINTR) return got;
    }
  }

  // The part of the file the window covers, as [begin, begin + count).
  std::pair<std::uint64_t, std::uint64_t> clip(const ByteWindow& window) const {
    const std::uint64_t begin = std::min(window.offset, size_);
    const std::uint64_t rest = size_ - begin;
    return {begin, window.length ? std::min(*window.length, rest) : rest};
  }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Creates the missing folders of `folder`, each with mode 0700. True when it then is a
// folder (an existing one is used as it is).
bool ensureFolder(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const auto& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  std::error_code ec;
  return std::filesystem::is_directory(folder, ec);
}

}  // namespace

void toHexPreviewCharacters(char* data, std::size_t size) {
  // Eight bytes at a time: every byte gets its "printable" bit (0x80) from carry-free
  // additions within the byte, the bit is widened to a byte mask, and the word is blended
  // with ".". Fast also in builds that do not vectorise the plain loop.
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x80 * kOnes;
  constexpr std::uint64_t kDots = '.' * kOnes;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, data + i, 8);
    const std::uint64_t low = x & ~kHigh;                // each byte below 0x80
    const std::uint64_t atLeast20 = low + 0x60 * kOnes;  // bit 7 set when >= 0x20
    const std::uint64_t is7F = low + kOnes;              // bit 7 set when == 0x7F
    const std::uint64_t printable = atLeast20 & ~is7F & ~x & kHigh;
    const std::uint64_t keep = (printable >> 7) * 0xFF;
    x = (x & keep) | (kDots & ~keep);
    std::memcpy(data + i, &x, 8);
  }
  for (; i < size; ++i) data[i] = hexPreviewCharacter(static_cast<unsigned char>(data[i]));
}

const char* hexPreviewDatabaseKey(ResultCategory category) {
  switch (category) {
    case ResultCategory::Contact:
      return devicedb::kContactsKey;
    case ResultCategory::Message:
      return devicedb::kMessagesKey;
    case ResultCategory::Note:
      return devicedb::kNotesKey;
    case ResultCategory::BookMark:
      return devicedb::kBookmarksKey;
    case ResultCategory::Calender:
      return devicedb::kCalendarKey;
    case ResultCategory::CallHistory:
      return devicedb::kCallsKey;
    default:
      return nullptr;
  }
}

std::string hexPreviewDatabasePath(const std::string& backupFolder, ResultCategory category) {
  const char* key = hexPreviewDatabaseKey(category);
  if (key == nullptr || backupFolder.empty()) return {};
  // The calls of a current device are in CallHistory.storedata, which the calls step reads
  // before call_history.db; the preview shows the file the calls came from.
  std::string path;
  if (category == ResultCategory::CallHistory) {
    std::string store = storedFilePath(backupFolder, devicedb::kCallStoreKey);
    if (regularFileSize(store)) path = store;
  }
  if (path.empty()) path = storedFilePath(backupFolder, key);
  if (!regularFileSize(path)) return {};
  // An encrypted backup's database is shown as its plaintext, decrypted once into the
  // private folder of the unlocked backup.
  return plaintextPath(backupFolder, path).value_or(std::string());
}

std::optional<std::uint64_t> regularFileSize(const std::string& path) {
  ReadOnlyFile file(path);
  if (!file.ok()) return std::nullopt;
  return file.size();
}

std::optional<std::string> hexPreviewText(const std::string& path, ByteWindow window,
                                          const std::function<bool()>& stop) {
  ReadOnlyFile file(path);
  if (!file.ok()) return std::nullopt;
  const auto [begin, count] = file.clip(window);
  if (count > std::string().max_size()) return std::nullopt;
  std::string text;
  try {
    // The file is read straight into the text and turned into characters there: the one
    // copy of the file in memory is the text itself.
    text.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    applog::line("Not enough memory for the hex preview");
    return std::nullopt;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    if (stop && stop()) return std::nullopt;
    const std::size_t want = std::min(kReadPiece, text.size() - done);
    const ssize_t got = file.readAt(text.data() + done, want, begin + done);
    if (got < 0) return std::nullopt;
    if (got == 0) break;  // the file became shorter since it was opened
    toHexPreviewCharacters(text.data() + done, static_cast<std::size_t>(got));
    done += static_cast<std::size_t>(got);
  }
  text.resize(done);
  return text;
}

bool streamHexPreview(const std::string& path, ByteWindow window,
                      const std::function<bool(std::string_view)>& sink) {
  ReadOnlyFile file(path);
  if (!file.ok()) return false;
  const auto [begin, count] = file.clip(window);
  std::vector<char> piece(static_cast<std::size_t>(std::min<std::uint64_t>(count, kStreamPiece)));
  std::uint64_t done = 0;
  while (done < count) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), count - done));
    const ssize_t got = file.readAt(piece.data(), want, begin + done);
    if (got < 0) return false;
    if (got == 0) break;
    toHexPreviewCharacters(piece.data(), static_cast<std::size_t>(got));
    if (!sink(std::string_view(piece.data(), static_cast<std::size_t>(got)))) return false;
    done += static_cast<std::uint64_t>(got);
  }
  return true;
}

void openWithDesktopTextEditor(const std::string& path) {
  std::string program = "xdg-open";
  std::string file = path;
  char* argv[] = {program.data(), file.data(), nullptr};
  pid_t pid = -1;
  if (::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) {
    applog::line("Cannot open the hex preview export");
    return;
  }
  // xdg-open hands the file to the editor and ends; it is reaped on the side so that the
  // caller (the main thread) does not wait for it.
  try {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until this process ends.
  }
}

// ---- MzHexPreview ----

MzHexPreview::MzHexPreview(MzResultViewController& results) : results_(results) {}

MzHexPreview::~MzHexPreview() {
  ++generation_;
  waitForWork();
}

std::shared_ptr<const std::string> MzHexPreview::previewText() const {
  std::lock_guard lock(mutex_);
  return previewText_;
}

bool MzHexPreview::startAfter(std::thread& slot, std::function<void()> work) {
  auto previous = std::make_shared<std::thread>(std::move(slot));
  ++running_;
  try {
    slot = std::thread([this, previous, work = std::move(work)] {
      if (previous->joinable()) previous->join();
      work();
      --running_;
    });
    return true;
  } catch (const std::system_error&) {
    --running_;
    slot = std::move(*previous);
    return false;
  }
}

void MzHexPreview::waitForWork() {
  std::thread build;
  std::thread exporter;
  {
    std::lock_guard lock(mutex_);
    build = std::move(buildThread_);
    exporter = std::move(exportThread_);
  }
  if (build.joinable()) build.join();
  if (exporter.joinable()) exporter.join();
}

void MzHexPreview::showPreviewLocked() {
  if (ResultView* view = results_.resultView()) view->setHexPreviewShown(true);
  bHexPreview = true;
}

void MzHexPreview::ActHexPreviewAction() {
  std::lock_guard lock(mutex_);
  if (!results_.bScanFinished) return;
  const ResultCategory category = results_.currentCategory();
  if (hexPreviewDatabaseKey(category) == nullptr) {
    ++generation_;  // a preview still being built for another category is not wanted
    showPreviewLocked();
    return;
  }
  std::shared_ptr<MzIOSDeviceNode> backup = results_.currentBackup();
  if (backup == nullptr) return;
  std::string path = hexPreviewDatabasePath(backup->backUpFilePath, category);
  if (path.empty()) return;  // no database in this backup: the view stays as it was
  const std::uint64_t generation = ++generation_;
  startAfter(buildThread_, [this, path = std::move(path), generation, category, backup] {
    buildAndShow(path, generation, category, backup);
  });
}

bool MzHexPreview::ConvertFileToHexString(const std::string& path) {
  std::uint64_t generation = 0;
  ResultCategory category = ResultCategory::Photo;
  std::shared_ptr<MzIOSDeviceNode> backup;
  {
    std::lock_guard lock(mutex_);
    generation = generation_.load();
    category = results_.currentCategory();
    backup = results_.currentBackup();
  }
  return buildAndShow(path, generation, category, backup);
}

bool MzHexPreview::buildAndShow(const std::string& path, std::uint64_t generation,
                                ResultCategory category,
                                const std::shared_ptr<MzIOSDeviceNode>& backup) {
  auto text = hexPreviewText(path, {}, [this, generation] { return generation_ != generation; });
  if (!text) return false;
  auto shared = std::make_shared<const std::string>(std::move(*text));
  bool shown = false;
  performOnMainThreadAndWait([&] {
    std::lock_guard lock(mutex_);
    if (generation_ != generation || !results_.bScanFinished ||
        results_.currentCategory() != category || results_.currentBackup() != backup) {
      return;  // asked for something else meanwhile
    }
    previewText_ = shared;
    if (ResultView* view = results_.resultView()) view->setHexPreviewText(*previewText_);
    showPreviewLocked();
    shown = true;
  });
  return shown;
}

void MzHexPreview::ActNormAction() {
  std::lock_guard lock(mutex_);
  ++generation_;  // a preview still being built is no longer wanted
  if (ResultView* view = results_.resultView()) {
    view->setHexPreviewShown(false);
    view->showCategory(results_.currentCategory());
  }
  bHexPreview = false;
}

void MzHexPreview::actExportImage() {
  std::lock_guard lock(mutex_);
  std::shared_ptr<const std::string> text = previewText_;
  if (text == nullptr) return;
  startAfter(exportThread_, [this, text] { ExportHexFileThread(text); });
}

std::string MzHexPreview::ExportHexFileThread(const std::shared_ptr<const std::string>& text) {
  if (text == nullptr) return {};
  std::error_code ec;
  std::filesystem::path folder = exportFolder.empty() ? paths::documentsFolder() : exportFolder;
  folder = std::filesystem::absolute(folder, ec);
  if (ec || !ensureFolder(folder)) {
    applog::line("Cannot create the folder of the hex preview export");
    return {};
  }
  const std::string path = (folder / kHexPreviewFileName).string();
  std::string error;
  if (!writeFileAtomically(path, *text, &error)) {
    applog::line("Cannot write the hex preview export: " + error);
    return {};
  }
  openFileInMainThreadWithPath(path);
  return path;
}

void MzHexPreview::openFileInMainThreadWithPath(const std::string& path) {
  performOnMainThreadAndWait([this, &path] {
    if (fileOpener) fileOpener(path);
  });
}
