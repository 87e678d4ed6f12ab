// The calls step of a scan: one MzCallHistoryNode per row of the call history, with the
// number, date, direction, duration and the name of the contact the number belongs to.
//
// Current devices (iOS 8 and later) keep their calls in the Core Data store
// CallHistory.storedata (HomeDomain Library/CallHistoryDB, table ZCALLRECORD); its rows also
// give the kind of call (phone, FaceTime audio or video, or the app that placed it). Older
// ones keep call_history.db (WirelessDomain, else HomeDomain). Each is found by its file keys
// or by its device path in the file index; the store is read when it has ZCALLRECORD, and
// call_history.db otherwise. Posts "ScanCallHistoryInfo" per call and
// "ScanProgressInfo" 60 at the end, also when the database cannot be read; a backup without
// the database ends the step silently. Names come from lists.contactArray, so the contacts
// step must have run. Reads a private copy of the database, never the backup folder.
#pragma once

#include <cstdint>
#include <string>

#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanCallHistoryThread(ScanContext& scan);

// The duration text of `seconds`, largest unit only: "2 hours", "1 hour", "5 minutes",
// "1 minute", "59 seconds", "1 second", "0 second". A negative count (an unknown duration)
// gives the empty text.
std::string getCallHistoryDuration(std::int32_t seconds);
