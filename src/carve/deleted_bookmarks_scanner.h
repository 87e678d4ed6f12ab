// The deleted-bookmarks step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
//
// Where a table leaf page's live first cell has one of the bookmarks table's real widths
// (21 columns on iOS 5 and 6, 29 on iOS 7), the page's free space (the gap before the cell
// content and every freeblock) is searched for freed records at that width: the serial
// types from the second column on (a freeblock header overwrites a freed cell's first four
// bytes), each of a kind its column holds, with a title and URL that are clean UTF-8 text
// and a URL that is an address (scheme:...). At the width the first such page shows, the
// pages no live record uses are searched the same way: freelist trunks after their entries,
// freelist leaves whole, and the free space of table interior pages (bytes left from their
// time as leaves). A record read out of one of these says which kind of place it lay in: a
// freeblock, the unallocated gap of its page, or a freelist page.
//
// Other pages keep the older layouts (serial-type counts 11, 19 and 24): each starts with the width
// its first live record suggests and may switch between 19 and 24 as the header-length bytes before
// its candidates say, once per page. A candidate is a run of one-byte integer columns right after
// the title and URL columns; the title and URL are read back from there. Every carved bookmark is
// posted
// ("scanDelBookMarkInfo") except the two top folders, "Root" and "com.apple.ReadingList";
// "ScanProgressInfo" 95 follows at the end.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "carve/database_image.h"
#include "carve/page_walk.h"
#include "extract/item_records.h"
#include "extract/scan_lists.h"

// The carving itself, for tests, the fuzz target and the benchmark: every bookmark record
// carved from the table leaf pages of `db`, in file order, the two top folders included.
std::vector<std::shared_ptr<MzBookMarkNode>> carveDeletedBookmarks(const CarveDatabase& db);

// True for the titles of the two top folders, which are never posted.
bool isTopBookmarkFolder(const MzBookMarkNode& bookmark);

// ---- Byte probes of the bookmark layouts -----------------------------------------------------

// The byte at `offset`: 0x14..0x16 give 1, 0x19..0x1B give 2; 0x00 goes by the byte c
// before it (1 when c is 16..24, 2 when 25 or more, else 0); any other byte gives 0 unless
// the byte after it is 0x00, in which case it goes by the byte two before `offset` as for
// 0x00.
int bBookMarkTableAlter(const DatabaseImage& file, std::int64_t offset);
// X is the byte just before the nearest 0x00 byte at or before `offset`. With 19: 1 when
// X is 0x14..0x17; with 24: 1 when X is 0x19..0x1C; 0 when X is 0x00; otherwise, and for
// any other length, -1.
int getMarkBookLength(const DatabaseImage& file, std::int64_t offset, int length);
// 0 when the byte is 0x01, else the distance back to the nearest 0x01 byte before `offset`
// (1 when the byte just before is 0x01). Looks back no further than 8 bytes; a 0x01 byte
// not found there gives 9 (callers only tell 0, 1 and 2 apart from "more").
std::int64_t TitleAndUrlIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset);
// With 24: true unless the byte is 0x01 or 0x00; otherwise false.
bool IsExtra_AttributeAlter(const DatabaseImage& file, std::int64_t offset, int length);
// With 24: true when neither the byte nor the byte after it is 0x01 or 0x00; otherwise
// false.
bool IsServer_IDAlter(const DatabaseImage& file, std::int64_t offset, int length);
