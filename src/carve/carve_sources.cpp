#include "carve/carve_sources.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

#include "carve/btree_cells.h"
#include "carve/present_memory.h"
#include "carve/worker_threads.h"

namespace carve {

namespace {

constexpr std::int64_t kLogHeader = 32;
constexpr std::int64_t kFrameHeader = 24;
constexpr std::uint8_t kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

bool validPageSize(std::int64_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

}  // namespace

namespace {

template <bool kBigEndian>
void logChecksumOf(const std::uint8_t* bytes, std::size_t n, std::uint32_t& s0, std::uint32_t& s1) {
  // One load a word, its bytes turned where the log's order is not the machine's.
  auto word = [bytes](std::size_t at) {
    std::uint32_t value;
    std::memcpy(&value, bytes + at, 4);
    if constexpr ((std::endian::native == std::endian::big) != kBigEndian) {
      value = __builtin_bswap32(value);
    }
    return value;
  };
  std::uint32_t a = s0, b = s1;
  for (std::size_t at = 0; at + 8 <= n; at += 8) {
    a += word(at) + b;
    b += word(at + 4) + a;
  }
  s0 = a;
  s1 = b;
}

// What a run of words does to the checksum's two sums. A pair of words (x, y) takes
// (a, b) to (a + x + b, a + 2b + x + y): a linear map M of the sums plus what the words add,
// all modulo 2^32. A run of k pairs therefore takes (a, b) to M^k (a, b) + c, where c is the
// run's checksum begun from (0, 0); runs summed apart join in order through M^k.
struct ChecksumStep {
  std::uint32_t m[2][2] = {{1, 0}, {0, 1}};  // M^k
  std::uint32_t c0 = 0, c1 = 0;

  void apply(std::uint32_t& s0, std::uint32_t& s1) const {
    const std::uint32_t a = m[0][0] * s0 + m[0][1] * s1 + c0;
    const std::uint32_t b = m[1][0] * s0 + m[1][1] * s1 + c1;
    s0 = a;
    s1 = b;
  }
};

// M^k for k pairs of words.
ChecksumStep powerOfPairs(std::uint64_t k) {
  ChecksumStep result, square;
  square.m[0][0] = 1, square.m[0][1] = 1, square.m[1][0] = 1, square.m[1][1] = 2;
  auto times = [](const ChecksumStep& x, const ChecksumStep& y) {
    ChecksumStep z;
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) z.m[i][j] = x.m[i][0] * y.m[0][j] + x.m[i][1] * y.m[1][j];
    }
    return z;
  };
  for (; k != 0; k >>= 1) {
    if (k & 1) result = times(result, square);
    square = times(square, square);
  }
  return result;
}

}  // namespace

void logChecksum(const std::uint8_t* bytes, std::size_t n, bool bigEndian, std::uint32_t& s0,
                 std::uint32_t& s1) {
  if (bigEndian) {
    logChecksumOf<true>(bytes, n, s0, s1);
  } else {
    logChecksumOf<false>(bytes, n, s0, s1);
  }
}

CarveSources CarveSources::read(std::string databaseName, DatabaseImage database,
                                std::optional<DatabaseImage> log,
                                std::optional<DatabaseImage> journal,
                                const CarveSourceLimits& limits) {
  CarveSources sources;
  sources.databaseName_ = std::move(databaseName);
  sources.database_ = std::move(database);
  if (log) sources.log_ = std::move(*log);
  if (journal) sources.journal_ = std::move(*journal);
  sources.pageSize_ = geometryOf(sources.database_).pageSize;
  sources.readLog(limits);
  sources.readJournal(limits);
  sources.buildLatest();
  return sources;
}

