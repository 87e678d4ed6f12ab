// Which carved records the results keep.
//
// A record carved from free space is dropped when it has no content, or when a record of
// its category with the same key fields is already filed (live or deleted). Key fields
// compare by exact, case-sensitive text equality; every field must be equal. A contact's
// numbers compare as a set of numbers (contact_phones.h): the order they are listed in, a
// number listed twice and the blanks and dashes within a number make no difference.
//
//   category   | no content when                           | same record when equal
//   contacts   | never                                     | contactName, phone numbers
//   notes      | noteTitle and noteContent both empty      | noteContent
//   calls      | callName and callPhone both ""            | callPhone, callDate
//   bookmarks  | bookMarkURL not an address (scheme:...), | bookMarkURL, bookMarkTitle
//              | or a control byte in the URL or title     |
//   calendar   | calTitle and calNote both empty           | calTitle, calNote, startDate
//   messages   | messagePhone and messageContent both empty| messagePhone, messageContent,
//              |                                           | messageDate
//
// A call whose name is none (no contact matched) is not empty even without a number: it
// is a call from a withheld number, and its date and duration are worth keeping.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "extract/item_records.h"
#include "extract/scan_lists.h"

bool isEmptyDeletedRecord(const MzContactNode& r);
bool isEmptyDeletedRecord(const MzNoteNode& r);
bool isEmptyDeletedRecord(const MzCallHistoryNode& r);
bool isEmptyDeletedRecord(const MzBookMarkNode& r);
bool isEmptyDeletedRecord(const MzCalenderNode& r);
bool isEmptyDeletedRecord(const MzMessageNode& r);

bool sameDeletedKey(const MzContactNode& a, const MzContactNode& b);
bool sameDeletedKey(const MzNoteNode& a, const MzNoteNode& b);
bool sameDeletedKey(const MzCallHistoryNode& a, const MzCallHistoryNode& b);
bool sameDeletedKey(const MzBookMarkNode& a, const MzBookMarkNode& b);
bool sameDeletedKey(const MzCalenderNode& a, const MzCalenderNode& b);
bool sameDeletedKey(const MzMessageNode& a, const MzMessageNode& b);

// The key fields of a record (the table above) as one text, length-prefixed field by field:
// two records have the same text exactly when all their key fields are equal, which is what
// sameDeletedKey() compares.
std::string deletedKeyText(const MzContactNode& r);
std::string deletedKeyText(const MzNoteNode& r);
std::string deletedKeyText(const MzCallHistoryNode& r);
std::string deletedKeyText(const MzBookMarkNode& r);
std::string deletedKeyText(const MzCalenderNode& r);
std::string deletedKeyText(const MzMessageNode& r);

// Whether `filed` already holds a record with the key fields of `r`.
template <typename T>
bool isDuplicateRecord(const T& r, const RecordList<T>& filed) {
  for (const auto& f : filed) {
    if (f != nullptr && sameDeletedKey(r, *f)) return true;
  }
  return false;
}

// isDuplicateRecord() over one growing list, answered by a set of key texts instead of a walk
// of the whole list: a scan files tens of thousands of live records and then asks for every
// carved one. The records appended to the list since the last question are added to the set
// first; a list that has shrunk, or whose first or last known record is no longer where it
// was (cleared and filled anew), is indexed anew. Records are not to change their key fields
// once filed.
template <typename T>
class FiledKeys {
 public:
  bool holds(const T& r, const RecordList<T>& filed) { return match(r, filed) != nullptr; }

  // The first record of `filed` with the key fields of `r`, or null.
  const T* match(const T& r, const RecordList<T>& filed) {
    if (!stillIndexes(filed)) {
      keys_.clear();
      indexed_ = 0;
    }
    for (; indexed_ < filed.size(); ++indexed_) {
      const T* record = filed[indexed_].get();
      if (record != nullptr) keys_.emplace(deletedKeyText(*record), record);
    }
    first_ = filed.empty() ? nullptr : filed.front().get();
    last_ = filed.empty() ? nullptr : filed.back().get();
    const auto found = keys_.find(deletedKeyText(r));
    return found == keys_.end() ? nullptr : found->second;
  }

 private:
  bool stillIndexes(const RecordList<T>& filed) const {
    if (indexed_ == 0) return true;
    return filed.size() >= indexed_ && filed.front().get() == first_ &&
           filed[indexed_ - 1].get() == last_;
  }

  std::unordered_map<std::string, const T*> keys_;
  std::size_t indexed_ = 0;
  const T* first_ = nullptr;
  const T* last_ = nullptr;  // the last record indexed
};
