#include "carve/deleted_bookmarks_scanner.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "base/conversions.h"
#include "carve/carve_primitives.h"
#include "carve/deleted_calls_scanner.h"
#include "carve/varint.h"
#include "extract/device_databases.h"

namespace {

using carve::FieldBuffer;

constexpr std::int64_t kTitleUrlReach = 8;

// The offset of the nearest 0x00 byte at or before `offset`; bytes before the file are 0x00.
std::int64_t nearestZeroAtOrBefore(const DatabaseImage& file, std::int64_t offset) {
  // Outside the file every byte is 0x00.
  if (offset < 0 || offset >= file.size()) return offset;
  for (std::int64_t at = offset; at >= 0; --at) {
    if (file.at(at) == 0x00) return at;
  }
  return -1;
}

// nearestZeroAtOrBefore() for offsets that mostly grow, as a page walk asks them: each
// query scans only the bytes after the previous one, so a walk costs one pass.
class NearestZero {
 public:
  explicit NearestZero(const DatabaseImage& file) : file_(file) {}

  std::int64_t at(std::int64_t offset) {
    if (offset < 0 || offset >= file_.size()) return offset;
    if (!valid_ || offset < scanned_) {
      zero_ = nearestZeroAtOrBefore(file_, offset);
    } else {
      for (std::int64_t next = scanned_ + 1; next <= offset; ++next) {
        if (file_.at(next) == 0x00) zero_ = next;
      }
    }
    scanned_ = offset;
    valid_ = true;
    return zero_;
  }

 private:
  const DatabaseImage& file_;
  bool valid_ = false;
  std::int64_t scanned_ = 0;
  std::int64_t zero_ = -1;
};

int markBookLengthOfByte(std::uint8_t x, int length) {
  if (length != 19 && length != 24) return -1;
  if (x == 0x00) return 0;
  if (length == 19) return x >= 0x14 && x <= 0x17 ? 1 : -1;
  return x >= 0x19 && x <= 0x1C ? 1 : -1;
}

int markBookLengthWith(const DatabaseImage& file, NearestZero& zeros, std::int64_t offset,
                       int length) {
  return markBookLengthOfByte(file.at(zeros.at(offset) - 1), length);
}

int widthByHeaderLength(std::uint8_t c) {
  if (c >= 16 && c <= 24) return 1;
  if (c >= 25) return 2;
  return 0;
}

// The offset of the next 0x01 byte in [from, end), or `end`; bytes past the end of the
// file are zero, so a search never goes beyond it.
std::int64_t nextOne(const DatabaseImage& file, std::int64_t from, std::int64_t end) {
  const std::int64_t stop = end < file.size() ? end : file.size();
  if (from < 0 || from >= stop) return end;
  const void* hit = std::memchr(file.data() + from, 0x01, static_cast<std::size_t>(stop - from));
  return hit ? static_cast<const std::uint8_t*>(hit) - file.data() : end;
}

bool bytesAre(const DatabaseImage& file, std::int64_t offset,
              std::initializer_list<std::uint8_t> bytes) {
  return file.matches(offset, bytes.begin(), bytes.size());
}

// The six bytes at a candidate, in the forms the width rules tell apart.
struct CandidateBytes {
  bool fourOnes = false;    // begins with 01 01 01 01
  bool onesThen55 = false;  // begins with 01 01 01 01 55
  bool sixOnes = false;     // is 01 01 01 01 01 01
  bool fiveOnes55 = false;  // is 01 01 01 01 01 55
};

CandidateBytes candidateBytes(const DatabaseImage& file, std::int64_t i) {
  CandidateBytes m;
  m.fourOnes = bytesAre(file, i, {1, 1, 1, 1});
  if (!m.fourOnes) return m;
  m.onesThen55 = file.at(i + 4) == 0x55;
  m.sixOnes = bytesAre(file, i + 4, {1, 1});
  m.fiveOnes55 = file.at(i + 4) == 0x01 && file.at(i + 5) == 0x55;
  return m;
}

// The record at candidate `i`, no field read past `end` (the end of its page).
std::shared_ptr<MzBookMarkNode> bookmarkAt(const DatabaseImage& file, std::int64_t i, int width,
                                           FieldBuffer& field, std::int64_t end) {
  const std::int64_t v = TitleAndUrlIsAlterbleDBFile(file, i - 3);
  const std::int64_t back = v == 1 ? 10 : v == 2 ? 11 : 9;
  const std::int64_t count = width +
                             (v == 1   ? 1
                              : v == 2 ? 2
                                       : 0) +
                             (IsExtra_AttributeAlter(file, i + 11, width) ? 1 : 0) +
                             (IsServer_IDAlter(file, i + 5, width) ? 1 : 0);
  const std::int64_t base = i - back;
  constexpr std::int64_t kHead = 3;
  std::int64_t dataOffset = 0;
  auto oneByte = [&](std::int64_t position) -> const FieldBuffer& {
    carve::AnalyseTheDBDataFile(file, position, dataOffset, base, kHead, count, field, end);
    return field;
  };
  auto twoByte = [&](std::int64_t position) -> const FieldBuffer& {
    carve::AnalyseAlterbleDBFile(file, position, dataOffset, base, kHead, count, field, end);
    return field;
  };
  auto bookmark = std::make_shared<MzBookMarkNode>();
  for (std::int64_t position = 1; position <= 3; ++position) oneByte(position);
  const FieldBuffer& title = v == 0 ? oneByte(4) : twoByte(4);
  if (!title.empty()) bookmark->bookMarkTitle = GetStringFormChar(title.text());
  const FieldBuffer* url = nullptr;
  if (v == 0) {
    url = &oneByte(5);
  } else if (v == 1) {
    url = &oneByte(6);
  } else {
    url = &twoByte(6);
  }
  if (!url->empty()) bookmark->bookMarkURL = GetStringFormChar(url->text());
  return bookmark;
}

// One table leaf page: its width state and the candidates it yields.
class BookmarkPage {
 public:
  BookmarkPage(const CarveDatabase& db, std::int64_t page, NearestZero& zeros, FieldBuffer& field)
      : db_(db), file_(db.image), page_(page), zeros_(zeros), field_(field) {}

