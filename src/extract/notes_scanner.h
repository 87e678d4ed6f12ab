// The notes step of a scan: one MzNoteNode per note of the Notes database, with its title,
// modification date and body text.
//
// A backup that holds the current store (NoteStore.sqlite in the Notes group container,
// iOS 9 and later) is read from it alone. Its notes are the ZICCLOUDSYNCINGOBJECT rows that
// have note data; each gets its folder, the folder's account, its creation date and its body
// from the gzipped protobuf of ZICNOTEDATA (note_store_body.h). The store's columns carry
// numbered names that move between versions (ZTITLE1, ZCREATIONDATE3, ...), so they are
// taken from the table's column list by name and number, never from a fixed list. A
// password-protected note is listed with its title and dates, marked locked, without a body.
// A note marked for deletion or lying in the Recently Deleted folder is posted as a deleted
// note ("ScanDelNoteInfo"), as the carved ones are.
//
// Otherwise the database is notes.sqlite (the Core Data store), else the older notes.db,
// found by its file keys or by its device path in the file index. Posts "ScanNoteInfo" per
// note and "ScanProgressInfo" 70 at the end, also when the database cannot be read; a backup
// without either file logs "NoteDB is not exist" and posts nothing. Reads a private copy of
// the database, never the backup folder.
//
// The older stores' body text is cleaned as the note list shows it (cleanNoteBody,
// note_body_text.h); the current store's body is plain text and kept as it is.
#pragma once

#include "extract/note_body_text.h"
#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanNoteThread(ScanContext& scan);
