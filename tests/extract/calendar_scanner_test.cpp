#include "extract/calendar_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "base/log.h"
#include "catalogue/manifest_reader.h"
#include "extract/device_databases.h"
#include "fixture_support.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct CalendarRun {
  std::vector<std::shared_ptr<MzCalenderNode>> posted;
  std::vector<std::string> logged;
  int progressPosts = 0;
};

CalendarRun runCalendarStep(const std::string& folder, bool iOS6Layout, bool readIndex = false) {
  CalendarRun r;
  StepHarness step(folder);
  if (readIndex) step.readIndex();
  step.center.addObserver("scanCalenderInfo", [&](const std::any& o) {
    r.posted.push_back(std::any_cast<std::shared_ptr<MzCalenderNode>>(o));
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any&) { ++r.progressPosts; });
  step.run(scanCalenderThread, iOS6Layout);
  r.logged = step.logged;
  return r;
}

void makeDatabase(const std::string& path, const std::string& sql) { writeSqlDatabase(path, sql); }

// The tables the queries read, in the layout of iOS 5 to 9.
constexpr const char* kItemLayout =
    "CREATE TABLE Calendar (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, "
    "supported_entity_types INTEGER);"
    "CREATE TABLE Location (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT);"
    "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, "
    "location_id INTEGER, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, "
    "all_day INTEGER, calendar_id INTEGER);";
// The Event table of the first devices.
constexpr const char* kEventLayout =
    "CREATE TABLE Event (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, location TEXT, "
    "description TEXT, start_date INTEGER, start_tz TEXT, end_date INTEGER, all_day INTEGER, "
    "calendar_id INTEGER);"
    "INSERT INTO Event(summary, location, description, start_date, end_date) "
    "VALUES('Old event', 'Town hall', 'Bring id', 441763200, 441766800);";

std::vector<std::string> titlesOf(const CalendarRun& r) {
  std::vector<std::string> titles;
  for (const auto& e : r.posted) titles.push_back(e->calTitle);
  return titles;
}

TEST(CalendarStep, TheLayoutFlagChoosesTheTextAndItsLocationAndFilter) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  makeDatabase(backup.sub(devicedb::kCalendarKey),
               std::string(kItemLayout) +
                   "INSERT INTO Calendar VALUES(1, 'Calendar', 4), (2, 'Reminders', 8);"
                   "INSERT INTO Location VALUES(3, 'Odenplan');"
                   "INSERT INTO CalendarItem(summary, location_id, description, start_date, "
                   "end_date, calendar_id) VALUES('Dentist', 3, 'Check-up', 441763200.5, "
                   "441766800, 1), ('Buy milk', 0, NULL, NULL, NULL, 2);");
  // iOS 6 and 7: every row, the location as its row id.
  CalendarRun current = runCalendarStep(backup.path(), true);
  ASSERT_EQ(titlesOf(current), (std::vector<std::string>{"Dentist", "Buy milk"}));
  const MzCalenderNode& dentist = *current.posted[0];
  EXPECT_EQ(dentist.location, "3");
  EXPECT_EQ(dentist.calNote, "Check-up");
  EXPECT_EQ(dentist.startDate, "01-01-2015 00:00");
  EXPECT_EQ(dentist.endDate, "01-01-2015 01:00");
  EXPECT_EQ(current.posted[1]->location, "0");
  EXPECT_EQ(current.posted[1]->calNote, "");
  EXPECT_EQ(current.posted[1]->startDate, "");  // no date without a value

  // Older versions: the location's title, and the reminder list's rows left out.
  CalendarRun older = runCalendarStep(backup.path(), false);
  ASSERT_EQ(titlesOf(older), std::vector<std::string>{"Dentist"});
  EXPECT_EQ(older.posted[0]->location, "Odenplan");
  EXPECT_EQ(older.posted[0]->startDate, "01-01-2015 00:00");
  EXPECT_EQ(older.progressPosts, 0);
}