void CarveSources::readLog(const CarveSourceLimits& limits) {
  const DatabaseImage& log = log_;
  if (log.size() < kLogHeader) return;
  const std::uint32_t magic = read32(log, 0);
  if (magic != 0x377f0682 && magic != 0x377f0683) return;
  const bool bigEndian = (magic & 1) != 0;
  std::int64_t logPageSize = read32(log, 8);
  if (logPageSize == 1) logPageSize = 65536;
  if (!validPageSize(logPageSize)) logPageSize = pageSize_;
  if (!validPageSize(logPageSize)) return;
  if (pageSize_ == 0) pageSize_ = logPageSize;
  if (logPageSize != pageSize_) return;  // frames of another page size are no pages of this file
  const std::uint32_t salt1 = read32(log, 16), salt2 = read32(log, 20);
  std::uint8_t header[kLogHeader];
  log.copy(0, kLogHeader, header);
  std::uint32_t s0 = 0, s1 = 0;
  logChecksum(header, 24, bigEndian, s0, s1);
  bool valid = s0 == read32(log, 24) && s1 == read32(log, 28);
  const std::int64_t frameSize = kFrameHeader + logPageSize;
  const std::int64_t frameCount =
      std::min((log.size() - kLogHeader) / frameSize, limits.maxLogFrames);
  // Each frame's checksum runs on from the one before it; what each frame's words add is
  // summed apart, on as many threads as the machine runs, and joined in order below.
  std::vector<ChecksumStep> steps;
  if (valid && frameCount > 0) {
    steps.assign(static_cast<std::size_t>(frameCount),
                 powerOfPairs(static_cast<std::uint64_t>(8 + logPageSize) / 8));
    const unsigned threads = frameCount > 256 ? workerThreads() : 1u;
    runOnThreads(threads, [&](unsigned self) {
      const std::int64_t from = frameCount * self / threads;
      const std::int64_t to = frameCount * (self + 1) / threads;
      for (std::int64_t f = from; f < to; ++f) {
        // The whole frame lies in the log.
        const std::uint8_t* bytes = log.data() + kLogHeader + f * frameSize;
        ChecksumStep& step = steps[static_cast<std::size_t>(f)];
        logChecksum(bytes, 8, bigEndian, step.c0, step.c1);
        logChecksum(bytes + kFrameHeader, static_cast<std::size_t>(logPageSize), bigEndian, step.c0,
                    step.c1);
      }
    });
  }
  std::int64_t commit = 1;
  for (std::int64_t f = 0; f < frameCount; ++f) {
    const std::int64_t at = kLogHeader + f * frameSize;
    LogFrame frame;
    frame.index = f + 1;
    frame.page = read32(log, at);
    frame.commitSize = read32(log, at + 4);
    frame.offset = at + kFrameHeader;
    if (valid) {
      steps[static_cast<std::size_t>(f)].apply(s0, s1);
      valid = read32(log, at + 8) == salt1 && read32(log, at + 12) == salt2 &&
              s0 == read32(log, at + 16) && s1 == read32(log, at + 20);
    }
    frame.badChecksum = !valid;
    frame.commit = commit;
    if (frame.commitSize != 0) ++commit;
    if (frame.page == 0) continue;  // no page: not a frame SQLite wrote
    framesOfPage_[frame.page].push_back(frames_.size());
    frames_.push_back(frame);
  }
  commits_ = frames_.empty() ? 0 : frames_.back().commit;
}

void CarveSources::readJournal(const CarveSourceLimits& limits) {
  const DatabaseImage& journal = journal_;
  if (journal.size() == 0) return;
  std::int64_t at = 0;
  std::int64_t pageSize = pageSize_;
  std::int64_t sector = 512;
  const std::int64_t maxPage = 0x7FFFFFFF;
  while (at < journal.size()) {
    if (static_cast<std::int64_t>(journalPages_.size()) >= limits.maxJournalPages) break;
    if (journal.matches(at, kJournalMagic, 8) || at == 0) {
      if (journal.matches(at, kJournalMagic, 8)) {
        const std::int64_t headerSector = read32(journal, at + 20);
        const std::int64_t headerPageSize = read32(journal, at + 24);
        if (validPageSize(headerPageSize) && pageSize_ == 0) pageSize_ = headerPageSize;
        if (validPageSize(headerPageSize)) pageSize = headerPageSize;
        if (headerSector >= 32 && headerSector <= 65536 &&
            (headerSector & (headerSector - 1)) == 0) {
          sector = headerSector;
        }
      }
      at += sector;  // the records begin at the next sector
      continue;
    }
    if (!validPageSize(pageSize)) return;
    const std::int64_t record = 4 + pageSize + 4;
    if (at + record > journal.size()) break;
    const std::int64_t page = read32(journal, at);
    if (page >= 1 && page <= maxPage && pageSize == pageSize_) {
      journalPages_.push_back({page, at + 4});
      at += record;
    } else {
      // Not a record: the rest of this sector is padding before the next header.
      at = (at / sector + 1) * sector;
    }
  }
}

