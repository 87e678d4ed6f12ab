// Fuzz target: the schema-aware carver on arbitrary database, log and journal bytes.
//
// The input is cut in three by its first four bytes: two big-endian 16-bit lengths for the
// log and the journal (taken from the end of the input), the rest the database. With the low
// bit of the fifth byte set the database gets a valid 100-byte header (page size 512, 1024 or
// 4096 from the sixth byte, or the odd values 0 and 1000) and the log a valid log header of
// the same page size, so the fuzzer reaches the pages and frames quickly. Besides memory
// errors and hangs, the target traps when a carved row breaks a promise: a value per column
// of its table, a file it names, an offset inside that file and bytes inside its page; and
// when a live cell lies outside its page. With the second bit of the fifth byte set the
// database is carved again one page version at a time, which shares what each version showed
// of the gaps of interior and index pages with the next; the rows must be the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "carve/database_map.h"
#include "carve/schema_carver.h"

namespace {

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4, 0);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6 || size > (1u << 20)) return 0;
  std::size_t logLength = (std::size_t{data[0]} << 8) | data[1];
  std::size_t journalLength = (std::size_t{data[2]} << 8) | data[3];
  const bool shaped = (data[4] & 1) != 0;
  const bool oneAtATime = (data[4] & 2) != 0;
  static const std::uint32_t kPageSizes[] = {512, 1024, 4096, 0, 1000};
  const std::uint32_t pageSize = kPageSizes[data[5] % 5];
  data += 6;
  size -= 6;
  logLength = std::min(logLength, size);
  journalLength = std::min(journalLength, size - logLength);
  std::vector<std::uint8_t> db(data, data + size - logLength - journalLength);
  std::vector<std::uint8_t> log(data + db.size(), data + db.size() + logLength);
  std::vector<std::uint8_t> journal(data + db.size() + logLength, data + size);
  if (shaped) {
    std::vector<std::uint8_t> header(100, 0);
    std::memcpy(header.data(), "SQLite format 3", 16);
    header[16] = static_cast<std::uint8_t>(pageSize >> 8);
    header[17] = static_cast<std::uint8_t>(pageSize & 0xFF);
    header[18] = header[19] = 2;
    db.insert(db.begin(), header.begin(), header.end());
    std::vector<std::uint8_t> logHeader(32, 0);
    put32(logHeader, 0, 0x377f0682);
    put32(logHeader, 4, 3007000);
    put32(logHeader, 8, pageSize);
    log.insert(log.begin(), logHeader.begin(), logHeader.end());
  }

  const auto sources = carve::CarveSources::read(
      "fuzz.db", DatabaseImage(std::move(db)), DatabaseImage(std::move(log)),
      journal.empty() ? std::nullopt : std::optional<DatabaseImage>(DatabaseImage(journal)));
  const carve::TableSchema schema = carve::readTableSchema(sources.latest());
  carve::CarveLimits limits;
  limits.maxRows = 2000;
  carve::LiveCellSpans liveCells;
  const auto rows = carve::carveTables(sources, schema, limits, &liveCells);
  for (const auto& [page, cells] : liveCells) {
    for (const carve::LiveCell& cell : cells) {
      if (page < 1 || cell.begin < 0 || cell.end <= cell.begin || cell.end > sources.pageSize()) {
        __builtin_trap();
      }
    }
  }
  if (oneAtATime) {
    carve::CarveLimits single = limits;
    single.batch = 1;
    const auto again = carve::carveTables(sources, schema, single);
    if (again.size() != rows.size()) __builtin_trap();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const carve::CarvedRow &a = rows[i], &b = again[i];
      if (a.table != b.table || a.rowid != b.rowid || a.file != b.file || a.page != b.page ||
          a.offset != b.offset || a.place != b.place ||
          carve::valuesDigest(a.values, -1) != carve::valuesDigest(b.values, -1) ||
          a.repeatsOnNewestPages.size() != b.repeatsOnNewestPages.size()) {
        __builtin_trap();
      }
    }
  }
  for (const carve::CarvedRow& row : rows) {
    const carve::TableDefinition* table = schema.table(row.table);
    if (table == nullptr || row.values.size() != table->columns.size()) __builtin_trap();
    const DatabaseImage* file = row.file == "fuzz.db"           ? &sources.database()
                                : row.file == "fuzz.db-wal"     ? &sources.log()
                                : row.file == "fuzz.db-journal" ? &sources.journal()
                                                                : nullptr;
    if (file == nullptr || !file->contains(row.offset) || row.page < 1) __builtin_trap();
    if (row.length <= 0 || row.offset - row.pageStart + row.length > sources.pageSize()) {
      __builtin_trap();
    }
  }
  return 0;
}
