// Records as JSON objects keyed by their property names. Absent values are null; byte
// buffers are written as their byte count. The keys are a contract with the readers of the
// scan document: add to them, never rename.
#pragma once

#include <nlohmann/json.hpp>

#include "catalogue/device_node.h"
#include "catalogue/tree_dir_node.h"
#include "extract/item_records.h"

nlohmann::json toJson(const MzIOSDeviceNode& node);
// A file-index record with whether its stored file exists.
nlohmann::json toJson(const MzTreeDirNode& record, bool storedFileExists);

nlohmann::json toJson(const MzContactNode& r);
nlohmann::json toJson(const MzMessageNode& r);
// A conversation with its messages under "MessageNodeArray".
nlohmann::json toJson(const MzMessageTreeNode& r);
nlohmann::json toJson(const MzCallHistoryNode& r);
nlohmann::json toJson(const MzNoteNode& r);
nlohmann::json toJson(const MzBookMarkNode& r);
nlohmann::json toJson(const MzCalenderNode& r);
nlohmann::json toJson(const MzPhotoAndVideoNode& r);
// Appends the text appendIndentedJson(out, toJson(r), indent) gives, written directly (a
// current camera roll has tens of thousands of these); false, with `out` as it was, when a
// text of the record is not UTF-8 and so is left to the library.
bool appendRecordJson(std::string& out, const MzPhotoAndVideoNode& r, std::size_t indent);
nlohmann::json toJson(const MzFaceTwitterNode& r);
