// The deleted-calendar step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
//
// The calendar database is Calendar.sqlitedb (key 2041457d5fe04d39d0ab481178355df6781e6858,
// else its device path in the file index); a backup without it logs "NoteDB is not exist"
// and ends without notifications. Every table leaf page whose first cell looks like an
// event record is probed at every byte for the run of empty integer columns that follows
// an event's dates and owners; from each match the carver steps back to the record header
// and reads title, note, start and end (and, in the layout without write-ahead log, the
// location). Each event is posted as "scanDelCalenderInfo"; "ScanProgressInfo" 100 follows
// the last one.
//
// The layout is chosen by the header's write version (offset 18; 2 = write-ahead log), the
// serial-type counts of the write-ahead layout by currentNodeIsiOS6Version. Both layouts
// were made for tables of fixed widths (31, 41 and 51 columns); where a page's live first
// cell shows another width (iOS 7's 52 columns), that width is used, so the bodies are not
// read from the wrong place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "carve/database_image.h"
#include "carve/page_walk.h"
#include "extract/item_records.h"
#include "extract/scan_lists.h"

using CalenderPost = std::function<void(std::shared_ptr<MzCalenderNode>)>;

// The carving itself, for tests, the fuzz target and the benchmark: hands every event
// carved from `db` to `post`, in page order. `writeAhead` chooses the layout as the
// header's write version does. Returns how many were carved.
//
// A file of many pages is carved by two threads taking runs of pages in turn (`oneCarver`:
// by this thread alone, for comparison). `post` is called on the caller's thread only, each
// run's events once the runs before it are posted: the events and their order are those of
// one carver going through the pages alone.
std::int64_t carveDeletedCalendarEvents(const CarveDatabase& db, bool writeAhead,
                                        bool currentNodeIsiOS6Version, const CalenderPost& post,
                                        bool oneCarver = false);

// ---- Byte probes of the event layouts (each reads the byte at `offset`) --------------------

// Version 1: true unless the byte is 0x08, 0x00, 0x01 or 0x09. Other versions: true when the
// byte is 0x80..0x89 (the first byte of a two-byte serial type).
bool DescriptionIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset, int Version);
// True unless the byte is 0x00.
bool TitileIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset);
// The byte value c taken as a header length: version 0 gives c - 1 when c is 32..35,
// version 1 gives c - 1 when c is 42..45; otherwise, and for other versions, 0.
std::int64_t accquireFieldLengthVersion(const DatabaseImage& file, std::int64_t offset,
                                        int version);
// With `length` 24: true unless the byte is 0x01 or 0x00. Otherwise false.
bool IsExtra_AttributeAlter(const DatabaseImage& file, std::int64_t offset, std::int64_t length);
// With version 1: true unless the byte is 0x00. Otherwise false.
bool unique_identifAlter(const DatabaseImage& file, std::int64_t offset, int version);
