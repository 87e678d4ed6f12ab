// The calendar step of a scan: one MzCalenderNode per event of Calendar.sqlitedb, with its
// title, location, description, start and end.
//
// A database whose CalendarItem table has the current columns (current_calendar.h) is read by
// the current reader, whatever the OS version says: events and reminders with their
// calendar, location title and attendees, one record each. Older databases are read with the
// texts below, as before.
//
// Their query depends on the database layout the backup's OS version promises: on iOS 6 and 7
// (currentNodeIsiOS6Version) every CalendarItem row, its location as the Location row id; on
// older versions CalendarItem joined with its Location title and its Calendar, leaving out
// reminder lists, else the old Event table. When the texts of the promised layout cannot be
// prepared or give no rows, those of the other layout are tried: a backup of a later version
// whose table lacks the current columns does not count as iOS 6 or 7 yet keeps that layout.
//
// The database is found by its file key or by its device path in the file index. Posts
// "scanCalenderInfo" per item and no progress value; a backup without the database logs
// "CalenderDB is not exist". Reads a private copy of the database, never the backup folder.
#pragma once

#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanCalenderThread(ScanContext& scan);
