#include "carve/deleted_bookmarks_scanner.h"

#include <cstring>
#include <string>

#include "carve/carve_primitives.h"
#include "extract/conversions.h"
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

std::shared_ptr<MzBookMarkNode> bookmarkAt(const DatabaseImage& file, std::int64_t i, int width,
                                           FieldBuffer& field) {
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
    carve::AnalyseTheDBDataFile(file, position, dataOffset, base, kHead, count, field);
    return field;
  };
  auto twoByte = [&](std::int64_t position) -> const FieldBuffer& {
    carve::AnalyseAlterbleDBFile(file, position, dataOffset, base, kHead, count, field);
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
      if (takeCandidate(i, m)) out.push_back(bookmarkAt(file_, i, width_, field_));
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
  for (std::int64_t k = 0; k < db.pageCount; ++k) {
    const std::int64_t page = db.pageOffset(k);
    if (carve::getPageType(db.image, page) != 1) continue;
    const std::int64_t pointer = db.firstCellOffset(page) - page;
    if (!(pointer + 17 < db.pageSize)) continue;
    BookmarkPage(db, page, zeros, field).carve(carved);
  }
  return carved;
}

void ScanDelBookMarkThread(ScanContext& scan) {
  // Only Bookmarks.db: the second key of the notes database would have this step carve
  // notes as bookmarks.
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kBookmarksKey, devicedb::kBookmarks.domain, devicedb::kBookmarks.path}};
  auto db = openCarveDatabase(scan, candidates, "NoteDB is not exist");
  if (!db) return;
  for (auto& bookmark : carveDeletedBookmarks(*db)) {
    if (isTopBookmarkFolder(*bookmark)) continue;
    scan.nc.post("scanDelBookMarkInfo", std::move(bookmark));
  }
  scan.postProgress(95);
}
