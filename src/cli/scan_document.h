// The scan document: the whole result of a scan as one JSON object,
// {"backup": {...}, "counts": {category: {"live": n, "deleted": n}}, "contacts": [...],
//  "conversations": [...], "calls": [...], "notes": [...], "bookmarks": [...],
//  "calendar": [...], "photos": [...], "appPhotos": [...], "social": [...],
//  "problems": [{"file": ..., "reason": ...}]}, the last naming what could not be read.
// Readers rely on this layout: add to it, never rename.
#pragma once

#include <nlohmann/json.hpp>

#include "catalogue/device_node.h"
#include "cli/json_text.h"
#include "extract/scan_problems.h"
#include "results/result_view_controller.h"

nlohmann::json scanDocument(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                            const std::vector<ScanProblem>& problems);

// The records of one category as a JSON array; with `deletedOnly` only the deleted ones.
nlohmann::json categoryJson(const MzResultViewController& results, ResultCategory category,
                            bool deletedOnly);
