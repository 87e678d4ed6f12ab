#include "results/text_records.h"

#include <optional>
#include <string_view>
#include <utility>

namespace {

void field(std::string& out, std::string_view label, std::string_view value) {
  out.append(label);
  out += ':';
  out.append(value);
  out += "  ";
}

void field(std::string& out, std::string_view label, const std::string& value) {
  field(out, label, std::string_view(value));
}

void field(std::string& out, std::string_view label, const std::optional<std::string>& value) {
  field(out, label, value ? std::string_view(*value) : std::string_view("(null)"));
}

// The record's origin on a line of its own after its fields, when it has one.
std::string withOrigin(std::string out, const RecordOrigin& origin) {
  if (origin.known()) out += "\nOrigin: " + originText(origin);
  return out;
}

}  // namespace

std::string contactRecordText(const MzContactNode& c) {
  std::string out;
  field(out, "Name", c.contactName);
  field(out, "Phone", c.contactPhone);
  field(out, "Email", c.contactEmail);
  field(out, "Company", c.contactCompany);
  field(out, "JobTitle", c.contactJobtitle);
  field(out, "Home Page", c.contactHomepage);
  field(out, "Birthday", c.contactBirthday);
  field(out, "Note", c.contactNote);
  return withOrigin(std::move(out), c.origin);
}

std::string noteRecordText(const MzNoteNode& n) {
  std::string out;
  field(out, "Title", n.noteTitle);
  // Only the current store's notes have these; the older notes' text stays as it was.
  if (!n.folder.empty()) field(out, "Folder", n.folder);
  if (!n.account.empty()) field(out, "Account", n.account);
  if (!n.createdDate.empty()) field(out, "Created", n.createdDate);
  field(out, "Note", n.locked ? std::string("Locked") : n.noteContent);
  for (const auto& a : n.attachments) {
    field(out, "Attachment", a.storedPath ? a.name : a.name + " (not in the backup)");
  }
  field(out, "Date", n.noteDate);
  return withOrigin(std::move(out), n.origin);
}

std::string callRecordText(const MzCallHistoryNode& c) {
  std::string out;
  field(out, "Name", c.callName);
  field(out, "Phone", c.callPhone);
  field(out, "Date", c.callDate);
  field(out, "Type", callTypeText(c));
  field(out, "Duration", c.callDuration);
  return withOrigin(std::move(out), c.origin);
}

std::string callTypeText(const MzCallHistoryNode& c) {
  if (c.callKind.empty()) return c.callType;
  return c.callType + " (" + c.callKind + ")";
}

std::string bookMarkRecordText(const MzBookMarkNode& b) {
  std::string out;
  field(out, "Title", b.bookMarkTitle);
  field(out, "URL", b.bookMarkURL);
  return withOrigin(std::move(out), b.origin);
}

std::string calenderRecordText(const MzCalenderNode& e) {
  std::string out;
  field(out, "Title", e.calTitle);
  field(out, "Note", e.calNote);
  field(out, "Start Date", e.startDate);
  field(out, "End Date", e.endDate);
  // Only the current calendar database tells these (its items name their calendar, and its
  // location is a title, never a row id); the older events' text stays as it was.
  if (e.kind.empty() && e.calendarName.empty()) return withOrigin(std::move(out), e.origin);
  if (!e.kind.empty()) field(out, "Kind", e.kind);
  if (!e.calendarName.empty()) field(out, "Calendar", e.calendarName);
  if (!e.location.empty()) field(out, "Location", e.location);
  if (e.allDay) field(out, "All Day", std::string_view("Yes"));
  if (!e.attendees.empty()) field(out, "Attendees", calenderAttendeesText(e));
  if (!e.dueDate.empty()) field(out, "Due Date", e.dueDate);
  if (!e.kind.empty()) field(out, "Completed", std::string_view(e.completed ? "Yes" : "No"));
  return withOrigin(std::move(out), e.origin);
}

std::string calenderAttendeesText(const MzCalenderNode& e) {
  std::string out;
  for (const auto& attendee : e.attendees) {
    if (!out.empty()) out += ", ";
    out += attendee;
  }
  return out;
}
