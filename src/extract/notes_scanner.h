// The notes step of a scan: one MzNoteNode per note of the Notes database, with its title,
// modification date and body text.
//
// The database is notes.sqlite (the Core Data store), else the older notes.db, found by its
// file keys or by its device path in the file index. Posts "ScanNoteInfo" per note and
// "ScanProgressInfo" 70 at the end, also when the database cannot be read; a backup without
// either file logs "NoteDB is not exist" and posts nothing. Reads a private copy of the
// database, never the backup folder.
//
// The body text is cleaned as the note list shows it (cleanNoteBody, note_body_text.h).
#pragma once

#include "extract/note_body_text.h"
#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanNoteThread(ScanContext& scan);
