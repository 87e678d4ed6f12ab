// The contacts step of a scan: one MzContactNode per person of the contacts database, with
// phone numbers, e-mail, web and postal addresses, company, birthday, note and picture.
//
// Posts "ScanContactInfo" per person and "ScanProgressInfo" 40 at the end (not when the
// database is missing), and leaves every person in lists.contactArray for the name lookups
// of the later steps. Reads private copies of the databases, never the backup folder.
#pragma once

#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanContactThread(ScanContext& scan);
