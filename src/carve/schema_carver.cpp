#include "carve/schema_carver.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "carve/btree_cells.h"
#include "carve/database_map.h"
#include "carve/digest.h"
#include "carve/index_cell_shape.h"
#include "carve/index_entry_carver.h"
#include "carve/present_memory.h"
#include "carve/record_fit.h"
#include "carve/record_format.h"
#include "carve/varint.h"
#include "carve/worker_threads.h"

namespace carve {

namespace {

using Kind = CarvedRecordPlace::Kind;

// A record found in a page, before it becomes a CarvedRow.
struct Found {
  int table = -1;
  SqlValues values;
  std::optional<std::int64_t> rowid;
  std::int64_t offset = 0;  // absolute, in the version's image
  std::int64_t end = 0;     // just past the cell's local part
  int storedColumns = 0;
  int overflowPages = 0;
  bool rebuilt = false;
};

// The most record layouts tried for one freeblock.
constexpr int kMaxRebuildTrials = 20000;

// What every page's carve reads and none changes: made once, then shared by the threads.
struct CarveContext {
  CarveContext(const CarveSources& sources, const TableSchema& schema, const CarveLimits& limits)
      : sources(sources),
        schema(schema),
        limits(limits),
        fitter(schema),
        geometry(geometryWithPageSize(sources.database(), sources.pageSize())) {
    DatabaseMapLimits mapLimits;
    mapLimits.maxDepth = limits.maxBtreeDepth;
    mapLimits.maxPages = limits.maxFreelistPages;
    mapLimits.maxOverflowPages = limits.maxOverflowPages;
    map = mapDatabase(sources.latest(), schema, mapLimits);
    std::int64_t lastCommitFrame = 0;
    for (const LogFrame& frame : sources.frames()) {
      if (frame.badChecksum) break;
      if (frame.commitSize != 0) lastCommitFrame = frame.index;
    }
    for (const LogFrame& frame : sources.frames()) {
      if (frame.index > lastCommitFrame) break;
      latestFrame[frame.page] = frame.index;
    }
  }

  // Whether `version` is the page as the database now stands.
  bool isLatest(const PageVersion& version) const {
    const auto frame = latestFrame.find(version.page);
    switch (version.source) {
      case PageVersion::Source::Database:
        return frame == latestFrame.end();
      case PageVersion::Source::Log:
        return frame != latestFrame.end() && frame->second == version.logFrame;
      default:
        return false;
    }
  }

