// The deleted-calls step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
//
// The database is call_history.db (key 2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca, then
// ff1324e6b949111b2fb449ecddb50c89c3699a78, else its device path in the file index); a
// backup without it logs "messageDB is not exist" and ends without notifications. Table
// and index leaf pages whose first cell looks like a call record are probed at every byte
// for the serial types of a call's flags and contact id; from each match the carver steps
// back four bytes to the header start and reads number, date, duration and flags. Each call
// is posted as "ScanDelCallHistoryInfo" with its duration text and the name of the contact
// the number belongs to; "ScanProgressInfo" 90 follows the last one.
//
// The serial-type count (where the bodies start) is 13 on iOS 6 and later
// (currentNodeIsiOS6Version); older backups take it from the header length of the page's
// first cell or of the record itself. Where the page's live first cell can be read, its
// column count is used instead (iOS 7 added the column "answered"), so the bodies are not
// read a byte early.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "carve/database_image.h"
#include "carve/page_walk.h"
#include "extract/item_records.h"
#include "extract/scan_context.h"

void scanDelCallHistoryThread(ScanContext& scan);

using CallHistoryPost = std::function<void(std::shared_ptr<MzCallHistoryNode>)>;
using CallNameLookup = std::function<std::optional<std::string>(const std::string& phone)>;

// The carving itself, for tests, the fuzz target and the benchmark: hands every call carved
// from `db` to `post`, in page order, its name looked up through `nameOf` (none: no names).
// Returns how many were carved.
std::int64_t carveDeletedCalls(const CarveDatabase& db, bool currentNodeIsiOS6Version,
                               const CallNameLookup& nameOf, const CallHistoryPost& post);

// The number of columns of the record in the table leaf cell at `cell` (payload-length and
// rowid varints, then the record header), or 0 when the header does not parse: a length
// below 2 or above 2048, serial types that do not end where the header length says, or a
// header and bodies that do not fill the payload exactly.
std::int64_t cellColumnCount(const DatabaseImage& file, std::int64_t cell);

// ---- Byte probes of the call layout ---------------------------------------------------------

// The value c of the byte just before the nearest 0x00 byte at or before `offset` (bytes
// before the file count as 0x00): 7 when c is 7 or 8, c - 1 when c is 9..11, else 0.
std::int64_t accquireFieldLength(const DatabaseImage& file, std::int64_t offset);
// True when the byte at `offset` is 0x11.
bool accquireField(const DatabaseImage& file, std::int64_t offset);
