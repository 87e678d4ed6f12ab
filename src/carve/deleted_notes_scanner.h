// Deleted notes: the parts of the carver, for the scan's deleted-notes step
// (app/carve_steps.h), which carves freed records out of the raw pages of the database's
// private copy and posts each one.
//
// A note lives in two tables: a note record (id, modification date, title) and a body
// record (the note's id and its HTML body). The step carves both kinds from every table
// leaf page into the scan's noteArray and noteValueArray (note_page_carver.h), then posts one
// note per carved body ("ScanDelNoteInfo"), with the date and title of the carved note
// record of the same id (deleted_note_join.h), and "ScanProgressInfo" 85 at the end. Only
// bodies are posted; a note record without a body is never shown on its own.
#pragma once

#include "carve/deleted_note_join.h"
#include "carve/note_page_carver.h"
#include "carve/note_record_layouts.h"