  void carve(std::vector<std::shared_ptr<MzBookMarkNode>>& out) {
    const std::int64_t firstCell = db_.firstCellOffset(page_);
    if (!carve::subStringIsValidAt(file_, firstCell + 9, 8, 5, 8)) return;
    const int guess = bBookMarkTableAlter(file_, firstCell + 3);
    width_ = guess == 1 ? 19 : guess == 2 ? 24 : 11;
    const std::int64_t end = page_ + db_.pageSize;
    for (std::int64_t i = nextOne(file_, page_, end); i < end; i = nextOne(file_, i + 1, end)) {
      const CandidateBytes m = candidateBytes(file_, i);
      if (!isCandidate(m)) continue;
      if (!takeCandidate(i, m)) continue;
      auto bookmark = bookmarkAt(file_, i, width_, field_, end);
      bookmark->origin = db_.signatureOrigin(i);
      out.push_back(std::move(bookmark));
    }
  }

 private:
  enum class Rule { Nineteen, TwentyFour, AtOnce };

  bool isCandidate(const CandidateBytes& m) const {
    if (width_ == 19) return m.onesThen55 || m.sixOnes;
    return m.fourOnes;
  }

  // The rule a candidate follows: while the page is undecided the header-length byte before
  // it may switch the width (and decide the page); once decided the current width rules.
  Rule ruleFor(std::int64_t i) {
    if (width_ == 11) return Rule::AtOnce;
    if (decided_) return width_ == 19 ? Rule::Nineteen : Rule::TwentyFour;
    if (width_ == 19) {
      const int r = markBookLengthWith(file_, zeros_, i - 6, 19);
      if (r == 0 || r == 1) {
        decided_ = r == 1;
        return Rule::Nineteen;
      }
    }
    const int r24 = markBookLengthWith(file_, zeros_, i - 6, 24);
    if (r24 == -1) return Rule::Nineteen;
    decided_ = r24 == 1;
    return Rule::TwentyFour;
  }

