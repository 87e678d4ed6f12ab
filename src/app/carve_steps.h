// The deleted-record steps of a scan: each finds its database as the live step does, folds
// its log into the scan's private copy, maps that copy (carve/page_walk.h) and hands it to
// its carver, then posts what the carver found to the scan's notification centre and lists.
//
// The carvers themselves (carve/) know nothing of the scan; these adapters are the only
// place where the two meet. Each step says how it ended: a database the backup does not hold
// is "database missing"; a copy that is cut short or not a database is still carved (that is
// what carving is for) and the step ends "truncated" or "unreadable" with the copy's reason.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "carve/page_walk.h"
#include "carve/signature_record_check.h"
#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanDelContactThread(ScanContext& scan);
StepOutcome scanDelMessageThread(ScanContext& scan);
StepOutcome scanDelNoteThread(ScanContext& scan);
StepOutcome scanDelCallHistoryThread(ScanContext& scan);
StepOutcome ScanDelBookMarkThread(ScanContext& scan);
StepOutcome ScanDelCalenderThread(ScanContext& scan);

// The contacts carving of the step on a database already in memory, posting to the scan the
// contacts `check` does not find misread. A contact without a name (or the carver's "Unknown",
// the values of a person whose row it did not find) is left out when it carries nothing, when
// a value holds a control byte (cut from the wrong place), when its person is one of
// `knownPersons` (a live person or one the schema carver read, whose values these are), or
// when the schema carver read the same place otherwise.
void carveDeletedContacts(const CarveDatabase& db, ScanContext& scan,
                          const carve::SignatureRecordCheck& check = {},
                          const std::unordered_set<std::int32_t>& knownPersons = {});
