#include "carve/deleted_contacts_scanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/conversions.h"
#include "carve/candidate_scan.h"
#include "carve/carve_primitives.h"
#include "extract/contact_phones.h"
#include "extract/device_databases.h"

namespace {

using carve::FieldBuffer;

constexpr int kPhoneType = 3;
constexpr int kEmailType = 4;
constexpr int kHomepageType = 22;
constexpr std::size_t kShortTextLimit = 259;
constexpr std::size_t kValueTextLimit = 1023;
// "Unknown" contacts seeded by the values of one record id: each unclaimed value seeds one,
// and each carries every value of the id, so they are identical copies (the results keep
// only the first). A damaged page can carry thousands of values of one id, and the copies
// would then grow with the square of that count; beyond this many they are not made.
constexpr std::size_t kMaxUnknownCopiesPerId = 16;

// The serial-type runs that mark a person record (header positions 27 to 31).
constexpr std::array<std::array<std::uint8_t, 5>, 4> kPersonSignatures = {{
    {0x0f, 0x0f, 0x08, 0x08, 0x01},
    {0x00, 0x00, 0x04, 0x04, 0x01},
    {0x00, 0x00, 0x04, 0x04, 0x00},
    {0x00, 0x00, 0x04, 0x04, 0x13},
}};

// The four-byte runs of family 4 a value record's serial types may start with.
constexpr std::array<std::array<std::uint8_t, 4>, 11> kValueSignatures = {{
    {0x01, 0x01, 0x08, 0x09},
    {0x01, 0x01, 0x09, 0x01},
    {0x09, 0x01, 0x08, 0x09},
    {0x01, 0x01, 0x01, 0x01},
    {0x01, 0x01, 0x08, 0x01},
    {0x02, 0x01, 0x08, 0x01},
    {0x02, 0x01, 0x09, 0x01},
    {0x02, 0x01, 0x08, 0x09},
    {0x02, 0x01, 0x01, 0x01},
    {0x01, 0x09, 0x08, 0x09},
    {0xff, 0xd8, 0xff, 0xe0},
}};

std::uint32_t load32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Compared four bytes at a time: every byte offset of a page is tested.
bool isPersonSignature(const std::uint8_t* at) {
  static const std::uint32_t kSections = load32(kPersonSignatures[0].data());
  static const std::uint32_t kIndexes = load32(kPersonSignatures[1].data());
  const std::uint32_t head = load32(at);
  if (head == kSections) return at[4] == 0x01;
  if (head != kIndexes) return false;
  return at[4] == 0x01 || at[4] == 0x00 || at[4] == 0x13;
}

bool isValueSignature(const std::uint8_t* at) {
  const std::uint8_t first = at[0];
  if (first != 0x01 && first != 0x02 && first != 0x09 && first != 0xff) return false;
  const std::uint32_t head = load32(at);
  for (const auto& signature : kValueSignatures) {
    if (head == load32(signature.data())) return true;
  }
  return false;
}

// Bytes every person signature has: 0f 0f 08 08 01 or 00 00 04 04 followed by 01, 00 or 13.
constexpr std::array<carve::ByteTest, 4> kPersonPrefilter = {{
    {0, 2, {0x0f, 0x00}},
    {2, 2, {0x08, 0x04}},
    {3, 2, {0x08, 0x04}},
    {4, 3, {0x01, 0x00, 0x13}},
}};

// The first four bytes' values over the value signatures.
constexpr std::array<carve::ByteTest, 4> kValuePrefilter = {{
    {0, 4, {0x01, 0x02, 0x09, 0xff}},
    {1, 3, {0x01, 0x09, 0xd8}},
    {2, 4, {0x08, 0x09, 0x01, 0xff}},
    {3, 3, {0x09, 0x01, 0xe0}},
}};

// The person columns whose values a carved contact keeps (by header position); the others
// are only stepped over.
constexpr std::array<bool, 35> kPersonColumnKept = [] {
  std::array<bool, 35> kept{};
  for (int position : {1, 2, 3, 7, 8, 9, 13}) kept[static_cast<std::size_t>(position)] = true;
  return kept;
}();

// "%@ %@" of the current text and the new one.
void appendWithBlank(std::string& field, const std::string& value) {
  field += ' ';
  field += value;
}

std::int32_t decimalValue(std::string_view text) {
  // The field readers write integers as signed 32-bit decimal text.
  std::int64_t value = 0;
  bool negative = false;
  std::size_t i = 0;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    i = 1;
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 0x80000000LL) break;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

bool isShortText(const FieldBuffer& field, std::size_t limit) {
  const std::size_t size = field.text().size();
  return size >= 1 && size <= limit;
}

// The kind of value a carved value record's property code names; none for the others.
std::optional<MzContactValue::Kind> kindOfType(std::int32_t type) {
  switch (type) {
    case kPhoneType:
      return MzContactValue::Kind::Phone;
    case kEmailType:
      return MzContactValue::Kind::Email;
    case kHomepageType:
      return MzContactValue::Kind::Url;
    default:
      return std::nullopt;
  }
}

// Fills one carved contact with its values, each once: a phone number once by its digits
// (phoneNumberKey), another value once by its text. A value record carved twice (a freed
// copy beside a stale one) would otherwise list the number twice on the card.
class ContactValues {
 public:
  explicit ContactValues(MzContactNode& contact) : contact_(contact) {}

