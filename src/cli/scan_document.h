// The scan document: the whole result of a scan as one JSON object,
// {"backup": {...}, "counts": {category: {"live": n, "deleted": n}}, "contacts": [...],
//  "conversations": [...], "calls": [...], "notes": [...], "bookmarks": [...],
//  "calendar": [...], "photos": [...], "appPhotos": [...], "social": [...],
//  "problems": [{"file": ..., "reason": ...}]}, the last naming what could not be read.
// Readers rely on this layout: add to it, never rename.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string_view>

#include "catalogue/device_node.h"
#include "cli/json_text.h"
#include "extract/scan_problems.h"
#include "results/result_view_controller.h"

nlohmann::json scanDocument(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                            const std::vector<ScanProblem>& problems);

// The text of scanDocument(...) as indentedJsonText gives it, with a newline after it, made
// record by record and handed to `write` in pieces of about a megabyte: the document of a
// large backup runs to tens of megabytes, and neither it nor its text is held whole. Stops
// when `write` returns false and returns false then; true when every piece was written.
// Bytes of a text that are not UTF-8 (text carved out of free space can hold any) are
// written as U+FFFD, as by indentedJsonText.
bool writeScanDocument(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                       const std::vector<ScanProblem>& problems,
                       const std::function<bool(std::string_view)>& write);

// The records of one category as a JSON array; with `deletedOnly` only the deleted ones.
nlohmann::json categoryJson(const MzResultViewController& results, ResultCategory category,
                            bool deletedOnly);
