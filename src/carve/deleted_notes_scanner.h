// The deleted-notes step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
//
// A note lives in two tables: a note record (id, modification date, title) and a body
// record (the note's id and its HTML body). The step carves both kinds from every table
// leaf page into the scan's noteArray and noteValueArray, then posts one note per carved
// body ("ScanDelNoteInfo"), with the date and title of the carved note record of the same
// id, and "ScanProgressInfo" 85 at the end. Only bodies are posted; a note record without
// a body is never shown on its own.
//
// Which note-record layout applies is chosen by the header's write version (offset 18:
// 2 for write-ahead logging) and, within the write-ahead branch, by the iOS 7 flag. Body
// records have one layout, whose owner id is a one-byte integer up to the 127th note, a
// two-byte one from the 128th on and a three-byte one from the 32768th on (each only in the
// range its size is written for). Where the header gives schema format 4 (offset 44), the layouts
// also take the records as that format writes them: the integers 0 and 1 as the bodiless
// serial types 8 and 9 where format 1 writes type 1 with a one-byte body.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "carve/database_image.h"
#include "carve/page_walk.h"
#include "extract/item_records.h"
#include "extract/scan_context.h"

void scanDelNoteThread(ScanContext& scan);

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

// The notes to post, one per body in order. Walking the note records with a previous id
// that starts at 0, a record whose id equals the previous one is raised by 1 (in
// `noteArray`, so the change stays); a body takes the date and title of the last record
// with its id. The body is cleaned as the live notes are (cleanNoteBody).
std::vector<std::shared_ptr<MzNoteNode>> assembleDeletedNotes(
    RecordList<MzNoteNode>& noteArray, const RecordList<MzNoteValueNode>& noteValueArray);

// The offsets k in [0, n), ascending, at which a note or body signature may begin: byte k is
// 0x01, byte k + 1 a small integer column (0x01, or 0x08 and 0x09 with `bodiless`) and byte
// k + 2 a small, two-byte or three-byte integer column (0x01, 0x02, 0x03, and with
// `bodiless` 0x08 and 0x09). Every offset a signature accepts is among them. Reads n + 2
// bytes from `bytes`. Replaces the contents of `out`.
void findNoteCandidates(const std::uint8_t* bytes, std::size_t n, bool bodiless,
                        std::vector<std::uint32_t>& out);

// cleanNoteBody(body), worked out in one pass over the body where that gives the same text.
// cleanNoteBody makes five passes, one per mark, and a mark removed by an earlier pass can
// join its neighbours into a mark a later pass then finds ("</<div>div>" loses both). Marks
// only begin with '<' or '&', neither of which occurs inside a mark, so the marks of the body
// never overlap and one pass that handles each where it stands gives the same text unless a
// removal ("<div>", "</div>") leaves a '<' or '&' that begins no mark within the five
// characters before the join; such a body is cleaned by cleanNoteBody itself.
std::string cleanDeletedNoteBody(const std::string& body);

// ---- Byte probes of the note layouts (each reads the bytes at `offset`) --------------------

// 19 when the byte is 0x00, else 15.
int CheckTitlePostion(const DatabaseImage& file, std::int64_t offset);
// With 19: 1 when the byte is not 0x03 and the byte after it is not 0x01, else 0. With 15:
// the distance from `offset` to the first 0x00 byte at or after it. Other values: 0.
std::int64_t checkTitleAlterable(const DatabaseImage& file, std::int64_t offset, int postion);
// With version 0: 0 when the byte is 0x03, else the distance to the next 0x03 byte after
// `offset`. Other versions: 0.
std::int64_t CheckAlterSummary(const DatabaseImage& file, std::int64_t offset, int version);
// The version form of bIsAlterbleDBFile: with version 1, 0 when the byte is 0x03, else the
// distance to the next 0x03 byte; with version 0 the same for 0x00. Other versions: 0.
std::int64_t bIsAlterbleDBFileVersion(const DatabaseImage& file, std::int64_t offset, int version);
// 1 when the byte value is 121 to 136, else 0.
int bIsbSummeryChanged(const DatabaseImage& file, std::int64_t offset);
int bIsbTitleChanged(const DatabaseImage& file, std::int64_t offset);
// True when the byte at offset + 3 is 0x10 or more and the byte at offset + 4 or at
// offset + 5 is 0x00.
bool CheckNoteBodyMark(const DatabaseImage& file, std::int64_t offset);

// The distance probes above look no further than this many bytes: every caller only tells
// 0, 1 and 2 apart from "more", and a bound keeps a page without the sought byte from
// costing a walk to the end of the file for every candidate. A byte not found within the
// bound gives kProbeReach + 1.
inline constexpr std::int64_t kProbeReach = 64;