  void add(const DelContactValue& value) {
    const auto kind = kindOfType(value.valueType);
    if (!kind) return;
    std::string key(1, static_cast<char>(*kind));
    key += *kind == MzContactValue::Kind::Phone ? phoneNumberKey(value.contactValue)
                                                : value.contactValue;
    if (!seen_.insert(std::move(key)).second) return;
    std::string& field = *kind == MzContactValue::Kind::Phone   ? contact_.contactPhone
                         : *kind == MzContactValue::Kind::Email ? contact_.contactEmail
                                                                : contact_.contactHomepage;
    appendWithBlank(field, value.contactValue);
    MzContactValue item;
    item.kind = *kind;
    item.value = value.contactValue;
    contact_.values.push_back(std::move(item));
  }

 private:
  MzContactNode& contact_;
  std::unordered_set<std::string> seen_;
};

std::string withoutBlanks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ') out += c;
  }
  return out;
}

class ContactCarver {
 public:
  ContactCarver(const CarveDatabase& db, bool iOS7, ScanLists& lists, const DelContactSink& sink)
      : db_(db),
        file_(db.image),
        sink_(sink),
        lists_(lists),
        iOS7_(iOS7),
        field_(static_cast<std::size_t>(db.pageSize > 260 ? db.pageSize : 260) + 1),
        scratch_(static_cast<std::size_t>(db.pageSize) + kSpill, 0) {}

  void run() {
    const std::int64_t pages = db_.pageCount;
    for (std::int64_t index = pages; index >= 1; --index) {
      const std::int64_t page = db_.pageOffset(index);
      if (index == pages - 1) {
        pageText_ = carve::PageTextSearch(carve::GetLastPageStringWithChar(
            pageBytes(page), static_cast<std::size_t>(db_.pageSize)));
      }
      if (carve::getPageType(file_, page) != 1) continue;
      const std::int64_t firstCell = db_.firstCellOffset(page);
      if (carve::subStringIsValidAt(file_, firstCell + 30, 10, 4, 10)) scanPersons(page);
      numberUnknownPersons();
      if (carve::subStringIsValidAt(file_, firstCell + 4, 8, 4, 8)) scanValues(page);
    }
    matchAndPost();
    if (sink_.progress) sink_.progress(75);
  }

 private:
  // Candidates read up to 4 bytes past the last offset of a page.
  static constexpr std::size_t kSpill = 8;

  // The page's bytes and the few after it, zero past the end of the file.
  const std::uint8_t* pageBytes(std::int64_t page) {
    const std::int64_t needed = db_.pageSize + static_cast<std::int64_t>(kSpill);
    if (page >= 0 && page + needed <= file_.size()) return file_.data() + page;
    file_.copy(page, static_cast<std::size_t>(needed), scratch_.data());
    return scratch_.data();
  }

  void scanPersons(std::int64_t page) {
    const std::uint8_t* bytes = pageBytes(page);
    const std::int64_t size = db_.pageSize;
    carve::findCandidates(bytes, static_cast<std::size_t>(size),
                          static_cast<std::size_t>(size) + kSpill, kPersonPrefilter, candidates_);
    // The nearest zero byte at or before j - 13 for a candidate j, looked for at most one
    // page back from the page's start: a candidate with no zero that close cannot have its
    // header on this page. The bytes already looked at are not looked at again.
    NearestZero zero(file_, page - 13 - size);
    for (const std::uint32_t k : candidates_) {
      const std::int64_t j = page + k;
      if (!isPersonSignature(bytes + k)) continue;
      std::int64_t s = 0;
      if (file_.at(j - 12) != 0x00) {
        const std::int64_t z = zero.atOrBefore(j - 13);
        if (z == NearestZero::kNone) continue;
        s = (j - 12) - z;
        if (s > size) continue;
      }
      carvePerson(j, s, page + size);
    }
  }

