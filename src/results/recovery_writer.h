// The recovery writer: writes every ticked item of the results into an output folder.
//
// Layout under the output folder R, each folder made when the first item goes into it:
// Photo&Video and AppPhoto&Video (media, byte for byte), R/DEVICE NAME (ticked
// backup-browser files under their domain and device path), Contact (Contacts.txt and one
// vCard per contact), Message (one page per conversation, with its picture, card and movie
// attachments), Note, CallHistory, BookMark, Calendar&Reminder (one text file each, written
// when the category has ticked records) and FaceBook&Twitter (social-application media).
//
// Promises:
// - Every name taken from the data is made safe (output_names.h): nothing is written
//   outside R, and a backup-browser path that would climb out of its folder is refused.
// - Everything is made through descriptors of R and its folders (output_folder.h): a link
//   inside R is never followed; an item whose folder is a link or a file fails with that
//   reason.
// - Nothing already in R is replaced, recovered item or not: a taken name becomes
//   INDEX_NAME, then INDEX_N_NAME, INDEX being the record's place in its list (0 for the
//   text files and attachments).
// - Copies write exactly the bytes read; a file that could not be written whole is removed.
// - A camera-roll record that knows its original name is written under it; a Live Photo
//   writes its still and then its movie beside it under the still's final stem
//   (IMG_0007.HEIC and IMG_0007.MOV), counted as one item.
//   A run always goes through every ticked item; the items that could not be written in
//   full are listed in the report with their reasons.
// - The backup folder is only read.
//
// Threads: start() runs the recovery on its own thread (recoverFilesThread() runs it on the
// caller's). The results, their ticks and the tree must not change while it runs. The
// progress counters are atomic and may be read from any thread; onProgress is called on the
// recovery thread, onFinished on the main thread (performOnMainThreadAndWait) with the
// recovery thread waiting.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/tree_dir_node.h"
#include "extract/item_records.h"
#include "results/file_copy.h"
#include "results/output_folder.h"
#include "results/result_view_controller.h"
#include "results/rtf_controller.h"

// One item that was not written in full.
struct RecoveryIssue {
  std::string item;    // what it is: a file name, a device path, a contact's name
  std::string reason;  // why, in a few English words
};

struct RecoveryProgress {
  std::int32_t written = 0;  // items counted so far
  std::int64_t total = 0;    // items ticked when the run started
  int percent = 0;           // written / total in percent, capped at 100
  std::string step;          // the folder being written, e.g. "Contact"
};

struct RecoveryReport {
  std::string folder;           // the output folder
  std::int32_t counted = 0;     // items counted (attachments included)
  std::int32_t incomplete = 0;  // counted items among the issues
  std::vector<RecoveryIssue> issues;

  std::int32_t writtenInFull() const { return counted - incomplete; }
};

class MzRecoveryWriter {
 public:
  explicit MzRecoveryWriter(MzResultViewController& results);
  // Waits for a running recovery.
  ~MzRecoveryWriter();
  MzRecoveryWriter(const MzRecoveryWriter&) = delete;
  MzRecoveryWriter& operator=(const MzRecoveryWriter&) = delete;

  // The roots of the backup-browser tree whose ticked files are recovered.
  std::vector<std::shared_ptr<MzTreeDirNode>> treeRoots;
  // Called on the recovery thread when a folder is begun and after every counted item.
  std::function<void(const RecoveryProgress&)> onProgress;
  // Called on the main thread when the run has ended.
  std::function<void(const RecoveryReport&)> onFinished;

  // Starts recoverFilesThread on a new thread (returns false when one is running).
  bool start(const std::string& outputFolder);
  // Waits for the thread started by start().
  void wait();

  // The whole run on the caller's thread, in order: camera-roll media, application media,
  // backup-browser files, contacts, conversations, notes, calls, bookmarks, calendar,
  // social media; then the completion.
  void recoverFilesThread();

  std::string recoverPath;              // the output folder R
  std::string recoverFilePath;          // the folder being written
  std::int64_t allSelectedFileNum = 0;  // set when a run starts; progressPercent() is safe

  std::int32_t recovredFilesNum() const { return recovred_.load(); }
  // recovredFilesNum * 100 / allSelectedFileNum, capped at 100 (attachments are counted
  // but not ticked, so the plain figure can pass 100).
  int progressPercent() const;
  // The report of the last run (complete once onFinished has been called).
  const RecoveryReport& report() const { return report_; }

