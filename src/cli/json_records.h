// Records as JSON objects, keyed by their property names; absent values are null.
#pragma once

#include <nlohmann/json.hpp>

#include "catalogue/device_node.h"
#include "catalogue/tree_dir_node.h"

nlohmann::json toJson(const MzIOSDeviceNode& node);
// A file-index record with whether its stored file exists.
nlohmann::json toJson(const MzTreeDirNode& record, bool storedFileExists);