  // The last zero byte of [from, to] for rising `to`, each byte read once; bytes before the
  // file count as zero.
  class NearestZero {
   public:
    static constexpr std::int64_t kNone = INT64_MIN;
    NearestZero(const DatabaseImage& file, std::int64_t from) : file_(file), scanned_(from - 1) {}
    std::int64_t atOrBefore(std::int64_t to) {
      if (to <= scanned_) return zero_;
      const std::int64_t from = scanned_ + 1;
      if (from >= 0 && to < file_.size()) {
        const auto* start = file_.data() + from;
        const void* last = memrchr(start, 0, static_cast<std::size_t>(to - from + 1));
        if (last != nullptr) zero_ = from + (static_cast<const std::uint8_t*>(last) - start);
      } else {
        for (std::int64_t at = from; at <= to; ++at) {
          if (file_.at(at) == 0x00) zero_ = at;
        }
      }
      scanned_ = to;
      return zero_;
    }

   private:
    const DatabaseImage& file_;
    std::int64_t scanned_;
    std::int64_t zero_ = kNone;
  };

  // The person whose candidate is at `j`, no field read past `end` (the end of its page).
  void carvePerson(std::int64_t j, std::int64_t s, std::int64_t end) {
    const std::int64_t n = carve::bNoteAlter(file_, j - 19 - s);
    const std::int64_t u = carve::bImageURLAlter(file_, j + 6);
    const std::int64_t h = j - (27 + s + n);
    const std::int64_t count = 34 + (iOS7_ ? 2 : 0) + s + n + u;

    auto contact = std::make_shared<MzContactNode>();
    contact->origin = db_.signatureOrigin(j);
    std::int64_t d = 0;
    for (std::int64_t position = 1; position <= 34; ++position) {
      if (position == 9 && n == 1) {
        carve::AnalyseAlterbleDB(file_, position, d, h, count, field_, end);
      } else if (position == 10 && n == 1) {
        continue;  // the two-byte note serial type covers positions 9 and 10
      } else if (kPersonColumnKept[static_cast<std::size_t>(position)]) {
        carve::AnalyseDBDataFile(file_, position, d, h, count, field_, end);
      } else {
        carve::skipDBDataField(file_, position, d, h);
        continue;
      }
      switch (position) {
        case 1:
          if (isShortText(field_, kShortTextLimit)) contact->contactName = text();
          break;
        case 2:
        case 3:
          if (isShortText(field_, kShortTextLimit)) appendWithBlank(contact->contactName, text());
          break;
        case 7:
          if (isShortText(field_, kShortTextLimit)) contact->contactCompany = text();
          break;
        case 8:
          if (isShortText(field_, kShortTextLimit)) {
            appendWithBlank(contact->contactCompany, text());
          }
          break;
        case 9:
          if (!field_.empty()) contact->contactNote = text();
          break;
        case 13:
          if (isShortText(field_, kShortTextLimit)) contact->contactJobtitle = text();
          break;
        default:
          break;
      }
    }
    assignRecordId(std::move(contact), h);
  }

  std::string text() const { return GetStringFormChar(field_.text()); }

  void assignRecordId(std::shared_ptr<MzContactNode> contact, std::int64_t h) {
    std::int32_t assigned;
    if (carve::getDeletedMark(file_, h - 1, 2, 4)) {
      const std::uint8_t b1 = file_.at(h - 2);
      const std::uint8_t b0 = file_.at(h - 3);
      const std::int32_t id = b0 >= 0x81 && b0 <= 0x89 ? carve::getAlterInteger(b0, b1) : b1;
      contact->rowid = id;
      if (id > largestId_) largestId_ = id;
      assigned = id != 0 ? id : lastAssigned_ + 1;
    } else {
      if (lastAssigned_ == 0) {
        lists_.delUnKnowContactArray.push_back(std::move(contact));
        return;
      }
      assigned = lastAssigned_ - 1;
    }
    lastAssigned_ = assigned;
    contact->rowid = assigned;
    lists_.delContactArray.push_back(std::move(contact));
  }

  void numberUnknownPersons() {
    if (unknownNumbered_ || lists_.delUnKnowContactArray.empty()) return;
    const auto& unknown = lists_.delUnKnowContactArray;
    std::int32_t k = 0;
    for (auto it = unknown.rbegin(); it != unknown.rend(); ++it, ++k) {
      (*it)->rowid = largestId_ + 1 + k;
      lists_.delContactArray.push_back(*it);
    }
    unknownNumbered_ = true;
  }

