// The bytes a carver reads for one database: the database file, every frame of its
// write-ahead log as a version of its page of its own, and the pages its rollback journal
// saved. Everything is read from images (DatabaseImage); no file is opened for writing.
//
// The log is read as it lies, before any checkpoint: a 32-byte header (magic, version, page
// size, checkpoint sequence, two salts, a checksum of the header), then frames of a 24-byte
// header (page number, database size after a commit or 0, the two salts, a running checksum)
// and one page. A frame belongs to the log SQLite would replay while its salts equal the
// header's and its running checksum holds; the first frame that breaks either ends that log
// for SQLite, but not for carving: it and every frame after it are still versions of their
// pages, marked `badChecksum`. Frames are grouped into commits: commit n ends with the n-th
// frame that carries a database size; frames after the last such frame belong to a commit
// that never completed (numbered one past the last).
//
// The journal is read as a series of headers (magic d9d505f920a163d7, record count, nonce,
// initial page count, sector size, page size), each followed at the next sector by records of
// a page number, the page's bytes before the transaction and a checksum. Records are read as
// far as they lie in the file with a page number that could be one (a journal whose header was
// zeroed on commit still gives its records, taking the database's page size).
//
// latest() is the database as SQLite would show it now: the file with every committed frame
// of the valid log laid over it, cut to the size of the last commit.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "carve/btree_cells.h"
#include "carve/database_image.h"

namespace carve {

// One frame of the write-ahead log.
struct LogFrame {
  std::int64_t index = 0;        // 1-based, in log order
  std::int64_t page = 0;         // the page it holds (1-based)
  std::uint32_t commitSize = 0;  // the database's pages after this commit, 0 when no commit
  std::int64_t offset = 0;       // offset of the page bytes in the log file
  std::int64_t commit = 0;       // 1-based commit number
  bool badChecksum = false;      // past the first frame whose salt or checksum is wrong
};

// One page record of the rollback journal.
struct JournalPage {
  std::int64_t page = 0;    // 1-based
  std::int64_t offset = 0;  // offset of the page bytes in the journal file
};

// Where one version of a page lies.
struct PageVersion {
  enum class Source { Database, Log, Journal };
  Source source = Source::Database;
  std::int64_t page = 0;                     // 1-based
  std::int64_t offset = 0;                   // offset of the page bytes in its file
  std::int64_t logFrame = 0, logCommit = 0;  // for Source::Log
  bool badChecksum = false;
};

struct CarveSourceLimits {
  std::int64_t maxLogFrames = 1'000'000;
  std::int64_t maxJournalPages = 1'000'000;
};

class CarveSources {
 public:
  // `databaseName` names the database file in what is carved from it ("sms.db"); the log
  // and journal, when given, are named after it with "-wal" and "-journal".
  static CarveSources read(std::string databaseName, DatabaseImage database,
                           std::optional<DatabaseImage> log = std::nullopt,
                           std::optional<DatabaseImage> journal = std::nullopt,
                           const CarveSourceLimits& limits = {});

  const std::string& databaseName() const { return databaseName_; }
  std::string logName() const { return databaseName_ + "-wal"; }
  std::string journalName() const { return databaseName_ + "-journal"; }

  // The page size of the database header (65536 for 1); 0 when it is no power of two from
  // 512 to 65536, in which case the log's page size is taken when it has one.
  std::int64_t pageSize() const { return pageSize_; }

  const DatabaseImage& database() const { return database_; }
  const DatabaseImage& log() const { return log_; }
  const DatabaseImage& journal() const { return journal_; }
  const std::vector<LogFrame>& frames() const { return frames_; }
  const std::vector<JournalPage>& journalPages() const { return journalPages_; }
  bool hasLog() const { return !frames_.empty(); }
  // The number of commits of the log, the incomplete one at its end included.
  std::int64_t commitCount() const { return commits_; }

  // The image a version lies in.
  const DatabaseImage& imageOf(const PageVersion& version) const;
  // The file name a version lies in.
  std::string fileOf(const PageVersion& version) const;

  // The newest state (see above), as a view of the pages of the file and the log; valid
  // while these sources are.
  DatabasePages latest() const;
  std::int64_t latestPageCount() const;

  // Every version of every page: the database file's pages in page order, then the log's
  // frames in log order, then the journal's records.
  std::vector<PageVersion> versions() const;

  // Where page `page` lay as of `version`: for a log frame, the newest frame of that page at
  // or before it (else the database file); for the journal, its record of that page (else the
  // database file); for the database file, the file. None when the page lies in no file.
  std::optional<PageVersion> pageAsOf(const PageVersion& version, std::int64_t page) const;

 private:
  void readLog(const CarveSourceLimits& limits);
  void readJournal(const CarveSourceLimits& limits);
  void buildLatest();

  std::string databaseName_;
  DatabaseImage database_, log_, journal_;
  // The newest state: how many pages it has, and which of them the log's committed frames
  // hold (page -> offset in the log); none when no commit of the log holds.
  std::optional<std::int64_t> latestPages_;
  std::unordered_map<std::int64_t, std::int64_t> latestFromLog_;
  std::int64_t pageSize_ = 0;
  std::vector<LogFrame> frames_;
  std::map<std::int64_t, std::vector<std::size_t>> framesOfPage_;  // page -> its frames
  std::vector<JournalPage> journalPages_;
  std::int64_t commits_ = 0;
};

// The log's running checksum over `n` bytes (a multiple of 8) at `bytes`, continuing from
// (s0, s1); `bigEndian` as the log's magic says.
void logChecksum(const std::uint8_t* bytes, std::size_t n, bool bigEndian, std::uint32_t& s0,
                 std::uint32_t& s1);

}  // namespace carve
