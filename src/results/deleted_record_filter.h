// Which carved records the results keep.
//
// A record carved from free space is dropped when it has no content, or when a record of
// its category with the same key fields is already filed (live or deleted). Key fields
// compare by exact, case-sensitive text equality; every field must be equal.
//
//   category   | no content when                           | same record when equal
//   contacts   | never                                     | contactName, contactPhone
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

// Whether `filed` already holds a record with the key fields of `r`.
template <typename T>
bool isDuplicateRecord(const T& r, const RecordList<T>& filed) {
  for (const auto& f : filed) {
    if (f != nullptr && sameDeletedKey(r, *f)) return true;
  }
  return false;
}