  const CarveSources& sources;
  const TableSchema& schema;
  const CarveLimits& limits;
  const TableFitter fitter;
  const PageGeometry geometry;
  DatabaseMap map;
  std::unordered_map<std::int64_t, std::int64_t> latestFrame;  // page -> frame in the newest state
};

// Whether two rows of one table hold the same values, the rowid column (`skip`) left out:
// numbers by their exact bits, texts and blobs byte for byte.
bool sameValues(const SqlValues& a, const SqlValues& b, int skip) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (static_cast<int>(i) == skip) continue;
    const SqlValue& x = a[i];
    const SqlValue& y = b[i];
    if (x.kind != y.kind) return false;
    switch (x.kind) {
      case SqlValue::Kind::Integer:
        if (x.integer != y.integer) return false;
        break;
      case SqlValue::Kind::Real:
        if (std::bit_cast<std::uint64_t>(x.real) != std::bit_cast<std::uint64_t>(y.real)) {
          return false;
        }
        break;
      case SqlValue::Kind::Text:
      case SqlValue::Kind::Blob:
        if (x.bytes() != y.bytes()) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

// A record found in one page version, with the place it was found in.
struct Finding {
  Found found;
  Kind kind = CarvedRecordPlace::kUnallocated;
  // A digest of the table and its values but the rowid column, which tell repeats apart;
  // taken on the carving thread.
  std::uint64_t valuesHash = 0;
};

// The gaps of interior and index pages that a carve probed at every offset and found no cell
// in, by page: where a later version of the page has the same bytes at the same offsets,
// its probes there are known to fail and are left out. A probe at an offset reads only the
// bytes from it to the gap's end, on its own page, the same way in every version of an
// interior or index page, and fails again when the gap ends sooner: so a suffix of the new
// gap whose bytes are the old ones, within an old gap that ended no sooner, holds no cell.
// Scans that followed an overflow chain (whose pages differ by version) are not kept.
struct EmptyGap {
  const std::uint8_t* page = nullptr;  // the page's bytes in that version
  std::int64_t begin = 0, end = 0;     // within the page
};
using EmptyGaps = std::unordered_map<std::int64_t, EmptyGap>;

// Finds the records of one page version at a time. Each thread has its own: it keeps the
// page being carved and the buffers every try reuses.
class PageCarver {
 public:
  // The values of the records found take their memory from `values`.
  // `emptyGaps` are those of earlier batches; this carver adds its own to `newEmptyGaps`.
  PageCarver(const CarveContext& context, ArenaAllocator<SqlValue> values,
             const EmptyGaps& emptyGaps,
             std::vector<std::pair<std::int64_t, EmptyGap>>& newEmptyGaps)
      : emptyGaps_(emptyGaps),
        newEmptyGaps_(newEmptyGaps),
        context_(context),
        sources_(context.sources),
        schema_(context.schema),
        limits_(context.limits),
        fitter_(context.fitter),
        geometry_(context.geometry),
        map_(context.map),
        values_(std::move(values)) {}

  // The records of `version`, in the order the page holds them.
  std::vector<Finding> carve(const PageVersion& version) {
    findings_.clear();
    carveVersion(version);
    return std::move(findings_);
  }

 private:
  // ---- One page version ----------------------------------------------------------------------

  void carveVersion(const PageVersion& version) {
    version_ = &version;
    image_ = &sources_.imageOf(version);
    pageOffset_ = version.offset;
    pageEnd_ = std::min(pageOffset_ + geometry_.usable, image_->size());
    if (pageEnd_ - pageOffset_ < 8) return;
    const std::int64_t headerOffset = version.page == 1 ? 100 : 0;
    const auto header = readPageHeader(*image_, pageOffset_, headerOffset, geometry_);
    const bool leaf = header && header->kind == kTableLeaf;
    const bool latest = isLatest(version);
    if (map_.pointerMapPage(version.page)) return;
    owner_ = map_.tableOf(version.page);
    const auto tree = map_.owner.find(version.page);
    pageTable_ = kAnyTable;
    const auto freelist = map_.freelist.find(version.page);
    const bool onFreelist = freelist != map_.freelist.end();
    const bool foreign =
        onFreelist || !map_.reachable(version.page) || version.page > sources_.latestPageCount();
    if (foreign) {
      const Kind kind = onFreelist ? CarvedRecordPlace::kFreelist : CarvedRecordPlace::kBeyondBtree;
      if (leaf) {
        pageTable_ = tableOfCells(*header);
        cells(*header, kind, /*onlyGone=*/true);
        freeblocks(*header, kind);
        region(pageOffset_ + header->pointerArrayEnd, pageOffset_ + header->contentStart, kind);
        return;
      }
      const std::int64_t used = onFreelist ? freelist->second : 0;
      if (header && used == 0 && header->pointerArrayEnd <= header->contentStart &&
          header->contentStart <= geometry_.usable) {
        // An index or interior page left as it was: its cells are no table's records, as on
        // a reached one; its gap and freeblocks may hold what it held before.
        freeblocks(*header, kind);
        region(pageOffset_ + header->pointerArrayEnd, pageOffset_ + header->contentStart, kind);
      } else {
        region(pageOffset_ + std::max<std::int64_t>(used, headerOffset), pageEnd_, kind);
      }
      return;
    }
    if (!header) return;
    if (!leaf || (latest && tree->second < 0)) {
      // An interior or index page, or a leaf of the schema table: its gap may still hold
      // what the page held before it took this part (a leaf that became the root of a
      // deeper tree keeps its old cells there). Any table's records, told by themselves.
      // An index leaf's gap mostly holds its own index's old cells: those are passed over.
      indexShape_ = IndexCellShape::ofPage(*image_, pageOffset_, *header, geometry_);
      innerGap(pageOffset_ + header->pointerArrayEnd, pageOffset_ + header->contentStart);
      indexShape_ = {};
      return;
    }
    if (latest) pageTable_ = tree->second;
    if (!latest) cells(*header, oldVersionKind(version), /*onlyGone=*/true);
    freeblocks(*header, CarvedRecordPlace::kFreeblock);
    region(pageOffset_ + header->pointerArrayEnd, pageOffset_ + header->contentStart,
           CarvedRecordPlace::kUnallocated);
  }

  bool isLatest(const PageVersion& version) const { return context_.isLatest(version); }

  static Kind oldVersionKind(const PageVersion& version) {
    switch (version.source) {
      case PageVersion::Source::Log:
        return CarvedRecordPlace::kLogFrame;
      case PageVersion::Source::Journal:
        return CarvedRecordPlace::kJournal;
      default:
        return CarvedRecordPlace::kLiveOldVersion;
    }
  }

  // ---- Places ----------------------------------------------------------------------------

  // The cells of the page's cell pointer array, kept when their row is gone from the newest
  // state or differs there.
  void cells(const BtreePageHeader& header, Kind kind, bool onlyGone) {
    for (std::int64_t i = 0; i < header.cellCount; ++i) {
      const std::int64_t at = pageOffset_ + cellPointer(*image_, pageOffset_, header, i);
      if (at < pageOffset_ + header.pointerArrayEnd || at >= pageEnd_) continue;
      if (auto found = wholeCell(at, pageEnd_, onlyGone)) emit(*found, kind);
    }
  }

  // The table most of a page's cells fit, or kAnyTable: a page freed from a b-tree still
  // says which table it held.
  int tableOfCells(const BtreePageHeader& header) {
    std::unordered_map<int, int> votes;
    for (std::int64_t i = 0; i < header.cellCount && i < 64; ++i) {
      const std::int64_t at = pageOffset_ + cellPointer(*image_, pageOffset_, header, i);
      if (at < pageOffset_ + header.pointerArrayEnd || at >= pageEnd_) continue;
      if (auto found = wholeCell(at, pageEnd_, /*onlyGone=*/false, /*orAnyTable=*/false,
                                 /*withValues=*/false)) {
        ++votes[found->table];
      }
    }
    int best = kAnyTable, most = 0;
    for (const auto& [table, count] : votes) {
      if (count > most) best = table, most = count;
    }
    return best;
  }

  void freeblocks(const BtreePageHeader& header, Kind kind) {
    std::int64_t at = header.firstFreeblock;
    std::int64_t previous = 0;
    // Freeblocks are kept in ascending order; a chain that does not ascend is damaged.
    while (at != 0 && at > previous && at + 4 <= pageEnd_ - pageOffset_) {
      const std::int64_t size = read16(*image_, pageOffset_ + at + 2);
      const std::int64_t end = std::min(pageOffset_ + at + size, pageEnd_);
      if (size >= 4) freeblock(pageOffset_ + at, end, kind);
      previous = at;
      at = read16(*image_, pageOffset_ + at);
    }
  }

  // A freeblock [begin, end): the first cell with its start rebuilt, then whatever follows.
  void freeblock(std::int64_t begin, std::int64_t end, Kind kind) {
    std::int64_t at = begin;
    if (auto found = rebuilt(begin, end)) {
      at = found->end;
      emit(*found, kind);
    } else {
      at = begin + 4;
    }
    // Cells freed beside the first one: whole, or with their own start overwritten.
    if (at < end) {
      if (auto next = rebuilt(at, end)) {
        emit(*next, kind);
        at = next->end;
      }
    }
    region(at, end, kind);
  }

  // The gap of an interior or index page, probed where no earlier version of the page showed
  // that nothing is (see EmptyGap); kept when it holds no cell.
  void innerGap(std::int64_t begin, std::int64_t end) {
    begin = std::max(begin, pageOffset_);
    end = std::min(end, pageEnd_);
    const std::uint8_t* page = image_->data() + pageOffset_;
    const std::int64_t from = begin - pageOffset_, to = end - pageOffset_;
    std::int64_t probed = to;  // offsets from here on are known to hold no cell
    const auto seen = emptyGaps_.find(version_->page);
    if (seen != emptyGaps_.end() && to <= seen->second.end) {
      const std::int64_t lowest = std::max(from, seen->second.begin);
      while (probed > lowest && page[probed - 1] == seen->second.page[probed - 1]) --probed;
    }
    // An index leaf's gap begins with the pointers of the cells it no longer holds: no cell
    // lies whole among them, and one that begins where they end shows in its first bytes a
    // byte no pointer has (a payload of 16 bytes or more, a text, a NULL) within a few bytes.
    // On larger pages the pointers' bytes look too much like a record's to tell them apart.
    std::int64_t first = from;
    if (indexShape_.columns() != 0 && geometry_.usable <= kPointersToldApart) {
      first = std::max(
          from, staleCellPointersEnd(*image_, pageOffset_, from, to, geometry_) - kPointerMargin);
    }
    hits_ = 0;
    overflowTried_ = false;
    skippedTo_ = pageOffset_ + first;
    region(pageOffset_ + first, end, CarvedRecordPlace::kUnallocated, pageOffset_ + probed);
    // Only what was probed at every offset is known to hold no cell.
    const std::int64_t everyOffset = skippedTo_ - pageOffset_;
    if (hits_ == 0 && !overflowTried_ && everyOffset < to) {
      newEmptyGaps_.emplace_back(version_->page, EmptyGap{page, everyOffset, to});
    }
  }

  // Every offset of [begin, end), or of [begin, probeEnd) with reads up to `end`: whole
  // cells, and leftovers of freeblock headers.
  void region(std::int64_t begin, std::int64_t end, Kind kind, std::int64_t probeEnd = INT64_MAX) {
    begin = std::max(begin, pageOffset_);
    end = std::min(end, pageEnd_);
    const std::uint8_t* data = image_->data();
    for (std::int64_t at = begin; at + 4 <= end && at < probeEnd;) {
      // Four zero bytes start neither a cell (a payload is never empty) nor a freeblock header
      // (its size is never 0): every offset whose first four bytes lie in a run of zeros is
      // passed over at once. Most free space is zeros.
      if (std::uint32_t word = 0; std::memcpy(&word, data + at, 4), word == 0) {
        std::int64_t nonzero = at + 4;
        while (nonzero + 8 <= end) {
          std::uint64_t eight = 0;
          std::memcpy(&eight, data + nonzero, 8);
          if (eight != 0) break;
          nonzero += 8;
        }
        while (nonzero < end && data[nonzero] == 0) ++nonzero;
        at = std::max(at + 1, nonzero - 3);
        continue;
      }
      // What a page held before it took its part may be any table's, told by itself.
      std::optional<Found> found = wholeCell(at, end, true, /*orAnyTable=*/true);
      if (!found) {
        // A cell whose start a freeblock header overwrote. The next freeblock it names
        // begins past its end: freeblocks ascend and never overlap.
        const std::int64_t size = read16(*image_, at + 2);
        const std::int64_t next = read16(*image_, at);
        if (size >= 6 && at + size <= end && (next == 0 || pageOffset_ + next >= at + size)) {
          found = rebuilt(at, at + size, /*fromChain=*/false);
        }
      }
      if (found) {
        ++hits_;
        at = found->end;
        emit(*found, kind);
        continue;
      }
      // An old cell of the index whose leaf this is: no cell begins inside it.
      if (indexShape_.columns() != 0) {
        if (const auto indexCellEnd = indexShape_.cellEnd(*image_, at, end)) {
          at = skippedTo_ = *indexCellEnd;
          continue;
        }
      }
      ++at;
    }
  }

  // ---- Records -----------------------------------------------------------------------------

  // Overflow pages as of the version being carved.
  PageLookup overflowLookup() const {
    return [this](std::int64_t page) -> std::optional<PagePlace> {
      const auto version = sources_.pageAsOf(*version_, page);
      if (!version) return std::nullopt;
      return PagePlace{&sources_.imageOf(*version), version->offset};
    };
  }

  // Whether a cell whose serial types begin at q and end at `headerEnd`, with `bodies` bytes
  // of bodies, keeps a local part that with its overflow page number ends at `end`: what
  // spilled() needs first.
  bool spillsToEnd(std::int64_t q, std::int64_t headerEnd, std::int64_t bodies,
                   std::int64_t end) const {
    const std::int64_t typesLength = headerEnd - q;
    const std::int64_t lengthSize = typesLength + 1 > 127 ? 2 : 1;
    const std::int64_t payloadLength = lengthSize + typesLength + bodies;
    const std::int64_t local =
        localPayloadSize(static_cast<std::uint64_t>(payloadLength), geometry_.usable);
    return local < payloadLength && q - lengthSize + local + 4 == end;
  }

  // A freed cell whose payload continued on overflow pages: its local part and the overflow
  // page number fill the freeblock [q - header length size, end) exactly, the payload length
  // (lost) being the header's length plus the bodies the serial types name.
  std::optional<Found> spilled(int t, std::int64_t q, const RecordHeader& header,
                               std::int64_t headerEnd, std::int64_t begin, std::int64_t end) {
    const std::int64_t typesLength = headerEnd - q;
    const std::int64_t lengthSize = typesLength + 1 > 127 ? 2 : 1;
    const std::int64_t payloadStart = q - lengthSize;
    const std::int64_t payloadLength = lengthSize + typesLength + header.bodyLength;
    const std::int64_t local =
        localPayloadSize(static_cast<std::uint64_t>(payloadLength), geometry_.usable);
    if (local >= payloadLength || payloadStart + local + 4 != end) return std::nullopt;
    TableCell cell;
    cell.payloadLength = static_cast<std::uint64_t>(payloadLength);
    cell.payloadOffset = payloadStart;
    cell.localLength = local;
    cell.overflowPage = read32(*image_, payloadStart + local);
    cell.end = end;
    if (cell.overflowPage == 0) return std::nullopt;
    std::int64_t pages = 0;
    overflowTried_ = true;
    const auto payload = assemblePayload(*image_, cell, geometry_, overflowLookup(),
                                         limits_.maxOverflowPages, &pages);
    if (!payload) return std::nullopt;
    const auto skip = static_cast<std::size_t>(headerEnd - payloadStart);
    auto values =
        fitter_.fitTable(t, header, payload->data() + skip, payload->size() - skip, values_);
    if (!values || !tellingRecord(header, payload->data() + skip)) return std::nullopt;
    Found found;
    found.table = t;
    found.values = std::move(*values);
    found.offset = begin;
    found.end = end;
    found.storedColumns = static_cast<int>(header.serialTypes.size());
    found.overflowPages = static_cast<int>(pages);
    found.rebuilt = true;
    return found;
  }

  // The whole cell at `at` ending before `end`, its payload followed to its overflow pages;
  // with `onlyGone`, none when it is the live row of the newest state. A record of another
  // table than the page holds is taken with `orAnyTable` when it tells itself apart.
  std::optional<Found> wholeCell(std::int64_t at, std::int64_t end, bool onlyGone,
                                 bool orAnyTable = false, bool withValues = true) {
    const auto cell = tableCellAt(*image_, at, end, geometry_);
    if (!cell) return std::nullopt;
    // A quick look at the record header before anything is copied.
    const Varint headerLength = varintAt(*image_, cell->payloadOffset, cell->end);
    if (!headerLength || headerLength.value < 2 ||
        headerLength.value > static_cast<std::uint64_t>(cell->localLength) ||
        headerLength.value <= static_cast<std::uint64_t>(headerLength.length) ||
        !fitter_.leadingTypesMayFit(
            image_->data() + cell->payloadOffset + headerLength.length,
            static_cast<std::size_t>(headerLength.value) - headerLength.length)) {
      return std::nullopt;
    }
    // A payload all on its page is read where it lies; one that spilled is put together.
    std::int64_t pages = 0;
    std::optional<std::vector<std::uint8_t>> assembled;
    const std::uint8_t* payload = image_->data() + cell->payloadOffset;
    std::size_t size = static_cast<std::size_t>(cell->localLength);
    if (cell->overflowPage != 0) {
      overflowTried_ = true;
      assembled = assemblePayload(*image_, *cell, geometry_, overflowLookup(),
                                  limits_.maxOverflowPages, &pages);
      if (!assembled) return std::nullopt;
      payload = assembled->data();
      size = assembled->size();
    }
    if (!readRecordHeaderInto(payload, size, fitter_.maxColumns(), &header_)) {
      return std::nullopt;
    }
    RecordHeader& header = header_;
    if (cell->rowid < 1) return std::nullopt;  // SQLite gives rowids from 1 up
    // A record is its header and its bodies, no more and no less: a payload length that
    // says otherwise belongs to no record.
    if (static_cast<std::uint64_t>(header.headerLength + header.bodyLength) !=
        cell->payloadLength) {
      return std::nullopt;
    }
    // A cell of the page's own table that is still its live row, byte for byte, is no
    // deleted record, whatever table its values would fit best.
    if (onlyGone && owner_ >= 0 && isLiveRow(owner_, cell->rowid, payload, size)) {
      return std::nullopt;
    }
    // The table is chosen and the record judged where it lies; its values are made last.
    const std::uint8_t* body = payload + header.headerLength;
    const std::size_t bodySize = size - static_cast<std::size_t>(header.headerLength);
    const auto table = fitter_.fittingTable(header, body, bodySize, owner_);
    if (!table) return std::nullopt;
    const bool ownTable = pageTable_ != kAnyTable && *table == pageTable_;
    if (pageTable_ != kAnyTable && !ownTable && !orAnyTable) return std::nullopt;
    if (!ownTable && !tellingRecord(header, body)) return std::nullopt;
    if (onlyGone && *table != owner_ && isLiveRow(*table, cell->rowid, payload, size)) {
      return std::nullopt;
    }
    Found found;
    found.table = *table;
    // A payload read where it lies lends its texts to the values (see carveVersions()); one
    // put together from overflow pages is copied.
    if (withValues) found.values = fitter_.valuesOf(*table, header, body, values_, !assembled);
    found.rowid = cell->rowid;
    found.offset = at;
    found.end = cell->end;
    found.storedColumns = static_cast<int>(header.serialTypes.size());
    found.overflowPages = static_cast<int>(pages);
    return found;
  }

  // Whether row `rowid` of table `table` is live with this payload.
  bool isLiveRow(int table, std::int64_t rowid, const std::uint8_t* payload,
                 std::size_t size) const {
    const auto live = map_.livePayload(table, rowid);
    return live && *live == payloadDigest(payload, size);
  }

  // The cell that began at `begin` before its first four bytes were overwritten by a
  // freeblock header, its bodies ending by `end`. Its serial types are taken to begin at q,
  // three to fourteen bytes after `begin` (payload length, rowid and header length before
  // them); a type that lay in the overwritten bytes is guessed: the rowid alias is NULL,
  // else a type whose body makes the record end at `end`, else a small integer type. Of the
  // layouts that fit a table, the one that ends at `end` wins, then one whose surviving
  // header length agrees, then one with every column, then the earliest q.
  std::optional<Found> rebuilt(std::int64_t begin, std::int64_t end, bool fromChain = true) {
    const std::int64_t intact = begin + 4;
    std::optional<Found> best;
    int bestScore = -1;
    int trials = 0;
    if (begin < 0 || end > image_->size()) return best;
    // The freeblock's bytes, read where they lie: bytes[x - begin] for x in [begin, end).
    const std::uint8_t* bytes = image_->data() + begin;
    // The serial types read for one layout, where each ends, and the bodies before each;
    // sized for the widest table once.
    const std::size_t widest = fitter_.maxColumns() + 2;
    if (types_.size() < widest) {
      types_.resize(widest);
      typeEnds_.resize(widest);
      bodiesBefore_.resize(widest + 1);
    }
    std::int64_t* types = types_.data();
    std::int64_t* typeEnds = typeEnds_.data();
    std::int64_t* bodiesBefore = bodiesBefore_.data();  // of types [0, m)
    // The first surviving serial type of each layout, read once for all the tables: most
    // layouts fail on it.
    std::array<SpanVarint, 12> firstTypes{};
    for (std::int64_t at = intact; at <= begin + 14 && at < end; ++at) {
      firstTypes[static_cast<std::size_t>(at - intact)] =
          spanVarint(bytes + (at - begin), static_cast<std::size_t>(end - at));
    }
    for (int t : fitter_.carvable()) {
      // On a page of a table's b-tree only that table's records are freed.
      if (pageTable_ != kAnyTable && t != pageTable_) continue;
      if (fitter_.ownPagesOnly(t) && t != owner_) continue;
      const TableDefinition& table = schema_.tables[static_cast<std::size_t>(t)];
      const std::size_t n = table.columns.size();
      const std::size_t minColumns = fitter_.minColumns(t);
      const std::uint8_t* masks = fitter_.typeMasks(t);
      // With three columns or fewer too little of a header survives to rebuild it.
      if (n < 4) continue;
      for (std::int64_t q = begin + 3; q <= begin + 14 && q < end; ++q) {
        // Serial types that survive, read from max(q, intact); with q = begin + 3 the first
        // one is lost and guessed.
        const bool firstLost = q < intact;
        const SpanVarint first =
            firstTypes[static_cast<std::size_t>((firstLost ? intact : q) - intact)];
        if (first.length == 0 || first.value > 0x7FFFFFFF ||
            !TableFitter::typeFitsMask(masks, firstLost ? 1 : 0,
                                       static_cast<std::int64_t>(first.value))) {
          continue;
        }
        std::size_t count = 0;  // types read
        bodiesBefore[0] = 0;
        if (firstLost) {
          types[0] = 0;
          typeEnds[0] = intact;
          bodiesBefore[1] = 0;
          count = 1;
        }
        std::int64_t at = firstLost ? intact : q;
        while (count < n && at < end) {
          const SpanVarint type =
              spanVarint(bytes + (at - begin), static_cast<std::size_t>(end - at));
          if (type.length == 0 || type.value > 0x7FFFFFFF) break;
          const auto value = static_cast<std::int64_t>(type.value);
          if (!TableFitter::typeFitsMask(masks, count, value)) break;
          types[count] = value;
          at += type.length;
          typeEnds[count] = at;
          bodiesBefore[count + 1] = bodiesBefore[count] + serialBodyLength(value);
          ++count;
        }
        const bool guessedAlias = firstLost && table.columns[0].rowidAlias;
        for (std::size_t m = count; m >= std::max<std::size_t>(minColumns, 1); --m) {
          if (++trials > kMaxRebuildTrials) return best;
          const std::int64_t headerEnd = typeEnds[m - 1];
          const std::int64_t bodies = bodiesBefore[m];
          if (headerEnd + bodies > end) {
            // Bodies past the freeblock: a cell whose payload spilled to overflow pages.
            if ((!firstLost || guessedAlias) && bestScore < 8 + (m == n ? 2 : 0) &&
                spillsToEnd(q, headerEnd, bodies, end)) {
              RecordHeader& header = trial_;
              header.serialTypes.assign(types, types + m);
              header.bodyLength = bodies;
              if (auto found = spilled(t, q, header, headerEnd, begin, end)) {
                bestScore = 8 + (m == n ? 2 : 0);
                best = std::move(found);
              }
            }
            continue;
          }
          // The header length varint: intact when it lies after the overwritten bytes.
          const std::int64_t headerLength = headerEnd - q + (headerEnd - q + 1 > 127 ? 2 : 1);
          const std::int64_t lengthSize = headerLength > 127 ? 2 : 1;
          bool lengthChecked = false;
          if (q - lengthSize >= intact) {
            const SpanVarint stored =
                spanVarint(bytes + (q - lengthSize - begin), static_cast<std::size_t>(lengthSize));
            if (stored.length != lengthSize ||
                static_cast<std::int64_t>(stored.value) != headerLength) {
              continue;
            }
            lengthChecked = true;
          }
          // Only the layouts that can win are decoded: every surviving type, one that ends
          // where the freeblock ends, or one whose header length agrees.
          const std::int64_t rest = end - headerEnd - bodies;  // for a guessed first body
          const bool canEndThere = firstLost && !guessedAlias ? rest >= 0 : rest == 0;
          if (m != count && !lengthChecked && !canEndThere) continue;
          std::vector<std::int64_t>& guesses = guesses_;
          guesses.clear();
          if (!firstLost) {
            guesses.push_back(types[0]);
          } else if (guessedAlias) {
            guesses.push_back(0);
          } else {
            // The body of the lost type fills the freeblock to its end (see below).
            for (std::int64_t g = 0; g <= 9; ++g) {
              if (serialBodyLength(g) == rest) guesses.push_back(g);
            }
            if (rest <= 57) {
              guesses.push_back(13 + 2 * rest);
              guesses.push_back(12 + 2 * rest);
            }
          }
          for (std::int64_t guess : guesses) {
            if (!fitter_.typeFits(t, 0, guess) || guess > 127) continue;
            const std::int64_t bodyLength = bodies + (firstLost ? serialBodyLength(guess) : 0);
            const std::int64_t recordEnd = headerEnd + bodyLength;
            if (recordEnd > end) continue;
            // What the layout's place says is weighed first; only a layout that could win
            // is read.
            // A guessed first type that is not the rowid's NULL decides where every body
            // lies: only a record that ends where the freeblock ends and holds a text
            // confirms the guess.
            if (firstLost && !table.columns[0].rowidAlias && recordEnd != end) continue;
            const int score =
                (recordEnd == end ? 8 : 0) + (lengthChecked ? 4 : 0) + (m == n ? 2 : 0);
            // Where the page does not say which table it holds, a layout must also end where
            // the freeblock ends or agree with its surviving header length; after a freeblock
            // header found by its look alone, it must end where that header says.
            // Eight serial types or more that each fit their column say as much.
            if (pageTable_ == kAnyTable && m < 8 && score < (fromChain ? 4 : 8)) continue;
            // A record of fewer than eight columns ends where its freeblock ends.
            if (m < 8 && recordEnd != end) continue;
            if (score <= bestScore) continue;
            RecordHeader& header = trial_;
            header.serialTypes.assign(types, types + m);
            header.serialTypes[0] = guess;
            header.bodyLength = bodyLength;
            const std::uint8_t* body = bytes + (headerEnd - begin);
            const auto bodySize = static_cast<std::size_t>(end - headerEnd);
            if (!fitter_.fitsTable(t, header, body, bodySize)) continue;
            if (!tellingRecord(header, body)) continue;
            bestScore = score;
            Found found;
            found.table = t;
            found.values = fitter_.valuesOf(t, header, body, values_, /*borrow=*/true);
            found.offset = begin;
            found.end = recordEnd;
            found.storedColumns = static_cast<int>(m);
            found.rebuilt = true;
            best = std::move(found);
          }
        }
      }
    }
    return best;
  }

  // Whether a record says enough to be told from chance bytes (where the page does not say
  // which table it holds, or its header's start is rebuilt): a valid text of three bytes or
  // more. Integers alone fit too much of what free space holds. The record is read in place,
  // its header's bodies at `body` (all readable) and its texts valid UTF-8.
  static bool tellingRecord(const RecordHeader& header, const std::uint8_t* body) {
    std::size_t at = 0;
    for (const std::int64_t type : header.serialTypes) {
      const auto length = static_cast<std::size_t>(serialBodyLength(type));
      const std::uint8_t* bytes = body + at;
      at += length;
      if (type < 13 || type % 2 == 0 || length < 3) continue;
      if (std::all_of(bytes, bytes + length,
                      [](std::uint8_t byte) { return byte >= 0x20 || byte == '\n'; })) {
        return true;
      }
    }
    return false;
  }

  // ---- Output ------------------------------------------------------------------------------

  void emit(Found& found, Kind kind) {
    const TableDefinition& table = schema_.tables[static_cast<std::size_t>(found.table)];
    const int alias = table.rowidAliasColumn();
    const std::uint64_t values = valuesDigest(found.values, alias);
    // A copy of a live row (a cell moved by a balance or a defragmentation) is no deleted
    // record; one with its rowid was told by its payload already.
    if (!found.rowid && map_.holdsLiveValues(found.table, values)) {
      return;
    }
    if (alias >= 0 && found.rowid && static_cast<std::size_t>(alias) < found.values.size()) {
      found.values[static_cast<std::size_t>(alias)] = SqlValue::ofInteger(*found.rowid);
    }
    Digest digest;
    digest.add(values);
    digest.add(static_cast<std::uint64_t>(found.table));
    findings_.push_back(Finding{std::move(found), kind, digest.value()});
  }

  const EmptyGaps& emptyGaps_;
  std::vector<std::pair<std::int64_t, EmptyGap>>& newEmptyGaps_;
  const CarveContext& context_;
  const CarveSources& sources_;
  const TableSchema& schema_;
  const CarveLimits& limits_;
  const TableFitter& fitter_;
  const PageGeometry& geometry_;
  const DatabaseMap& map_;
  const ArenaAllocator<SqlValue> values_;
  std::vector<Finding> findings_;

  const PageVersion* version_ = nullptr;
  const DatabaseImage* image_ = nullptr;
  std::int64_t pageOffset_ = 0, pageEnd_ = 0;
  int owner_ = -1;
  // The only table whose records the page can hold, or kAnyTable.
  static constexpr int kAnyTable = -100;
  int pageTable_ = kAnyTable;
  // The shape of the cells of the index leaf whose gap is probed, else none.
  IndexCellShape indexShape_;
  // Index leaves' gaps: the page sizes whose stale cell pointers are told from cells, and
  // the bytes before their end probed all the same.
  static constexpr std::int64_t kPointersToldApart = 8192, kPointerMargin = 16;
  // Of the gap being probed: cells found, whether an overflow chain was followed, and where
  // the offsets probed one by one begin (past the last run passed over).
  std::int64_t hits_ = 0;
  std::int64_t skippedTo_ = 0;
  bool overflowTried_ = false;
  // Reused by every try.
  RecordHeader header_;
  RecordHeader trial_;
  std::vector<std::int64_t> types_, typeEnds_, bodiesBefore_, guesses_;
};

// Turns the findings of the page versions, in the order of the versions, into rows: a
// record found in several places is kept once, at the first.
class RowCollector {
 public:
  explicit RowCollector(const CarveContext& context)
      : context_(context),
        sources_(context.sources),
        schema_(context.schema),
        limits_(context.limits) {}

  bool full() const { return static_cast<std::int64_t>(rows_.size()) >= limits_.maxRows; }

  void add(std::vector<Finding>& findings, const PageVersion& version) {
    version_ = &version;
    latest_ = context_.isLatest(version);
    for (Finding& finding : findings) emit(finding);
  }

  std::vector<CarvedRow> take() { return std::move(rows_); }

 private:
  // Repeats: the same values of the same table, the rowid column left out; the first place
  // is kept and learns the rowid when a later one has it. The same values under another
  // rowid make a row of their own.
  void emit(Finding& finding) {
    if (full()) return;
    Found& found = finding.found;
    const Kind kind = finding.kind;
    const TableDefinition& table = schema_.tables[static_cast<std::size_t>(found.table)];
    const int alias = table.rowidAliasColumn();
    const std::size_t index = rows_.size();
    const std::size_t head = keptRow(first_, finding.valuesHash, found, alias, false);
    if (head == kNone) {
      link(first_, finding.valuesHash, index);
    } else {
      CarvedRow& kept = rows_[head];
      if (latest_) {
        kept.repeatsOnNewestPages.push_back(CarvedRow::Span{
            version_->page, found.offset - version_->offset, found.end - version_->offset});
      }
      if (!found.rowid || kept.rowid == found.rowid) return;
      if (!kept.rowid) {
        kept.rowid = found.rowid;
        if (alias >= 0)
          kept.values[static_cast<std::size_t>(alias)] =
              found.values[static_cast<std::size_t>(alias)];
        return;
      }
      Digest withRowid;
      withRowid.add(finding.valuesHash);
      withRowid.add(static_cast<std::uint64_t>(*found.rowid));
      if (keptRow(withRowid_, withRowid.value(), found, alias, true) != kNone) return;
      link(withRowid_, withRowid.value(), index);
    }
    rowTable_.push_back(found.table);
    reserveInHugePages(rows_, kRowsAtOnce);
    CarvedRow row;
    row.table = table.name;
    row.rowid = found.rowid;
    row.values = std::move(found.values);
    row.file = sources_.fileOf(*version_);
    row.page = version_->page;
    row.offset = found.offset;
    row.place = found.overflowPages > 0 ? CarvedRecordPlace::kOverflow : kind;
    row.cellPlace = kind;
    row.logFrame = version_->logFrame;
    row.logCommit = version_->logCommit;
    row.badChecksum = version_->badChecksum;
    row.storedColumns = found.storedColumns;
    row.headerRebuilt = found.rebuilt;
    row.length = found.end - found.offset;
    row.pageStart = version_->offset;
    row.newestPage = latest_;
    rows_.push_back(std::move(row));
  }

  const CarveContext& context_;
  const CarveSources& sources_;
  const TableSchema& schema_;
  const CarveLimits& limits_;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // The rows are made room for this many at a time at least.
  static constexpr std::size_t kRowsAtOnce = 4096;
  using RowsByHash = std::unordered_map<std::uint64_t, std::size_t>;

  // The kept row in `rows` under `hash` with the table and values of `found` (and its rowid,
  // with `sameRowid`), or kNone.
  std::size_t keptRow(const RowsByHash& rows, std::uint64_t hash, const Found& found, int alias,
                      bool sameRowid) const {
    const auto first = rows.find(hash);
    for (std::size_t i = first == rows.end() ? kNone : first->second; i != kNone;
         i = nextWithHash_[i]) {
      if (rowTable_[i] == found.table && (!sameRowid || rows_[i].rowid == found.rowid) &&
          sameValues(rows_[i].values, found.values, alias)) {
        return i;
      }
    }
    return kNone;
  }
  // Files row `index`, the next to be kept, under `hash` in `rows`.
  void link(RowsByHash& rows, std::uint64_t hash, std::size_t index) {
    nextWithHash_.push_back(kNone);
    const auto [first, fresh] = rows.try_emplace(hash, index);
    if (!fresh) {
      nextWithHash_[index] = first->second;
      first->second = index;
    }
  }
  std::vector<CarvedRow> rows_;
  // Rows by digest: the first row of each table and values under the values' digest, a later
  // row with the same values and another rowid under the digest of both. Each row is filed
  // once; rows of one digest are chained through nextWithHash_, and rowTable_ holds each
  // row's table.
  RowsByHash first_, withRowid_;
  std::vector<std::size_t> nextWithHash_;
  std::vector<int> rowTable_;
  const PageVersion* version_ = nullptr;
  bool latest_ = false;  // whether the version is the page as the database now stands
};

// Carves the page versions, in batches, on as many threads as the machine runs at once,
// each thread taking the next version not yet taken; the findings are collected in the
// order of the versions, so the rows come out as one thread would make them.
std::vector<CarvedRow> carveVersions(const CarveContext& context) {
  RowCollector collector(context);
  if (!context.geometry.valid() || context.fitter.carvable().empty()) return collector.take();
  std::vector<PageVersion> versions = context.sources.versions();
  if (static_cast<std::int64_t>(versions.size()) > context.limits.maxPageVersions) {
    versions.resize(static_cast<std::size_t>(context.limits.maxPageVersions));
  }
  const unsigned threads = workerThreads();
  // The rows' values, in an arena of each thread's own that the rows keep. Texts and blobs
  // read where they lie in the files are not copied: the arenas keep the files' memory.
  std::vector<std::shared_ptr<ValueArena>> arenas;
  for (unsigned t = 0; t < threads; ++t) {
    arenas.push_back(std::make_shared<ValueArena>());
    const CarveSources& sources = context.sources;
    for (const DatabaseImage* image : {&sources.database(), &sources.log(), &sources.journal()}) {
      if (image->owner()) arenas.back()->keepAlive(image->owner());
    }
  }
  const auto batch = static_cast<std::size_t>(std::max<std::int64_t>(1, context.limits.batch));
  // While the helpers carve a batch, this thread collects the batch before it, then carves too.
  std::vector<std::vector<Finding>> findings, previous;
  std::size_t previousFirst = 0;
  auto collect = [&] {
    for (std::size_t i = 0; i < previous.size() && !collector.full(); ++i) {
      collector.add(previous[i], versions[previousFirst + i]);
    }
    previous.clear();
  };
  // Empty gaps found by a batch are shared once it is done, so that no thread reads what
  // another writes.
  EmptyGaps emptyGaps;
  std::vector<std::vector<std::pair<std::int64_t, EmptyGap>>> newEmptyGaps(threads);
  for (std::size_t first = 0; first < versions.size() && !collector.full(); first += batch) {
    const std::size_t count = std::min(batch, versions.size() - first);
    findings.assign(count, {});
    std::atomic<std::size_t> next{0};
    auto work = [&](unsigned self) {
      PageCarver carver(context, ArenaAllocator<SqlValue>(arenas[self]), emptyGaps,
                        newEmptyGaps[self]);
      for (std::size_t i; (i = next.fetch_add(1)) < count;) {
        findings[i] = carver.carve(versions[first + i]);
      }
    };
    runOnThreads(count > 64 ? threads : 1u, work, collect);
    std::swap(findings, previous);
    previousFirst = first;
    for (auto& gaps : newEmptyGaps) {
      for (const auto& [page, gap] : gaps) emptyGaps[page] = gap;
      gaps.clear();
    }
  }
  collect();
  return collector.take();
}

}  // namespace

// The cells of the table leaf pages the tables' b-trees reach in the newest state.
LiveCellSpans liveCellSpans(const CarveContext& context) {
  LiveCellSpans spans;
  const DatabasePages latest = context.sources.latest();
  const PageGeometry& geometry = context.geometry;
  if (!geometry.valid()) return spans;
  for (const auto& [page, owner] : context.map.owner) {
    if (owner < 0) continue;
    const auto place = latest.page(page);
    if (!place) continue;
    const DatabaseImage& image = *place->image;
    const std::int64_t pageOffset = place->offset;
    const auto header = readPageHeader(image, pageOffset, page == 1 ? 100 : 0, geometry);
    if (!header || header->kind != kTableLeaf) continue;
    const std::int64_t pageEnd = pageOffset + geometry.usable;
    auto& cells = spans[page];
    for (std::int64_t i = 0; i < header->cellCount; ++i) {
      const std::int64_t at = pageOffset + cellPointer(image, pageOffset, *header, i);
      if (at < pageOffset || at >= pageEnd) continue;
      if (const auto cell = tableCellAt(image, at, pageEnd, geometry)) {
        cells.push_back(LiveCell{at - pageOffset, cell->end - pageOffset, owner});
      }
    }
    std::sort(cells.begin(), cells.end(),
              [](const LiveCell& a, const LiveCell& b) { return a.begin < b.begin; });
  }
  return spans;
}

std::vector<CarvedRow> carveTables(const CarveSources& sources, const TableSchema& schema,
                                   const CarveLimits& limits, LiveCellSpans* liveCells) {
  const CarveContext context(sources, schema, limits);
  if (liveCells != nullptr) *liveCells = liveCellSpans(context);
  std::vector<CarvedRow> rows = carveVersions(context);
  if (!context.geometry.valid()) return rows;
  // Freed index entries add the texts no record of their table holds.
  std::vector<CarvedRow> entries = carveIndexEntries(
      sources, schema, context.map,
      [&context](const PageVersion& version) { return context.isLatest(version); });
  if (entries.empty()) return rows;
  std::set<std::string> tables, texts;
  for (const CarvedRow& entry : entries) tables.insert(entry.table);
  for (const CarvedRow& row : rows) {
    if (tables.count(row.table) == 0) continue;
    for (const SqlValue& value : row.values) {
      if (value.kind == SqlValue::Kind::Text)
        texts.insert(row.table + '\x1f' + std::string(value.bytes()));
    }
  }
  for (CarvedRow& entry : entries) {
    if (static_cast<std::int64_t>(rows.size()) >= limits.maxRows) break;
    std::string text;
    for (const SqlValue& value : entry.values) {
      if (value.kind == SqlValue::Kind::Text) text = value.bytes();
    }
    if (!texts.insert(entry.table + '\x1f' + text).second) continue;
    rows.push_back(std::move(entry));
  }
  return rows;
}

}  // namespace carve
