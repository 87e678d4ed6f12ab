// The text of a JSON document exactly as doc.dump(2) writes it, made faster for the scan
// document, which runs to tens of megabytes of records: runs of plain text are copied whole
// instead of going through the library's writer one byte at a time.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

// doc.dump(2), byte for byte. What this writer does not write itself (binary values, text
// that is not UTF-8) is left to doc.dump(2), which then gives its own text or exception.
std::string indentedJsonText(const nlohmann::json& doc);

// Appends `value` to `out` as doc.dump(2) writes it where it stands nested `indent` spaces
// deep, so that a large document can be written piece by piece. What this writer leaves to
// the library is written by the library's own serializer at that depth, with the text or the
// exception doc.dump(2) would give.
void appendIndentedJson(std::string& out, const nlohmann::json& value, std::size_t indent);