TEST(CalendarStep, OlderVersionsReadTheEventTableWhenTheJoinedTextGivesNoRows) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  makeDatabase(backup.sub(devicedb::kCalendarKey), std::string(kItemLayout) + kEventLayout);
  CalendarRun r = runCalendarStep(backup.path(), false);
  ASSERT_EQ(r.posted.size(), 1u);
  EXPECT_EQ(r.posted[0]->calTitle, "Old event");
  EXPECT_EQ(r.posted[0]->location, "Town hall");
  EXPECT_EQ(r.posted[0]->calNote, "Bring id");
  EXPECT_EQ(r.posted[0]->endDate, "01-01-2015 01:00");
}

TEST(CalendarStep, TheOtherLayoutsTextsAreTriedWhenThePromisedOnesFindNothing) {
  ScopedEnv tz("TZ", "UTC");
  // A newer backup that does not count as iOS 6 or 7, with a CalendarItem table but without
  // the tables the older texts join.
  TempDir newer;
  makeDatabase(newer.sub(devicedb::kCalendarKey),
               "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary "
               "TEXT, location_id INTEGER, client_location_id INTEGER, description TEXT, "
               "start_date REAL, start_tz TEXT, end_date REAL, end_tz TEXT, all_day INTEGER, "
               "calendar_id INTEGER);"
               "INSERT INTO CalendarItem(summary, location_id, start_date, end_date) "
               "VALUES('Standup', 2, 441763200, 441764100);");
  CalendarRun fromItems = runCalendarStep(newer.path(), false);
  ASSERT_EQ(titlesOf(fromItems), std::vector<std::string>{"Standup"});
  // Its end_tz column makes it a current database, read by the current reader: without a
  // Location table the location has no title to show, and without Participant no attendees.
  EXPECT_EQ(fromItems.posted[0]->location, "");
  EXPECT_TRUE(fromItems.posted[0]->attendees.empty());
  EXPECT_EQ(fromItems.posted[0]->endDate, "01-01-2015 00:15");

  // A backup that counts as iOS 6 or 7 but holds the old Event table, or an empty
  // CalendarItem beside it.
  TempDir old;
  makeDatabase(old.sub(devicedb::kCalendarKey), std::string(kItemLayout) + kEventLayout);
  EXPECT_EQ(titlesOf(runCalendarStep(old.path(), true)), std::vector<std::string>{"Old event"});

  // Nothing anywhere: nothing posted, no line logged.
  TempDir empty;
  makeDatabase(empty.sub(devicedb::kCalendarKey), kItemLayout);
  CalendarRun none = runCalendarStep(empty.path(), true);
  EXPECT_TRUE(none.posted.empty());
  EXPECT_TRUE(none.logged.empty());
}

TEST(CalendarStep, MissingAndUnreadableDatabases) {
  TempDir backup;
  CalendarRun missing = runCalendarStep(backup.path(), true);
  EXPECT_TRUE(missing.posted.empty());
  EXPECT_EQ(missing.logged, std::vector<std::string>{"CalenderDB is not exist"});

  backup.writeFile(devicedb::kCalendarKey, std::string(4096, 'k'));
  CalendarRun junk = runCalendarStep(backup.path(), false);
  EXPECT_TRUE(junk.posted.empty());
  // The damaged database is named, not shown as an empty calendar.
  ASSERT_EQ(junk.logged.size(), 1u);
  EXPECT_NE(junk.logged[0].find("not a SQLite database"), std::string::npos);
  EXPECT_EQ(junk.progressPosts, 0);
}

// A builder generation and whether its OS version counts as iOS 6 or 7. Generation 7 with
// the flag off stands for iOS 8 and 9, which keep the iOS 7 layout.
struct CalendarCase {
  int generation;
  bool iOS6Layout;
};

class CalendarOfEveryGeneration : public testing::TestWithParam<CalendarCase> {};

