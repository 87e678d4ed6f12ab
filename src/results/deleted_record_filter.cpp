#include "results/deleted_record_filter.h"

#include <algorithm>
#include <cctype>

#include "extract/contact_phones.h"

bool isEmptyDeletedRecord(const MzContactNode&) { return false; }

bool isEmptyDeletedRecord(const MzNoteNode& r) {
  return r.noteTitle.empty() && r.noteContent.empty();
}

bool isEmptyDeletedRecord(const MzCallHistoryNode& r) {
  return r.callName.has_value() && r.callName->empty() && r.callPhone.empty();
}

namespace {

bool hasControlCharacters(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

// "scheme:rest", the scheme a letter followed by letters, digits, "+", "-" or ".".
bool isAddress(const std::string& url) {
  const auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= url.size()) return false;
  if (std::isalpha(static_cast<unsigned char>(url[0])) == 0) return false;
  return std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
  });
}

}  // namespace

bool isEmptyDeletedRecord(const MzBookMarkNode& r) {
  // A bookmark carved at an offset that is not a record reads bytes of other columns: its
  // "address" is no address and its texts hold control bytes. Only a web address with
  // clean texts is a bookmark.
  if (r.bookMarkURL.empty() && r.bookMarkTitle.empty()) return true;
  return !isAddress(r.bookMarkURL) || hasControlCharacters(r.bookMarkURL) ||
         hasControlCharacters(r.bookMarkTitle);
}

bool isEmptyDeletedRecord(const MzCalenderNode& r) {
  // Dates alone are what the carver decodes at an offset that is not a record: an event
  // needs a title or a note to be an event.
  return r.calTitle.empty() && r.calNote.empty();
}

bool isEmptyDeletedRecord(const MzMessageNode& r) {
  return r.messagePhone.empty() && r.messageContent.empty();
}

// One list of key fields per category: the key text's.
bool sameDeletedKey(const MzContactNode& a, const MzContactNode& b) {
  return deletedKeyText(a) == deletedKeyText(b);
}

bool sameDeletedKey(const MzNoteNode& a, const MzNoteNode& b) {
  return deletedKeyText(a) == deletedKeyText(b);
}

bool sameDeletedKey(const MzCallHistoryNode& a, const MzCallHistoryNode& b) {
  return deletedKeyText(a) == deletedKeyText(b);
}

bool sameDeletedKey(const MzBookMarkNode& a, const MzBookMarkNode& b) {
  return deletedKeyText(a) == deletedKeyText(b);
}

bool sameDeletedKey(const MzCalenderNode& a, const MzCalenderNode& b) {
  return deletedKeyText(a) == deletedKeyText(b);
}

bool sameDeletedKey(const MzMessageNode& a, const MzMessageNode& b) {
  return deletedKeyText(a) == deletedKeyText(b);
}

namespace {

// Each field as its length, a separator and its bytes: no two lists of fields give one text.
void appendField(std::string& key, const std::string& field) {
  key += std::to_string(field.size());
  key += ':';
  key += field;
}

template <typename... Fields>
std::string keyOfFields(const Fields&... fields) {
  std::string key;
  (appendField(key, fields), ...);
  return key;
}

}  // namespace

std::string deletedKeyText(const MzContactNode& r) {
  std::string key = keyOfFields(r.contactName);
  for (const std::string& number : phoneNumberSet(r)) appendField(key, number);
  return key;
}

std::string deletedKeyText(const MzNoteNode& r) { return keyOfFields(r.noteContent); }

std::string deletedKeyText(const MzCallHistoryNode& r) {
  return keyOfFields(r.callPhone, r.callDate);
}

std::string deletedKeyText(const MzBookMarkNode& r) {
  return keyOfFields(r.bookMarkURL, r.bookMarkTitle);
}

std::string deletedKeyText(const MzCalenderNode& r) {
  return keyOfFields(r.calTitle, r.calNote, r.startDate);
}

std::string deletedKeyText(const MzMessageNode& r) {
  return keyOfFields(r.messagePhone, r.messageContent, r.messageDate);
}
