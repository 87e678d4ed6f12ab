// The text of a JSON document exactly as doc.dump(2) writes it, made faster for the scan
// document, which runs to tens of megabytes of records: runs of plain text are copied whole
// instead of going through the library's writer one byte at a time.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// doc.dump(2), byte for byte. What this writer does not write itself (binary values, text
// that is not UTF-8) is left to the library's dump(2), told to write each byte that is not
// UTF-8 as U+FFFD: text carved out of free space can hold any bytes, and one such byte must
// not cost the whole document.
std::string indentedJsonText(const nlohmann::json& doc);

// Appends `value` to `out` as doc.dump(2) writes it where it stands nested `indent` spaces
// deep, so that a large document can be written piece by piece. What this writer leaves to
// the library is written by the library's own serializer at that depth, as indentedJsonText
// writes it.
void appendIndentedJson(std::string& out, const nlohmann::json& value, std::size_t indent);

// Appends `text` as a JSON string (quoted and escaped as dump(2) writes it) and returns true;
// false, with `out` as it was, when the text is not well-formed UTF-8 (the caller then leaves
// the value to the library).
bool appendJsonString(std::string& out, std::string_view text);