  void scanValues(std::int64_t page) {
    const std::uint8_t* bytes = pageBytes(page);
    const std::int64_t count = iOS7_ ? 7 : 6;
    // Offsets page + 1 to page + size, read from the last to the first.
    carve::findCandidates(bytes + 1, static_cast<std::size_t>(db_.pageSize),
                          static_cast<std::size_t>(db_.pageSize) + kSpill - 1, kValuePrefilter,
                          candidates_);
    for (auto k = candidates_.rbegin(); k != candidates_.rend(); ++k) {
      const std::int64_t a = page + 1 + *k;
      if (!isValueSignature(bytes + 1 + *k)) continue;
      auto value = std::make_shared<DelContactValue>();
      value->origin = db_.signatureOrigin(a);
      std::int64_t d = 0;
      for (std::int64_t position = 1; position <= 5; ++position) {
        if (position == 3 || position == 4) {
          carve::skipDBDataField(file_, position, d, a - 4 + 3);
          continue;
        }
        carve::AnalyseTheDBDataFile(file_, position, d, a - 4, 3, count, field_,
                                    page + db_.pageSize);
        if (position == 1) {
          value->rowID = decimalValue(field_.text());
          if (value->rowID == 0) value->rowID = 1;
        } else if (position == 2) {
          value->valueType = decimalValue(field_.text());
        } else if (position == 5 && isShortText(field_, kValueTextLimit)) {
          value->contactValue = text();
        }
      }
      lists_.delContactValueArray.push_back(std::move(value));
    }
  }

  void matchAndPost() {
    const auto& values = lists_.delContactValueArray;
    const ValuesById valuesById(values);

    for (const auto& contact : lists_.delContactArray) {
      ContactValues found(*contact);
      for (const auto& [id, i] : valuesById.of(contact->rowid)) {
        found.add(*values[i]);
        values[i]->bHasFind = true;
      }
      if (contact->contactPhone.size() <= 2) {
        contact->contactPhone =
            pageText_.after(withoutBlanks(contact->contactName)).value_or(std::string());
        // The string no longer holds the numbers read before; the card takes it whole.
        std::erase_if(contact->values, [](const MzContactValue& v) {
          return v.kind == MzContactValue::Kind::Phone;
        });
      }
      if (sink_.post) sink_.post(contact);
    }

    // Copies made per record id, counted at the id's first entry in valuesById.
    std::vector<std::uint16_t> copies(values.size(), 0);
    // Appending to delContactArray below leaves `values` untouched; walk by index.
    for (std::size_t v = 0; v < values.size(); ++v) {
      if (values[v]->bHasFind) continue;
      const std::int32_t id = values[v]->rowID;
      values[v]->bHasFind = true;
      const auto sameId = valuesById.of(id);
      std::uint16_t& made = copies[valuesById.positionOf(sameId)];
      if (made >= kMaxUnknownCopiesPerId) continue;
      ++made;
      auto unknown = std::make_shared<MzContactNode>();
      unknown->contactName = "Unknown";
      unknown->rowid = id;
      // Found where the value that seeds it was.
      unknown->origin = values[v]->origin;
      ContactValues found(*unknown);
      for (const auto& entry : sameId) found.add(*values[entry.second]);
      lists_.delContactArray.push_back(unknown);
      if (sink_.post) sink_.post(unknown);
    }
  }

  // The carved values grouped by record id, each group in carving order: one sorted array
  // instead of a map of lists, since a large address book carves tens of thousands.
  class ValuesById {
   public:
    using Entry = std::pair<std::int32_t, std::size_t>;
    explicit ValuesById(const std::vector<std::shared_ptr<DelContactValue>>& values) {
      entries_.reserve(values.size());
      for (std::size_t i = 0; i < values.size(); ++i) entries_.emplace_back(values[i]->rowID, i);
      // Stable by id alone keeps each group in carving order.
      std::stable_sort(entries_.begin(), entries_.end(),
                       [](const Entry& a, const Entry& b) { return a.first < b.first; });
    }
    std::span<const Entry> of(std::int32_t id) const {
      const auto first =
          std::lower_bound(entries_.begin(), entries_.end(), id,
                           [](const Entry& e, std::int32_t v) { return e.first < v; });
      auto last = first;
      while (last != entries_.end() && last->first == id) ++last;
      return {first, last};
    }
    std::size_t positionOf(std::span<const Entry> group) const {
      return static_cast<std::size_t>(group.data() - entries_.data());
    }

   private:
    std::vector<Entry> entries_;
  };

  const CarveDatabase& db_;
  const DatabaseImage& file_;
  const DelContactSink& sink_;
  ScanLists& lists_;
  const bool iOS7_;
  FieldBuffer field_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint32_t> candidates_;
  carve::PageTextSearch pageText_;
  std::int32_t lastAssigned_ = 0;
  std::int32_t largestId_ = 0;
  bool unknownNumbered_ = false;
};

}  // namespace

void carveDeletedContacts(const CarveDatabase& db, bool iOS7, ScanLists& lists,
                          const DelContactSink& sink) {
  ContactCarver(db, iOS7, lists, sink).run();
}
