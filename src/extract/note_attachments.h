// The attachments of the current Notes store (NoteStore.sqlite) and the stored files behind
// them.
//
// An attachment is a row of ZICCLOUDSYNCINGOBJECT with a type (ZTYPEUTI) that belongs to a
// note (ZNOTE, or through its parent ZPARENTATTACHMENT for the pages of a scan). A picture or
// document points at a media row (ZMEDIA) whose ZIDENTIFIER names the folder the file lies
// in and whose ZFILENAME is the file's name; a drawing keeps a rendered fallback image named
// by the attachment's own ZIDENTIFIER. The app's container holds them as
//   [Accounts/<account>/]Media/<media id>/[<generation>/]<file name>
//   [Accounts/<account>/]FallbackImages/<attachment id>.jpg|.png  (or a folder of that name)
// so the files are found by those identifiers in the backup's file index, whichever layout
// the device wrote.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/sqlite_reader.h"
#include "catalogue/tree_dir_node.h"
#include "extract/item_records.h"

// The domain of the Notes app's shared container.
inline constexpr const char* kNotesContainerDomain = "AppDomainGroup-group.com.apple.notes";

// The attachments with a file (a media row or a fallback image in the backup) of every note
// of the open store, by the note's Z_PK, in row order. Attachments without a file of their
// own (tables, links, the scan that only groups its pages) are left out. A store without
// the attachment columns gives none.
std::unordered_map<std::int64_t, std::vector<MzNoteAttachment>> readNoteAttachments(
    const SqliteDatabase& db, const FileIndex& index);