  // True when the candidate at `i` becomes a record; applies its rule's state changes.
  bool takeCandidate(std::int64_t i, const CandidateBytes& m) {
    switch (ruleFor(i)) {
      case Rule::AtOnce:
        return true;
      case Rule::Nineteen:
        width_ = 19;
        if (m.sixOnes) lastRun_ = i;
        return !(m.onesThen55 && i - lastRun_ < 19);
      case Rule::TwentyFour:
        width_ = 24;
        if (m.sixOnes) lastRun_ = i;
        return !(i - lastRun_ < 24 && (m.fiveOnes55 || m.onesThen55));
    }
    return false;
  }

  const CarveDatabase& db_;
  const DatabaseImage& file_;
  std::int64_t page_;
  NearestZero& zeros_;
  FieldBuffer& field_;
  int width_ = 11;
  bool decided_ = false;
  std::int64_t lastRun_ = 0;
};

// ---- The live-width path -------------------------------------------------------------------
//
// Where the page's live first cell shows one of the real widths of the bookmarks table, a
// freed record is searched by that table's own column order. A freed cell's first four
// bytes are overwritten by the freeblock header (next-freeblock offset, size), which can
// reach the header-length byte and the serial type of the first column (the rowid alias,
// always NULL). The serial type of the second column is at least four bytes into the cell,
// so a candidate is the run of serial types from the second column on, each of a kind its
// column can hold, followed by bodies whose title and URL read as text.

enum class Column : std::uint8_t { Integer, Real, Text, Blob, Title, Url };

// The bookmarks table's column order on iOS 5 and 6 (21 columns); iOS 7 appended eight.
constexpr Column kBookmarkColumns[] = {
    Column::Integer,  // id (rowid alias)
    Column::Integer,  // special_id
    Column::Integer,  // parent
    Column::Integer,  // type
    Column::Title,    // title
    Column::Url,      // url
    Column::Integer,  // num_children
    Column::Integer,  // editable
    Column::Integer,  // deletable
    Column::Integer,  // hidden
    Column::Integer,  // hidden_ancestor_count
    Column::Integer,  // order_index
    Column::Text,     // external_uuid
    Column::Integer,  // read
    Column::Real,     // last_modified
    Column::Text,     // server_id
    Column::Text,     // sync_key
    Column::Blob,     // sync_data
    Column::Integer,  // added
    Column::Integer,  // deleted
    Column::Blob,     // extra_attributes
    Column::Blob,     // local_attributes
    Column::Integer,  // fetched_icon
    Column::Blob,     // icon
    Column::Integer,  // dav_generation
    Column::Integer,  // locally_added
    Column::Integer,  // archive_status
    Column::Integer,  // syncable
    Column::Integer,  // web_filter_status
};
constexpr std::int64_t kTitleColumn = 4;
constexpr std::int64_t kUrlColumn = 5;

// The real widths of the table, as the live first cell shows them; 0 for any other count.
std::int64_t liveBookmarkWidth(const CarveDatabase& db, std::int64_t page) {
  const std::int64_t columns =
      cellColumnCount(db.image, db.firstCellOffset(page), page + db.pageSize);
  return columns == 21 || columns == 29 ? columns : 0;
}

bool isTextType(std::uint64_t type) { return type >= 13 && type % 2 == 1; }

// Whether a column of `kind` can hold a value of serial type `type`.
bool typeFits(Column kind, std::uint64_t type) {
  if (type == 10 || type == 11) return false;  // reserved
  switch (kind) {
    case Column::Integer:
      return type <= 9 && type != 7;
    case Column::Real:
      return type <= 9;  // whole values are stored as integers
    case Column::Text:
    case Column::Blob:
      return type <= 0xFFFF;
    case Column::Title:
    case Column::Url:
      return type == 0 || isTextType(type);
  }
  return false;
}

// True when `text` is well-formed UTF-8 without control bytes.
bool isCleanText(std::string_view text) {
  std::size_t k = 0;
  while (k < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[k]);
    std::size_t more = 0;
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7F) return false;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
    } else {
      return false;
    }
    if (more > 0 && k + more >= text.size()) return false;
    for (std::size_t m = 1; m <= more; ++m) {
      if ((static_cast<std::uint8_t>(text[k + m]) & 0xC0) != 0x80) return false;
    }
    k += more + 1;
  }
  return true;
}

