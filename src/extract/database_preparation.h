// Preparing device databases for reading without touching the backup folder.
//
// The backup folder is evidence: nothing here opens a file of it for writing. Each
// database a scan reads is copied, with its write-ahead log, into a private folder made
// for the scan (mode 0700, removed when the preparer is destroyed). In a backup the log is a
// stored file of its own, under the key of the database's device path with "-wal"
// appended; some folders keep it beside the database as "<stored file>-wal". Either way the
// copy gets it beside itself as "<copy>-wal", so SQLite reads the log's contents.
//
// commitDB() then switches the copy to write-ahead logging and checkpoints the log into the
// copy's main file, so that both the SQL readers and the carvers, which read the raw pages,
// see the newest rows. readOnlyCopy() leaves the log as it is for readers that open the
// database read-only. Every reader of one database in one scan gets the same copy.
#pragma once

#include <map>
#include <optional>
#include <string>

class DatabasePreparer {
 public:
  // `backupFolder` is where the stored files live. The private folder is made under
  // $TMPDIR (else /tmp) on first use.
  explicit DatabasePreparer(std::string backupFolder);
  ~DatabasePreparer();
  DatabasePreparer(const DatabasePreparer&) = delete;
  DatabasePreparer& operator=(const DatabasePreparer&) = delete;

  // Copies `storedFile` with its log (the stored file of `walKey`, else "<storedFile>-wal")
  // and its "-shm" file when present, then runs "PRAGMA journal_mode=WAL;" and a checkpoint
  // on the copy. Prints "Failed to commit" when the checkpoint fails; the copy is then read
  // as it is. Returns the copy's path, or none when the file cannot be copied.
  std::optional<std::string> commitDB(const std::string& storedFile, const std::string& walKey);

  // The same copy without the checkpoint, for readers that open it read-only.
  std::optional<std::string> readOnlyCopy(const std::string& storedFile,
                                          const std::string& walKey);

  // The copy made of `storedFile` in this scan, or none.
  std::optional<std::string> preparedCopy(const std::string& storedFile) const;

  // The private folder, or "" before it is made.
  const std::string& workspace() const { return workspace_; }

 private:
  std::optional<std::string> copyWithLog(const std::string& storedFile, const std::string& walKey);
  bool ensureWorkspace();

  std::string backupFolder_;
  std::string workspace_;
  std::map<std::string, std::string> copies_;  // stored file -> private copy
  std::map<std::string, bool> committed_;      // private copy -> checkpoint done
  int nextId_ = 0;
};
