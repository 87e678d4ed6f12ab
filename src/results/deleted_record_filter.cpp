#include "results/deleted_record_filter.h"

bool isEmptyDeletedRecord(const MzContactNode&) { return false; }

bool isEmptyDeletedRecord(const MzNoteNode& r) {
  return r.noteTitle.empty() && r.noteContent.empty();
}

bool isEmptyDeletedRecord(const MzCallHistoryNode& r) {
  return r.callName.has_value() && r.callName->empty() && r.callPhone.empty();
}

bool isEmptyDeletedRecord(const MzBookMarkNode& r) {
  return r.bookMarkURL.empty() && r.bookMarkTitle.empty();
}

bool isEmptyDeletedRecord(const MzCalenderNode& r) {
  return r.calTitle.empty() && r.calNote.empty() && r.startDate.empty();
}

bool isEmptyDeletedRecord(const MzMessageNode& r) {
  return r.messagePhone.empty() && r.messageContent.empty();
}

bool sameDeletedKey(const MzContactNode& a, const MzContactNode& b) {
  return a.contactName == b.contactName && a.contactPhone == b.contactPhone;
}

bool sameDeletedKey(const MzNoteNode& a, const MzNoteNode& b) {
  return a.noteContent == b.noteContent;
}

bool sameDeletedKey(const MzCallHistoryNode& a, const MzCallHistoryNode& b) {
  return a.callPhone == b.callPhone && a.callDate == b.callDate;
}

bool sameDeletedKey(const MzBookMarkNode& a, const MzBookMarkNode& b) {
  return a.bookMarkURL == b.bookMarkURL && a.bookMarkTitle == b.bookMarkTitle;
}

bool sameDeletedKey(const MzCalenderNode& a, const MzCalenderNode& b) {
  return a.calTitle == b.calTitle && a.calNote == b.calNote && a.startDate == b.startDate;
}

bool sameDeletedKey(const MzMessageNode& a, const MzMessageNode& b) {
  return a.messagePhone == b.messagePhone && a.messageContent == b.messageContent &&
         a.messageDate == b.messageDate;
}