// An address: a scheme (a letter, then letters, digits, '+', '-' or '.') and a colon with
// something after it.
bool looksLikeAddress(std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 >= url.size()) return false;
  const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(url[0])) return false;
  for (std::size_t k = 1; k < colon; ++k) {
    const char c = url[k];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// A record read at a candidate: where its URL ends, and its title and URL.
// The texts point into the file's bytes, so a candidate that fails costs no copy.
struct LiveRecord {
  std::int64_t end = 0;
  std::string_view title;
  std::string_view url;
};

// The record whose second column's serial type is at `at`, with `width` columns, read
// within [at, end); none when a serial type does not fit its column, the bodies up to the
// URL's overrun `end`, or the title and URL are not clean text (the URL an address). The
// bodies after the URL are not needed: a freeblock larger than a new cell gives up its
// tail to that cell, so a freed record's last bodies may be gone.
std::optional<LiveRecord> liveRecordAt(const DatabaseImage& file, std::int64_t at, std::int64_t end,
                                       std::int64_t width) {
  // Only the types up to the URL are kept. Most offsets fail within them (in zero-filled
  // free space every type fits its column, but neither title nor URL is there), so that is
  // tested as soon as the URL's type is read.
  std::uint64_t types[kUrlColumn + 1];
  std::int64_t offset = at;
  for (std::int64_t column = 1; column < width; ++column) {
    const carve::Varint read = carve::varint32At(file, offset, end);
    if (!read) return std::nullopt;
    offset += read.length;
    const std::uint64_t type = read.value;
    if (!typeFits(kBookmarkColumns[column], type)) return std::nullopt;
    if (column > kUrlColumn) continue;
    types[column] = type;
    if (column == kUrlColumn && types[kTitleColumn] == 0 && type == 0) return std::nullopt;
  }
  LiveRecord record;
  std::int64_t body = offset;
  for (std::int64_t column = 1; column <= kUrlColumn; ++column) {
    const std::int64_t length =
        carve::getFieldDataLengthBy(static_cast<std::int64_t>(types[column]));
    if (length > end - body) return std::nullopt;
    if (column == kTitleColumn || column == kUrlColumn) {
      const std::string_view text(reinterpret_cast<const char*>(file.data() + body),
                                  static_cast<std::size_t>(length));
      (column == kTitleColumn ? record.title : record.url) = text;
    }
    body += length;
  }
  if (!isCleanText(record.title) || !isCleanText(record.url)) return std::nullopt;
  if (types[kUrlColumn] != 0 && !looksLikeAddress(record.url)) return std::nullopt;
  if (types[kUrlColumn] == 0 && record.title.empty()) return std::nullopt;
  record.end = body;
  return record;
}

std::uint16_t u16At(const DatabaseImage& file, std::int64_t offset) {
  return static_cast<std::uint16_t>(file.at(offset) << 8 | file.at(offset + 1));
}

// A run of bytes [begin, end) no live record uses, and the kind of place it is.
struct FreeRange {
  std::int64_t begin;
  std::int64_t end;
  RecordOrigin::Place place;
};
using Ranges = std::vector<FreeRange>;

// The free space of a table leaf page as [begin, end) ranges: the gap between the cell
// pointer array and the cell content, then each freeblock of the chain, bounded to the page.
// `headerSize` is 8 for a leaf page, 12 for an interior page.
Ranges freeRanges(const CarveDatabase& db, std::int64_t page, std::int64_t headerSize) {
  Ranges ranges;
  const DatabaseImage& file = db.image;
  const std::int64_t pageEnd = page + db.pageSize;
  const std::int64_t pointersEnd = page + headerSize + 2 * std::int64_t{u16At(file, page + 3)};
  std::int64_t contentStart = u16At(file, page + 5);
  if (contentStart == 0) contentStart = 65536;
  contentStart = std::min(page + contentStart, pageEnd);
  if (pointersEnd < contentStart) {
    ranges.push_back({pointersEnd, contentStart, RecordOrigin::Place::Unallocated});
  }
  // Each freeblock lies after the one before it, so the chain ends within a page's worth.
  std::int64_t block = u16At(file, page + 1);
  std::int64_t previous = 0;
  while (block > previous && block + 4 <= db.pageSize) {
    const std::int64_t size = u16At(file, page + block + 2);
    ranges.push_back(
        {page + block, std::min(page + block + size, pageEnd), RecordOrigin::Place::Freeblock});
    previous = block;
    block = u16At(file, page + block);
  }
  return ranges;
}

// A quick test on the five bytes at a candidate that liveRecordAt implies: false only where
// it finds no record. While the serial types are one byte each, the three integer columns
// must be 0 to 9 but not 7 and the title and URL NULL or a text, not both NULL; a byte with
// the continuation bit leaves the rest to liveRecordAt.
bool mayBeRecordAt(const std::uint8_t* p) {
  for (int k = 0; k < 3; ++k) {
    if (p[k] >= 0x80) return true;
    if (p[k] > 9 || p[k] == 7) return false;
  }
  for (int k = 3; k < 5; ++k) {
    if (p[k] >= 0x80) return true;
    if (p[k] != 0 && !isTextType(p[k])) return false;
  }
  return p[3] != 0 || p[4] != 0;
}

void carveRanges(const CarveDatabase& db, const Ranges& ranges, std::int64_t width,
                 std::vector<std::shared_ptr<MzBookMarkNode>>& out) {
  const std::uint8_t* bytes = db.image.data();
  for (const auto& [begin, end, place] : ranges) {
    // Where five bytes from the candidate lie inside the range (and so the file), the
    // quick test reads them straight.
    const std::int64_t quickEnd = end <= db.image.size() ? end - 5 : begin - 1;
    for (std::int64_t at = begin; at < end;) {
      if (at >= 0 && at <= quickEnd && !mayBeRecordAt(bytes + at)) {
        ++at;
        continue;
      }
      const auto record = liveRecordAt(db.image, at, end, width);
      if (!record) {
        ++at;
        continue;
      }
      auto bookmark = std::make_shared<MzBookMarkNode>();
      bookmark->bookMarkTitle = std::string(record->title);
      bookmark->bookMarkURL = std::string(record->url);
      // Found by reading the place's bytes as records: the place is known.
      bookmark->origin = db.originAt(at, place);
      out.push_back(std::move(bookmark));
      at = record->end;
    }
  }
}

std::uint32_t u32At(const DatabaseImage& file, std::int64_t offset) {
  return std::uint32_t{u16At(file, offset)} << 16 | u16At(file, offset + 2);
}

// The pages of the freelist by index: for a trunk page the number of leaf entries it
// lists, for a leaf page -1. A chain that leaves the file or loops ends the walk.
std::map<std::int64_t, std::int64_t> freelistPages(const CarveDatabase& db) {
  std::map<std::int64_t, std::int64_t> pages;
  std::int64_t trunk = u32At(db.image, 32);
  while (trunk >= 1 && trunk <= db.pageCount && pages.count(trunk - 1) == 0) {
    const std::int64_t at = db.pageOffset(trunk - 1);
    const std::int64_t leaves =
        std::min<std::int64_t>(u32At(db.image, at + 4), (db.pageSize - 8) / 4);
    pages[trunk - 1] = leaves;
    for (std::int64_t k = 0; k < leaves; ++k) {
      const std::int64_t leaf = u32At(db.image, at + 8 + 4 * k);
      if (leaf >= 1 && leaf <= db.pageCount) pages.emplace(leaf - 1, -1);
    }
    trunk = u32At(db.image, at);
  }
  return pages;
}

// The width of the bookmarks table as the first table leaf page with a live bookmark
// cell shows it; 0 when none does.
std::int64_t tableWidth(const CarveDatabase& db) {
  for (std::int64_t k = 0; k < db.pageCount; ++k) {
    const std::int64_t page = db.pageOffset(k);
    if (carve::getPageType(db.image, page) != 1) continue;
    if (const std::int64_t width = liveBookmarkWidth(db, page); width != 0) return width;
  }
  return 0;
}

// The bytes of a page no live record uses where the freed records of a table at a known
// width may remain: a freelist trunk after its entries, a freelist leaf whole, a table
// interior page's free space (left from its time as a leaf, before the tree grew).
Ranges staleRanges(const CarveDatabase& db, std::int64_t index,
                   const std::map<std::int64_t, std::int64_t>& freelist) {
  const std::int64_t page = db.pageOffset(index);
  if (const auto it = freelist.find(index); it != freelist.end()) {
    const std::int64_t from = it->second < 0 ? 0 : 8 + 4 * it->second;
    return {{page + from, page + db.pageSize, RecordOrigin::Place::Freelist}};
  }
  if (index > 0 && db.image.at(page) == 0x05) return freeRanges(db, page, 12);
  return {};
}

}  // namespace

