#include "extract/current_calendar.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/conversions.h"
#include "extract/table_columns.h"

namespace {

// CalendarItem.entity_type of a reminder (events are 2).
constexpr std::int64_t kReminderEntity = 3;

// The columns of the item text, in this order.
enum ItemColumn {
  kRowId,
  kSummary,
  kLocation,
  kDescription,
  kStart,
  kEnd,
  kAllDay,
  kCalendar,
  kEntityType,
  kDue,
  kCompletion,
};

// The columns of the attendee text, in this order.
enum AttendeeColumn {
  kOwner,
  kDisplayName,
  kFirstName,
  kLastName,
  kIdentityAddress,
  kEmail,
  kPhone,
};

std::string dateCell(const SqliteStatement& row, int column) {
  return row.columnNonEmptyText(column) ? dateText(row.columnInt(column), 1) : std::string();
}

std::string text(const SqliteStatement& row, int column) {
  return row.columnNonEmptyText(column).value_or(std::string());
}

// An address without its "mailto:" or "tel:" scheme.
std::string bareAddress(std::string address) {
  for (std::string_view scheme : {"mailto:", "tel:"}) {
    if (address.size() > scheme.size() &&
        std::equal(scheme.begin(), scheme.end(), address.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      return address.substr(scheme.size());
    }
  }
  return address;
}

// "Name <address>", the name or the address alone; empty when the row names nobody.
std::string attendeeText(const SqliteStatement& row) {
  std::string name = text(row, kDisplayName);
  if (name.empty()) {
    name = text(row, kFirstName);
    const std::string last = text(row, kLastName);
    if (!name.empty() && !last.empty()) name += ' ';
    name += last;
  }
  std::string address = bareAddress(text(row, kEmail));
  if (address.empty()) address = bareAddress(text(row, kIdentityAddress));
  if (address.empty()) address = text(row, kPhone);
  if (name.empty()) return address;
  if (address.empty() || address == name) return name;
  return name + " <" + address + ">";
}

std::shared_ptr<MzCalenderNode> itemFromRow(const SqliteStatement& row) {
  auto item = std::make_shared<MzCalenderNode>();
  item->calTitle = text(row, kSummary);
  item->location = text(row, kLocation);
  item->calNote = text(row, kDescription);
  item->startDate = dateCell(row, kStart);
  item->endDate = dateCell(row, kEnd);
  item->allDay = !row.columnIsNull(kAllDay) && row.columnInt(kAllDay) != 0;
  item->calendarName = text(row, kCalendar);
  if (!row.columnIsNull(kEntityType) && row.columnInt(kEntityType) == kReminderEntity) {
    item->kind = "Reminder";
    item->dueDate = dateCell(row, kDue);
    item->completed = !row.columnIsNull(kCompletion);
  }
  return item;
}

void noteFailure(CurrentCalendarItems& result, const SqliteStatement& rows) {
  if (!rows.failed() || result.readFailed) return;
  result.readFailed = true;
  result.error = rows.error();
}

// The attendee texts of every item, by item row id, in Participant row order, each once.
std::unordered_map<std::int64_t, std::vector<std::string>> readAttendees(
    const SqliteDatabase& db, const std::string& query, CurrentCalendarItems& result) {
  std::unordered_map<std::int64_t, std::vector<std::string>> attendees;
  if (query.empty()) return attendees;
  SqliteStatement rows = db.prepare(query);
  while (rows.step()) {
    if (rows.columnIsNull(kOwner)) continue;
    std::string attendee = attendeeText(rows);
    if (attendee.empty()) continue;
    auto& list = attendees[rows.columnInt(kOwner)];
    if (std::find(list.begin(), list.end(), attendee) == list.end()) {
      list.push_back(std::move(attendee));
    }
  }
  noteFailure(result, rows);
  return attendees;
}

}  // namespace

bool hasCurrentCalendarTable(const SqliteDatabase& db) {
  return columnSet(db, "CalendarItem").contains("end_tz");
}

CurrentCalendarQueries currentCalendarQueries(const SqliteDatabase& db) {
  CurrentCalendarQueries queries;
  const ColumnSet item = columnSet(db, "CalendarItem");
  const ColumnSet location = columnSet(db, "Location");
  const ColumnSet calendar = columnSet(db, "Calendar");
  const bool joinLocation = item.contains("location_id") && location.contains("title");
  const bool joinCalendar = item.contains("calendar_id") && calendar.contains("title");
  queries.items =
      "select i.ROWID, " + columnOrNull(item, "i", "summary") + ", " +
      (joinLocation ? "l.title" : "NULL") + ", " + columnOrNull(item, "i", "description") + ", " +
      columnOrNull(item, "i", "start_date") + ", " + columnOrNull(item, "i", "end_date") + ", " +
      columnOrNull(item, "i", "all_day") + ", " + (joinCalendar ? "c.title" : "NULL") + ", " +
      columnOrNull(item, "i", "entity_type") + ", " + columnOrNull(item, "i", "due_date") + ", " +
      columnOrNull(item, "i", "completion_date") + " from CalendarItem i";
  if (joinLocation) queries.items += " left join Location l on l.ROWID = i.location_id";
  if (joinCalendar) queries.items += " left join Calendar c on c.ROWID = i.calendar_id";
  queries.items += " order by i.ROWID";

  const ColumnSet participant = columnSet(db, "Participant");
  if (!participant.contains("owner_id")) return queries;
  const ColumnSet identity = columnSet(db, "Identity");
  const bool joinIdentity = participant.contains("identity_id") && !identity.empty();
  const auto identityColumn = [&](const char* column) {
    return joinIdentity ? columnOrNull(identity, "d", column) : std::string("NULL");
  };
  queries.attendees = "select p.owner_id, " + identityColumn("display_name") + ", " +
                      identityColumn("first_name") + ", " + identityColumn("last_name") + ", " +
                      identityColumn("address") + ", " + columnOrNull(participant, "p", "email") +
                      ", " + columnOrNull(participant, "p", "phone_number") + " from Participant p";
  if (joinIdentity) queries.attendees += " left join Identity d on d.rowid = p.identity_id";
  queries.attendees += " order by p.owner_id, p.ROWID";
  return queries;
}

CurrentCalendarItems readCurrentCalendar(const SqliteDatabase& db, const std::string& fileName) {
  CurrentCalendarItems result;
  const CurrentCalendarQueries queries = currentCalendarQueries(db);
  auto attendees = readAttendees(db, queries.attendees, result);
  SqliteStatement rows = db.prepare(queries.items);
  if (!rows.valid()) {
    result.readFailed = true;
    result.error = "the calendar items cannot be read";
    return result;
  }
  while (rows.step()) {
    auto item = itemFromRow(rows);
    item->origin = RecordOrigin::live(fileName, "CalendarItem", rows.columnInt(kRowId));
    if (auto it = attendees.find(rows.columnInt(kRowId)); it != attendees.end()) {
      item->attendees = std::move(it->second);
    }
    result.items.push_back(std::move(item));
  }
  noteFailure(result, rows);
  return result;
}
