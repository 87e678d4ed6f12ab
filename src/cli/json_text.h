// The text of a JSON document exactly as doc.dump(2) writes it, made faster for the scan
// document, which runs to tens of megabytes of records: runs of plain text are copied whole
// instead of going through the library's writer one byte at a time.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

// doc.dump(2), byte for byte. What this writer does not write itself (binary values, text
// that is not UTF-8) is left to doc.dump(2), which then gives its own text or exception.
std::string indentedJsonText(const nlohmann::json& doc);
