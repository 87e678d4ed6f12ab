// The hex preview: a category's device database file shown as a run of printable
// characters, one per byte, which the user can save to "hexFile.txt" in his Documents
// folder and open in the desktop's text editor.
//
// Preview text: one character per byte of the file, in file order, with no separators,
// offsets or line breaks. A byte from 0x20 to 0x7E is that ASCII character; every other
// byte is ".".
//
// The file of a category is its database's fixed file key in the current backup's folder
// (storedFilePath, so both the flat and the two-digit-folder layouts are read): contacts,
// conversations, notes, bookmarks, calendar and call history have one. The file is opened
// read-only and only a regular file is read.
//
// Threads. ActHexPreviewAction, ActNormAction and actExportImage are called on the main
// thread. The text of a database is built on a worker thread, read in pieces straight into
// the text (one copy of the file in memory), and handed to the view on the main thread
// (performOnMainThreadAndWait), so a database of hundreds of megabytes does not stall the
// caller. A newer request, returning to the category view, or another category or backup
// makes a pending text stale: it is dropped, not shown. The export thread writes only its
// own file and opens it through the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "results/result_record.h"

class MzResultViewController;
struct MzIOSDeviceNode;

// The name of the export in the Documents folder.
inline constexpr const char* kHexPreviewFileName = "hexFile.txt";

// The preview character of one byte.
constexpr char hexPreviewCharacter(unsigned char byte) {
  return (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
}

// Turns `size` bytes at `data` into their preview characters, in place.
void toHexPreviewCharacters(char* data, std::size_t size);

// The file key of the database the preview of `category` shows, or null when the
// category has none.
const char* hexPreviewDatabaseKey(ResultCategory category);

// The stored file of the category's database in `backupFolder`, or "" when the category
// has no database or its file is not there. For calls, CallHistory.storedata when the backup
// holds it, else call_history.db. For an unlocked encrypted backup, the decrypted copy of that
// file; "" when it does not decrypt.
std::string hexPreviewDatabasePath(const std::string& backupFolder, ResultCategory category);

// A part of a file: `length` bytes from `offset` (none: to the end of the file).
struct ByteWindow {
  std::uint64_t offset = 0;
  std::optional<std::uint64_t> length;
};

// The preview text of the window of the regular file at `path`, or none when the file
// cannot be opened or read, is not a regular file, or `stop` (when given) returns true
// between two pieces. A window past the end gives "".
std::optional<std::string> hexPreviewText(const std::string& path, ByteWindow window = {},
                                          const std::function<bool()>& stop = {});

// Passes the preview text of the window to `sink` piece by piece (at most 1 MiB each);
// `sink` returns false to end early. False when the file cannot be read (as above) or the
// sink ended it.
bool streamHexPreview(const std::string& path, ByteWindow window,
                      const std::function<bool(std::string_view)>& sink);

// The size of the regular file at `path`, or none.
std::optional<std::uint64_t> regularFileSize(const std::string& path);

// Opens `path` with the desktop's default application for text (xdg-open), without
// waiting for the editor.
void openWithDesktopTextEditor(const std::string& path);

class MzHexPreview {
 public:
  // Previews the databases of the current backup of `results`, which must outlive this.
  explicit MzHexPreview(MzResultViewController& results);
  // Waits for a pending preview and a running export.
  ~MzHexPreview();
  MzHexPreview(const MzHexPreview&) = delete;
  MzHexPreview& operator=(const MzHexPreview&) = delete;

  // The hex preview button. For a category with a database: when its file is in the
  // backup, its text is built on a worker thread and then shown in place of the category
  // views, the export button visible and bHexPreview set; when it is not, nothing
  // changes. Other categories show the preview with its previous text. Nothing happens
  // while a scan runs.
  void ActHexPreviewAction();
  // Back to the category view: the preview and its export button are hidden, the current
  // category's view is shown and bHexPreview is cleared; a pending preview is dropped.
  void ActNormAction();
  // The export button: starts a thread that runs ExportHexFileThread with the text shown.
  void actExportImage();

  // Reads the whole file and puts its preview text into the preview view, on the calling
  // thread (ActHexPreviewAction runs it on its worker). False, and nothing changes, when
  // the file cannot be read.
  bool ConvertFileToHexString(const std::string& path);
  // Writes `text` atomically to "hexFile.txt" in the export folder (created, mode 0700,
  // when missing), replacing an earlier one, then opens it with the text editor on the
  // main thread (waiting). Returns the path written, or "" on failure (nothing opened).
  std::string ExportHexFileThread(const std::shared_ptr<const std::string>& text);
  // Runs fileOpener with `path` on the main thread, waiting.
  void openFileInMainThreadWithPath(const std::string& path);

  // Returns when no preview is being built and no export runs. For callers without an
  // event loop (the command line, tests).
  void waitForWork();
  // Whether a preview is being built or an export runs. A caller with an event loop keeps it
  // turning until this is false before it destroys the preview: the workers hand their
  // results to the main thread and wait for it.
  bool workRunning() const { return running_.load() > 0; }

  // The preview is shown instead of the category view. Main thread.
  bool bHexPreview = false;
  // The text of the preview (null before the first one). Main thread.
  std::shared_ptr<const std::string> previewText() const;

  // The folder of the export; "" means the user's Documents folder.
  std::string exportFolder;
  // Shows an exported file to the user; by default the desktop's text editor.
  std::function<void(const std::string& path)> fileOpener = openWithDesktopTextEditor;

 private:
  // Builds the preview of `path` for request `generation` and hands it over.
  bool buildAndShow(const std::string& path, std::uint64_t generation, ResultCategory category,
                    const std::shared_ptr<MzIOSDeviceNode>& backup);
  // Shows the preview view with the text it has. Called with mutex_ held.
  void showPreviewLocked();
  // Starts `work` on a new thread that first waits for `slot`'s thread; false when no
  // thread could be started.
  bool startAfter(std::thread& slot, std::function<void()> work);

  MzResultViewController& results_;
  mutable std::mutex mutex_;  // serialises the main-thread steps with the hand-overs
  std::atomic<std::uint64_t> generation_{0};
  std::shared_ptr<const std::string> previewText_;
  std::atomic<int> running_{0};  // work started and not yet ended
  std::thread buildThread_;
  std::thread exportThread_;
};