  // The per-record writers. Each counts its item before it writes. `index` is the record's
  // place in its list.
  void recoverPhotoAndVideo(const MzPhotoAndVideoNode& record, std::size_t index);
  void recoverAppPhotoAndVideo(const MzPhotoAndVideoNode& record, std::size_t index);
  void recoverContactNode(const MzContactNode& contact, std::size_t index, MzRtfController& rtf);
  void recoverConversation(const MzMessageTreeNode& conversation, std::size_t index);
  void recoverNoteNode(const MzNoteNode& note, MzRtfController& rtf);
  // Copies the files of a current note's attachments into the notes folder, each under its
  // own name (a free one when taken).
  void copyNoteAttachments(const MzNoteNode& note);
  void recoverCallHistoryNode(const MzCallHistoryNode& call, MzRtfController& rtf);
  void recoverBookMarkNode(const MzBookMarkNode& bookMark, MzRtfController& rtf);
  void recoverCalenderNode(const MzCalenderNode& event, MzRtfController& rtf);
  void recoverFaceBookAndTwitter(const MzFaceTwitterNode& record, std::size_t index);
  // A movie attachment, as FILE KEY.mov; counted.
  void writeMovFile(const MzMessageNode& message);
  // A picture attachment, as FILE KEY with the extension of its kind (.jpg, .png, .gif,
  // .heic), once per stored file and run; not counted (a conversation may hold many, and
  // the progress counts what was ticked). Returns the relative URL of the copy for the page,
  // or none when it was not made.
  std::optional<std::string> writePictureFile(const MzMessageNode& message);
  // Copies an attachment of a current database beside the conversation page under the name
  // it was sent with, once per stored file, and returns the copy's relative URL; none when
  // the file is not in the backup or could not be copied (a problem is noted for the latter).
  // Not counted, as pictures are not.
  std::optional<std::string> writeAttachmentFile(const MzMessageAttachment& attachment);
  // Copies `source` (`size` bytes) beside the conversation page as `name` and remembers it
  // for the run; the copy's relative URL, or none (with a problem noted).
  std::optional<std::string> copyBesidePage(const std::string& source, std::uint64_t size,
                                            const std::string& name);
  // A card or location attachment, copied as FILE KEY.vcf when it is UTF-8 text; not counted.
  void writeVCFCardNode(const MzMessageNode& message);
  // The ticked files of a selected or partly selected directory and of those below it.
  void traverseRecoverTreeNode(const MzTreeDirNode& directory);

  // The vCard file name of a contact: its name, else its company, else "unknown ROWID",
  // made safe, with ".vcf".
  static std::string vcardFileName(const MzContactNode& contact);
  // The page name of a conversation: its name, or its address when the name is shorter
  // than 2 characters, made safe, with ".html".
  static std::string conversationFileName(const MzMessageTreeNode& conversation);

 private:
  // Resets the report and the counters and takes the number of ticked items.
  void prepareRun();
  // The steps of the run and its completion.
  void writeEverything();
  std::string deviceName() const;
  void beginFolder(const std::string& name);
  void count();
  void reportProgress();
  void addIssue(std::string item, std::string reason, bool counted);
  void copyMedia(const MzPhotoAndVideoNode& record, std::size_t index);
  // The movie of a Live Photo, beside its still `still` and under the same stem.
  void copyLivePhotoMovie(const MzPhotoAndVideoNode& record, const CopyResult& still,
                          const OutputDir& folder, std::size_t index);
  // The size of a source (opened as openRecoverySource does) and, with `bytes`, its first
  // `limit` bytes; none with `*problem` set when it cannot be opened or read.
  std::optional<std::uint64_t> sourceBytes(const std::string& source, std::size_t limit,
                                           std::string* bytes, std::string* problem) const;
  // Copies into `folder` (none: the item fails with `problem`).
  void copyCounted(const std::string& item, const std::string& source, std::uint64_t expected,
                   const OutputDir* folder, const std::string& problem, const std::string& name,
                   std::size_t index);
  // Writes a category's text file when it holds records; when it cannot be written, its
  // `records` count as incomplete.
  void writeCollector(MzRtfController& rtf, const std::string& type, std::int32_t records);
  void finish();

  // A folder of the output, opened at its first use and kept.
  struct LazyFolder {
    std::string relative;  // below its parent
    bool tried = false;
    std::optional<OutputDir> dir;
    std::string problem;  // why it could not be opened
  };
  // R (made when missing), the folder begun last, and the last folder below that one (the
  // backup browser's device paths); none with `*problem` set when one cannot be opened.
  const OutputDir* rootFolder(std::string* problem);
  const OutputDir* currentFolder(std::string* problem);
  const OutputDir* folderBelow(const std::string& relative, std::string* problem);

  MzResultViewController& results_;
  ChunkedCopier copier_;
  std::string sourceFolder_;  // the backup folder of the sources, "" for none
  std::thread recoverThread_;
  std::atomic<std::int32_t> recovred_{0};
  std::atomic<std::int64_t> total_{0};
  std::string step_;
  RecoveryReport report_;
  LazyFolder root_;
  LazyFolder current_;
  LazyFolder below_;
  // Stored picture file -> relative URL of its copy, for this run.
  std::map<std::string, std::string> pictureCopies_;
};

// The number of ticked files of `roots` and everything below them.
std::size_t tickedTreeFiles(const std::vector<std::shared_ptr<MzTreeDirNode>>& roots);
