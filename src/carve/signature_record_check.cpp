#include "carve/signature_record_check.h"

#include <algorithm>
#include <iterator>

namespace carve {

SignatureRecordCheck::SignatureRecordCheck(const std::vector<CarvedRow>& rows,
                                           const LiveCellSpans& liveCells,
                                           const TableSchema& schema,
                                           const std::vector<std::string>& liveTables,
                                           std::int64_t pageSize)
    : pageSize_(pageSize) {
  if (pageSize_ <= 0) return;
  std::vector<bool> named(schema.tables.size(), false);
  for (std::size_t t = 0; t < schema.tables.size(); ++t) {
    named[t] =
        std::find(liveTables.begin(), liveTables.end(), schema.tables[t].name) != liveTables.end();
  }
  for (const auto& [page, cells] : liveCells) {
    for (const LiveCell& cell : cells) {
      if (cell.table >= 0 && static_cast<std::size_t>(cell.table) < named.size() &&
          named[static_cast<std::size_t>(cell.table)]) {
        liveCells_[page].push_back(cell);  // stays sorted by begin
      }
    }
  }
  for (const CarvedRow& row : rows) {
    if (!row.newestPage || row.length <= 0) continue;
    const std::int64_t begin = row.offset - row.pageStart;
    spans_[row.page].push_back(Span{begin, begin + row.length, row.file, row.offset});
  }
  for (const CarvedRow& row : rows) {
    for (const CarvedRow::Span& repeat : row.repeatsOnNewestPages) {
      spans_[repeat.page].push_back(Span{repeat.begin, repeat.end, row.file, row.offset});
    }
  }
  for (auto& [page, spans] : spans_) {
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
  }
}

void SignatureRecordCheck::addText(const RecordOrigin& origin, std::string principal) {
  if (principal.empty()) return;
  texts_.emplace(std::make_pair(origin.file, origin.offset), std::move(principal));
}

bool SignatureRecordCheck::misreads(const RecordOrigin& origin,
                                    const std::string& principal) const {
  if (inLiveCell(origin)) return true;
  const std::string* text = textAt(origin);
  return text != nullptr && *text != principal;
}

bool SignatureRecordCheck::inLiveCell(const RecordOrigin& origin) const {
  if (pageSize_ <= 0 || origin.page < 1 || origin.offset < 0) return false;
  const auto live = liveCells_.find(origin.page);
  if (live == liveCells_.end()) return false;
  const std::int64_t at = origin.offset - (origin.page - 1) * pageSize_;
  const auto& cells = live->second;
  auto cell =
      std::upper_bound(cells.begin(), cells.end(), at,
                       [](std::int64_t value, const LiveCell& c) { return value < c.begin; });
  return cell != cells.begin() && at < std::prev(cell)->end;
}

bool SignatureRecordCheck::readsAlike(const RecordOrigin& origin,
                                      const std::string& principal) const {
  const std::string* text = textAt(origin);
  return text != nullptr && *text == principal;
}

const std::string* SignatureRecordCheck::textAt(const RecordOrigin& origin) const {
  if (pageSize_ <= 0 || origin.page < 1 || origin.offset < 0) return nullptr;
  const auto page = spans_.find(origin.page);
  if (page == spans_.end()) return nullptr;
  const std::int64_t at = origin.offset - (origin.page - 1) * pageSize_;
  const std::vector<Span>& spans = page->second;
  // The last span beginning at or before `at`: cells do not overlap.
  auto span = std::upper_bound(spans.begin(), spans.end(), at,
                               [](std::int64_t value, const Span& s) { return value < s.begin; });
  if (span == spans.begin()) return nullptr;
  --span;
  if (at >= span->end) return nullptr;
  const auto text = texts_.find(std::make_pair(span->file, span->offset));
  return text == texts_.end() ? nullptr : &text->second;
}

}  // namespace carve