TEST_P(CalendarOfEveryGeneration, EveryLiveEventWithItsFieldsAndTheBackupUntouched) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::BackupBuildOptions options;
  options.generation = GetParam().generation;
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(tmp.sub("Backup/b"), options, &built, &error)) << error;
  const auto before = folderFingerprint(built.backupFolder);

  CalendarRun r = runCalendarStep(built.backupFolder, GetParam().iOS6Layout, true);

  std::vector<json> live;
  for (const json& e : built.truth["events"]) {
    if (!e["deleted"].get<bool>()) live.push_back(e);
  }
  ASSERT_EQ(r.posted.size(), live.size());
  ASSERT_GE(live.size(), 3u);
  for (std::size_t i = 0; i < live.size(); ++i) {
    const json& truth = live[i];
    const MzCalenderNode& event = *r.posted[i];
    SCOPED_TRACE(truth.dump());
    EXPECT_EQ(event.calTitle, truth["summary"]);
    EXPECT_EQ(event.calNote, truth.value("description", ""));
    EXPECT_EQ(event.location, GetParam().iOS6Layout
                                  ? std::to_string(truth["location_id"].get<int>())
                                  : truth.value("location", ""));
    EXPECT_EQ(event.startDate, fixtures::formatUtcDateText(truth["start_unix"].get<double>()));
    EXPECT_EQ(event.endDate, fixtures::formatUtcDateText(truth["end_unix"].get<double>()));
    EXPECT_FALSE(event.bDeleted);
    EXPECT_EQ(event.origin,
              RecordOrigin::live("Calendar.sqlitedb", "CalendarItem", truth["rowid"]));
  }
  EXPECT_EQ(r.progressPosts, 0);
  EXPECT_EQ(folderFingerprint(built.backupFolder), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, CalendarOfEveryGeneration,
                         testing::Values(CalendarCase{5, false}, CalendarCase{6, true},
                                         CalendarCase{7, true}, CalendarCase{7, false}));

TEST(CalendarStep, CurrentAttendeesAreNamedFromWhatTheRowsHold) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  makeDatabase(
      backup.sub(devicedb::kCalendarKey),
      "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, "
      "start_date REAL, end_date REAL, end_tz TEXT, entity_type INTEGER);"
      "CREATE TABLE Identity (display_name TEXT, address TEXT, first_name TEXT, last_name TEXT);"
      "CREATE TABLE Participant (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, identity_id INTEGER, "
      "owner_id INTEGER, email TEXT, phone_number TEXT);"
      "INSERT INTO CalendarItem VALUES(1, 'Planning', 441763200, 441766800, 'UTC', 2),"
      " (2, 'Retro', NULL, NULL, NULL, NULL);"
      "INSERT INTO Identity(rowid, display_name, address, first_name, last_name) VALUES"
      " (1, NULL, 'MAILTO:per@example.com', 'Per', 'Holm'), (2, 'Lena', NULL, NULL, NULL);"
      // The organizer is listed as an attendee too; an empty row names nobody.
      "INSERT INTO Participant(identity_id, owner_id, email, phone_number) VALUES"
      " (1, 1, NULL, NULL), (0, 1, NULL, '+46701234567'), (1, 1, NULL, NULL),"
      " (2, 1, 'lena@example.com', NULL), (0, 1, NULL, NULL), (2, 2, NULL, NULL),"
      " (0, 9, 'nobody@example.com', NULL);");
  CalendarRun r = runCalendarStep(backup.path(), true);
  ASSERT_EQ(titlesOf(r), (std::vector<std::string>{"Planning", "Retro"}));
  EXPECT_EQ(r.posted[0]->attendees,
            (std::vector<std::string>{"Per Holm <per@example.com>", "+46701234567",
                                      "Lena <lena@example.com>"}));
  EXPECT_EQ(r.posted[1]->attendees, std::vector<std::string>{"Lena"});
  // No entity type is an event; no Location or Calendar table leaves their texts empty.
  EXPECT_EQ(r.posted[1]->kind, "");
  EXPECT_EQ(r.posted[0]->location, "");
  EXPECT_EQ(r.posted[0]->calendarName, "");
  EXPECT_EQ(r.posted[0]->startDate, "01-01-2015 00:00");
}

// The current calendar (iOS 8 and later), built from the iOS 9 tables or from the partial
// tables of a current device (CalendarItem and Participant only: no Location, Calendar or
// Identity). The reading is chosen by the tables, so the OS flag must not matter.
struct CurrentCalendarCase {
  bool partialSchema;
  bool iOS6Layout;
};

