// Preparing device databases for reading without touching the backup folder.
//
// The backup folder is evidence: nothing here opens a file of it for writing. Each
// database a scan reads is copied, with its write-ahead log, into a private folder made
// for the scan (mode 0700, removed when the preparer is destroyed; folders of earlier runs
// whose process is gone are removed when a preparer is made). Only regular files inside the
// backup folder are copied (catalogue/stored_file.h), and the holes of a sparse file stay
// holes in its copy, so the copy takes no more space than the data. In a backup the log is a
// stored file of its own, under the key of the database's device path with "-wal"
// appended; some folders keep it beside the database as "<stored file>-wal". Either way the
// copy gets it beside itself as "<copy>-wal", so SQLite reads the log's contents.
//
// commitDB() then switches the copy to write-ahead logging and checkpoints the log into the
// copy's main file, so that both the SQL readers and the carvers, which read the raw pages,
// see the newest rows. readOnlyCopy() leaves the log as it is for readers that open the
// database read-only. Every reader of one database in one scan gets the same copy.
//
// What cannot be read is reported to the scan's problem list, named by its device file:
// a file refused or unreadable (no copy), a copy that is not a database or is cut short
// (the copy is still given, for the carvers), and a private folder that cannot be made or
// fills up (a problem of the environment).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "extract/scan_problems.h"

class DatabasePreparer {
 public:
  // `backupFolder` is where the stored files live. The private folder is made under
  // $TMPDIR (else /tmp) on first use. Problems go to `problems` when given; `stop`, when
  // given and true, abandons a copy in progress.
  explicit DatabasePreparer(std::string backupFolder, ScanProblems* problems = nullptr,
                            std::function<bool()> stop = {});
  ~DatabasePreparer();
  DatabasePreparer(const DatabasePreparer&) = delete;
  DatabasePreparer& operator=(const DatabasePreparer&) = delete;

  // Copies `storedFile` with its log (the stored file of `walKey`, else "<storedFile>-wal")
  // and its "-shm" file when present, then runs "PRAGMA journal_mode=WAL;" and a checkpoint
  // on the copy. Prints "Failed to commit" when the checkpoint fails; the copy is then read
  // as it is. Returns the copy's path, or none when the file cannot be copied.
  // `deviceFile` names the database in problems ("HomeDomain-Library/SMS/sms.db"); without
  // it the stored file's path in the backup is used.
  std::optional<std::string> commitDB(const std::string& storedFile, const std::string& walKey,
                                      const std::string& deviceFile = {});

  // The same copy without the checkpoint, for readers that open it read-only.
  std::optional<std::string> readOnlyCopy(const std::string& storedFile, const std::string& walKey,
                                          const std::string& deviceFile = {});

  // The copy made of `storedFile` in this scan, or none.
  std::optional<std::string> preparedCopy(const std::string& storedFile) const;

  // The private folder, or "" before it is made.
  const std::string& workspace() const { return workspace_; }
  // How many databases were copied.
  std::size_t copiesMade() const { return copies_.size(); }
  // The device file of the database asked for last ("" before any), to name it when its
  // step fails.
  const std::string& lastDatabase() const { return lastDatabase_; }

  // Reports that the database `name` (its device file) could not be read, with `reason`.
  void report(const std::string& name, const std::string& reason);

  // How the copy of the database `name` (its device file) came out: whole, cut short (its
  // rows are read as far as they go) or unreadable, with the reason reported first.
  enum class CopyCondition { Whole, CutShort, Unreadable };
  struct CopyState {
    CopyCondition condition = CopyCondition::Whole;
    std::string reason;
  };
  CopyState stateOf(const std::string& name) const;

  // The prefix of the private folders' names, followed by the process id and a random part.
  static constexpr const char* kWorkspacePrefix = "retrievo-scan-";
  // Removes the private folders under `parent` that this user's earlier runs left behind
  // (their process has ended). Returns how many were removed.
  static int removeStaleWorkspaces(const std::string& parent);
  // $TMPDIR when set and not empty, else /tmp.
  static std::string temporaryFolder();

 private:
  std::optional<std::string> copyWithLog(const std::string& storedFile, const std::string& walKey,
                                         const std::string& deviceFile);
  // Copies the stored file at `from` to `to`; false (reported under `name`) when it cannot.
  // A missing file is not reported when `quietWhenMissing`.
  bool copyStored(const std::string& from, const std::string& to, const std::string& name,
                  bool quietWhenMissing);
  // Reports a copy that does not hold a whole database.
  void checkCopy(const std::string& copy, const std::string& name);
  std::string nameOf(const std::string& storedFile, const std::string& deviceFile) const;
  void report(const std::string& name, const std::string& reason, CopyCondition condition);
  bool ensureWorkspace();

  std::string backupFolder_;
  ScanProblems* problems_;
  std::function<bool()> stop_;
  std::string workspace_;
  bool workspaceFailed_ = false;
  std::string lastDatabase_;
  std::map<std::string, std::string> copies_;  // stored file -> private copy
  std::map<std::string, bool> committed_;      // private copy -> checkpoint done
  std::map<std::string, CopyState> states_;    // database name -> what was reported first
  int nextId_ = 0;
};
