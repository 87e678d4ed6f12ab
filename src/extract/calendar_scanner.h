// The calendar step of a scan: one MzCalenderNode per event of Calendar.sqlitedb, with its
// title, location, description, start and end.
//
// A database whose CalendarItem table has the columns of iOS 8 and later is read by the
// current reader (current_calendar.h): events and reminders with their calendar, location
// title and attendees. Older databases are read with the texts below.
//
// The query depends on the database layout the backup's OS version promises: on iOS 6 and 7
// (currentNodeIsiOS6Version) every CalendarItem row, its location as the Location row id; on
// older versions CalendarItem joined with its Location title and its Calendar, leaving out
// reminder lists, else the old Event table. When the texts of the promised layout cannot be
// prepared or give no rows, those of the other layout are tried: iOS 8 and 9 backups do not
// count as iOS 6 or 7 yet keep the same layout.
//
// The database is found by its file key or by its device path in the file index. Posts
// "scanCalenderInfo" per event and no progress value; a backup without the database logs
// "CalenderDB is not exist". Reads a private copy of the database, never the backup folder.
#pragma once

#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanCalenderThread(ScanContext& scan);
