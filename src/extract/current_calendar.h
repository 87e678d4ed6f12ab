// The events and reminders of current calendar databases (iOS 8 and later), read with their
// calendar, location and attendees.
//
// A current database is told by its tables, not by the OS version: its CalendarItem table has
// an end_tz column, which the iOS 7 table lacks (one time zone per item) and the tables of
// iOS 9 and of iOS 14 to 17 have. Each CalendarItem row is
// read in row order with its Location title (location_id), its Calendar title (calendar_id)
// and its attendees (the Participant rows it owns, named through Identity where the database
// has it, else by their own e-mail or phone columns). Rows of entity type 3 are reminders
// (iOS 8 to 12 keep them here): kind "Reminder", with their due date and whether they are
// completed. Tables and columns a database lacks read as NULL, so a database without
// Location, Calendar, Participant or Identity still gives its items.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/sqlite_reader.h"
#include "extract/item_records.h"

// Whether `db` has the CalendarItem table of iOS 8 and later.
bool hasCurrentCalendarTable(const SqliteDatabase& db);

// The texts the reader runs, made for the tables and columns `db` has; `attendees` is empty
// when the database has no Participant table.
struct CurrentCalendarQueries {
  std::string items;
  std::string attendees;
};
CurrentCalendarQueries currentCalendarQueries(const SqliteDatabase& db);

struct CurrentCalendarItems {
  std::vector<std::shared_ptr<MzCalenderNode>> items;  // events and reminders, in row order
  bool readFailed = false;                             // a text stopped on an error
  std::string error;                                   // SQLite's message for it
};

// Reads every event and reminder of a database for which hasCurrentCalendarTable() holds;
// each says it is a row of CalendarItem in `fileName`.
CurrentCalendarItems readCurrentCalendar(const SqliteDatabase& db,
                                         const std::string& fileName = {});