int bBookMarkTableAlter(const DatabaseImage& file, std::int64_t offset) {
  const std::uint8_t b = file.at(offset);
  if (b >= 0x14 && b <= 0x16) return 1;
  if (b >= 0x19 && b <= 0x1B) return 2;
  if (b == 0x00) return widthByHeaderLength(file.at(offset - 1));
  if (file.at(offset + 1) == 0x00) return widthByHeaderLength(file.at(offset - 2));
  return 0;
}

int getMarkBookLength(const DatabaseImage& file, std::int64_t offset, int length) {
  return markBookLengthOfByte(file.at(nearestZeroAtOrBefore(file, offset) - 1), length);
}

std::int64_t TitleAndUrlIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset) {
  if (file.at(offset) == 0x01) return 0;
  for (std::int64_t distance = 1; distance <= kTitleUrlReach; ++distance) {
    if (file.at(offset - distance) == 0x01) return distance;
  }
  return kTitleUrlReach + 1;
}

bool IsExtra_AttributeAlter(const DatabaseImage& file, std::int64_t offset, int length) {
  const std::uint8_t b = file.at(offset);
  return length == 24 && b != 0x01 && b != 0x00;
}

bool IsServer_IDAlter(const DatabaseImage& file, std::int64_t offset, int length) {
  return IsExtra_AttributeAlter(file, offset, length) &&
         IsExtra_AttributeAlter(file, offset + 1, length);
}

