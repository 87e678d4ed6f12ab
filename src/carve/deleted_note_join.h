// The join of the deleted-notes step: one note to post per carved body, with the date and
// title of the carved note record of the body's note.
#pragma once

#include <memory>
#include <vector>

#include "extract/item_records.h"
#include "extract/scan_lists.h"

// The notes to post, one per body in order. Walking the note records with a previous id
// that starts at 0, a record whose id equals the previous one is raised by 1 (in
// `noteArray`, so the change stays); a body takes the date and title of the last record
// with its id. The body is cleaned as the live notes are (cleanNoteBody).
std::vector<std::shared_ptr<MzNoteNode>> assembleDeletedNotes(
    RecordList<MzNoteNode>& noteArray, const RecordList<MzNoteValueNode>& noteValueArray);
