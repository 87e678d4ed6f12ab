// The page carver of the deleted-notes step: carves the note records and body records of
// every table leaf page of the notes store.
//
// Which note-record layout applies is chosen by the header's write version (offset 18:
// 2 for write-ahead logging) and, within the write-ahead branch, by the iOS 7 flag. Body
// records have one layout, whose owner id is a one-byte integer up to the 127th note, a
// two-byte one from the 128th on and a three-byte one from the 32768th on (each only in the
// range its size is written for). Where the header gives schema format 4 (offset 44), the
// layouts also take the records as that format writes them: the integers 0 and 1 as the
// bodiless serial types 8 and 9 where format 1 writes type 1 with a one-byte body.
#pragma once

#include "carve/page_walk.h"
#include "extract/item_records.h"
#include "extract/scan_lists.h"

// The carving itself, for tests, the fuzz target and the benchmark: appends the note
// records and body records of every table leaf page of `db` to the two lists. `writeAhead`
// chooses the note-record layout as the header's write version does, `iOS7` the layout of
// the write-ahead branch.
//
// A file of many pages is carved by two threads taking runs of pages in turn (`oneCarver`:
// by this thread alone, for comparison); the lists are filled on the caller's thread, in
// page order, with what one carver going through the pages alone appends.
void carveDeletedNotePages(const CarveDatabase& db, bool writeAhead, bool iOS7,
                           RecordList<MzNoteNode>& noteArray,
                           RecordList<MzNoteValueNode>& noteValueArray, bool oneCarver = false);