bool isTopBookmarkFolder(const MzBookMarkNode& bookmark) {
  return bookmark.bookMarkTitle == "Root" || bookmark.bookMarkTitle == "com.apple.ReadingList";
}

std::vector<std::shared_ptr<MzBookMarkNode>> carveDeletedBookmarks(const CarveDatabase& db) {
  std::vector<std::shared_ptr<MzBookMarkNode>> carved;
  if (db.pageSize <= 0) return carved;
  FieldBuffer field(static_cast<std::size_t>(db.pageSize));
  NearestZero zeros(db.image);
  const std::int64_t width = tableWidth(db);
  const auto freelist = width != 0 ? freelistPages(db) : std::map<std::int64_t, std::int64_t>{};
  for (std::int64_t k = 0; k < db.pageCount; ++k) {
    const std::int64_t page = db.pageOffset(k);
    if (width != 0) {
      if (const Ranges stale = staleRanges(db, k, freelist); !stale.empty()) {
        carveRanges(db, stale, width, carved);
        continue;
      }
    }
    if (carve::getPageType(db.image, page) != 1) continue;
    const std::int64_t pointer = db.firstCellOffset(page) - page;
    if (!(pointer + 17 < db.pageSize)) continue;
    if (const std::int64_t live = liveBookmarkWidth(db, page); live != 0) {
      carveRanges(db, freeRanges(db, page, 8), live, carved);
      continue;
    }
    BookmarkPage(db, page, zeros, field).carve(carved);
  }
  return carved;
}