class CurrentCalendar : public testing::TestWithParam<CurrentCalendarCase> {};

TEST_P(CurrentCalendar, EventsThenRemindersWithTheirCalendarsAttendeesAndStates) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  json description = fixtures::currentCalendarDescription();
  const bool partial = GetParam().partialSchema;
  if (partial) {
    description["databases"]["calendar"]["schema"] =
        "ios-modern/Calendar.sqlitedb.mvt-fixture-partial";
  }
  fixtures::BackupBuildOptions options;
  options.generation = 17;
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(description, tmp.sub("Backup/b"), options, &built, &error))
      << error;
  const auto before = folderFingerprint(built.backupFolder);

  CalendarRun r = runCalendarStep(built.backupFolder, GetParam().iOS6Layout, true);

  std::vector<json> events, reminders;
  for (const json& e : built.truth["events"]) {
    if (!e["deleted"].get<bool>()) events.push_back(e);
  }
  for (const json& e : built.truth["reminders"]) {
    if (!e["deleted"].get<bool>()) reminders.push_back(e);
  }
  ASSERT_EQ(r.posted.size(), events.size() + reminders.size());
  ASSERT_GE(events.size(), 3u);
  ASSERT_GE(reminders.size(), 3u);
  bool sawAttendees = false, sawAllDay = false;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const json& truth = events[i];
    const MzCalenderNode& event = *r.posted[i];
    SCOPED_TRACE(truth.dump());
    EXPECT_EQ(event.calTitle, truth["summary"]);
    EXPECT_EQ(event.origin,
              RecordOrigin::live("Calendar.sqlitedb", "CalendarItem", truth["rowid"]));
    EXPECT_EQ(event.kind, "");
    EXPECT_EQ(event.location, truth.value("location", ""));
    EXPECT_EQ(event.calNote, truth.value("description", ""));
    EXPECT_EQ(event.startDate, fixtures::formatUtcDateText(truth["start_unix"].get<double>()));
    EXPECT_EQ(event.endDate, fixtures::formatUtcDateText(truth["end_unix"].get<double>()));
    EXPECT_EQ(event.allDay, truth["all_day"].get<bool>());
    EXPECT_EQ(event.calendarName, partial ? "" : truth["calendar"].get<std::string>());
    EXPECT_EQ(event.attendees, truth["attendees"].get<std::vector<std::string>>());
    EXPECT_FALSE(event.completed);
    EXPECT_FALSE(event.bDeleted);
    sawAttendees = sawAttendees || !event.attendees.empty();
    sawAllDay = sawAllDay || event.allDay;
  }
  EXPECT_TRUE(sawAttendees);
  EXPECT_TRUE(sawAllDay);
  int completed = 0;
  for (std::size_t i = 0; i < reminders.size(); ++i) {
    const json& truth = reminders[i];
    const MzCalenderNode& reminder = *r.posted[events.size() + i];
    SCOPED_TRACE(truth.dump());
    EXPECT_EQ(reminder.calTitle, truth["title"]);
    EXPECT_EQ(reminder.kind, "Reminder");
    EXPECT_EQ(reminder.calNote, truth.value("notes", ""));
    EXPECT_EQ(reminder.calendarName, partial ? "" : truth["list"].get<std::string>());
    EXPECT_EQ(reminder.dueDate, truth.contains("due_unix")
                                    ? fixtures::formatUtcDateText(truth["due_unix"].get<double>())
                                    : "");
    EXPECT_EQ(reminder.completed, truth["completed"].get<bool>());
    EXPECT_EQ(reminder.startDate, "");
    EXPECT_TRUE(reminder.attendees.empty());
    completed += reminder.completed ? 1 : 0;
  }
  EXPECT_EQ(completed, 1);
  EXPECT_TRUE(r.logged.empty());
  EXPECT_EQ(folderFingerprint(built.backupFolder), before);
}

INSTANTIATE_TEST_SUITE_P(Schemas, CurrentCalendar,
                         testing::Values(CurrentCalendarCase{false, false},
                                         CurrentCalendarCase{false, true},
                                         CurrentCalendarCase{true, false}));

}  // namespace
