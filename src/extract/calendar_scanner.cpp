#include "extract/calendar_scanner.h"

#include <memory>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/current_calendar.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/step_database.h"

namespace {

// Each text selects the row id last, for the records' origins.
// iOS 6 and 7.
constexpr const char* kCalendarItemQuery =
    "select summary,location_id,description,start_date,end_date,start_tz,all_day,calendar_id,"
    "ROWID from CalendarItem";
// Older versions: the joined text first, the Event table when that gives no rows.
constexpr const char* kJoinedQuery =
    "select summary,location.title as location,description,start_date,end_date,start_tz,"
    "all_day,calendar_id,supported_entity_types,calendaritem.ROWID from calendaritem left join "
    "location on "
    "calendaritem.[location_id]=location.rowid left join Calendar on "
    "calendaritem.[calendar_id]=calendar.rowid where supported_entity_types !=8";
constexpr const char* kEventQuery =
    "select summary,location,description,start_date,end_date,start_tz,all_day,calendar_id,ROWID "
    "from event";

constexpr int kSummaryColumn = 0;
constexpr int kLocationColumn = 1;
constexpr int kDescriptionColumn = 2;
constexpr int kStartColumn = 3;
constexpr int kEndColumn = 4;

using EventList = std::vector<std::shared_ptr<MzCalenderNode>>;

// A text and the table its rows come from.
struct EventText {
  const char* sql;
  const char* table;
};

std::string dateCell(const SqliteStatement& row, int column) {
  return row.columnNonEmptyText(column) ? dateText(row.columnInt(column), 1) : std::string();
}

std::shared_ptr<MzCalenderNode> eventFromRow(const SqliteStatement& row) {
  auto event = std::make_shared<MzCalenderNode>();
  if (auto v = row.columnNonEmptyText(kSummaryColumn)) event->calTitle = *v;
  if (auto v = row.columnNonEmptyText(kLocationColumn)) event->location = *v;
  if (auto v = row.columnNonEmptyText(kDescriptionColumn)) event->calNote = *v;
  event->startDate = dateCell(row, kStartColumn);
  event->endDate = dateCell(row, kEndColumn);
  return event;
}

// The events of the first text that can be prepared and gives rows; none when no text does.
EventList firstEventsOf(StepDatabase& database, const std::vector<EventText>& queries) {
  EventList events;
  const std::string fileName = database.fileName();
  for (const EventText& query : queries) {
    SqliteStatement rows = database.db().prepare(query.sql);
    while (rows.step()) {
      auto event = eventFromRow(rows);
      event->origin =
          RecordOrigin::live(fileName, query.table, rows.columnInt(rows.columnCount() - 1));
      events.push_back(std::move(event));
    }
    database.checkRead(rows);
    if (!events.empty()) break;
  }
  return events;
}

}  // namespace

StepOutcome scanCalenderThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kCalendarKey, devicedb::kCalendar.domain, devicedb::kCalendar.path}};
  StepDatabase database(scan, candidates, "CalenderDB is not exist");
  if (!database.open()) return database.outcome();
  if (hasCurrentCalendarTable(database.db())) {
    CurrentCalendarItems current = readCurrentCalendar(database.db(), database.fileName());
    if (current.readFailed) database.noteFailedRead(current.error);
    for (auto& item : current.items) scan.nc.post("scanCalenderInfo", std::move(item));
    return database.outcome();
  }
  const std::vector<EventText> currentLayout = {{kCalendarItemQuery, "CalendarItem"}};
  const std::vector<EventText> olderLayout = {{kJoinedQuery, "CalendarItem"},
                                              {kEventQuery, "Event"}};
  const auto& promised = scan.currentNodeIsiOS6Version ? currentLayout : olderLayout;
  const auto& other = scan.currentNodeIsiOS6Version ? olderLayout : currentLayout;
  EventList events = firstEventsOf(database, promised);
  if (events.empty()) events = firstEventsOf(database, other);
  for (auto& event : events) scan.nc.post("scanCalenderInfo", std::move(event));
  return database.outcome();
}