void CarveSources::buildLatest() {
  std::int64_t lastCommit = 0;
  std::int64_t size = 0;
  for (const LogFrame& frame : frames_) {
    if (frame.badChecksum) break;
    if (frame.commitSize != 0) {
      lastCommit = frame.index;
      size = frame.commitSize;
    }
  }
  if (lastCommit == 0 || pageSize_ == 0) return;
  // Each page from its last committed frame; the file holds the rest, cut to the last
  // commit's size.
  std::int64_t highest = database_.size() / pageSize_;
  for (const LogFrame& frame : frames_) {
    if (frame.index > lastCommit) break;
    if (frame.page > size || frame.offset + pageSize_ > log_.size()) continue;
    latestFromLog_[frame.page] = frame.offset;
    highest = std::max(highest, frame.page);
  }
  // A size past every page either file holds counts pages that lie nowhere.
  latestPages_ = std::min(size, highest);
}

DatabasePages CarveSources::latest() const {
  if (!latestPages_) return DatabasePages(database_);
  return DatabasePages(database_, geometryWithPageSize(database_, pageSize_), *latestPages_, log_,
                       latestFromLog_);
}

std::int64_t CarveSources::latestPageCount() const {
  if (!latestPages_) return pageSize_ == 0 ? 0 : database_.size() / pageSize_;
  return *latestPages_;
}

const DatabaseImage& CarveSources::imageOf(const PageVersion& version) const {
  switch (version.source) {
    case PageVersion::Source::Log:
      return log_;
    case PageVersion::Source::Journal:
      return journal_;
    default:
      return database_;
  }
}

std::string CarveSources::fileOf(const PageVersion& version) const {
  switch (version.source) {
    case PageVersion::Source::Log:
      return logName();
    case PageVersion::Source::Journal:
      return journalName();
    default:
      return databaseName_;
  }
}

std::vector<PageVersion> CarveSources::versions() const {
  std::vector<PageVersion> out;
  if (pageSize_ == 0) return out;
  const std::int64_t pages = (database_.size() + pageSize_ - 1) / pageSize_;
  reserveInHugePages(out, static_cast<std::size_t>(pages) + frames_.size() + journalPages_.size());
  for (std::int64_t page = 1; page <= pages; ++page) {
    out.push_back({PageVersion::Source::Database, page, (page - 1) * pageSize_, 0, 0, false});
  }
  for (const LogFrame& frame : frames_) {
    out.push_back({PageVersion::Source::Log, frame.page, frame.offset, frame.index, frame.commit,
                   frame.badChecksum});
  }
  for (const JournalPage& record : journalPages_) {
    out.push_back({PageVersion::Source::Journal, record.page, record.offset, 0, 0, false});
  }
  return out;
}

std::optional<PageVersion> CarveSources::pageAsOf(const PageVersion& version,
                                                  std::int64_t page) const {
  if (page < 1 || pageSize_ == 0) return std::nullopt;
  if (version.source == PageVersion::Source::Log) {
    const auto found = framesOfPage_.find(page);
    if (found != framesOfPage_.end()) {
      for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
        const LogFrame& frame = frames_[*it];
        if (frame.index > version.logFrame) continue;
        return PageVersion{PageVersion::Source::Log, page, frame.offset, frame.index, frame.commit,
                           frame.badChecksum};
      }
    }
  } else if (version.source == PageVersion::Source::Journal) {
    for (const JournalPage& record : journalPages_) {
      if (record.page == page) {
        return PageVersion{PageVersion::Source::Journal, page, record.offset, 0, 0, false};
      }
    }
  }
  const std::int64_t offset = (page - 1) * pageSize_;
  if (offset + pageSize_ > database_.size()) return std::nullopt;
  return PageVersion{PageVersion::Source::Database, page, offset, 0, 0, false};
}

}  // namespace carve
