// Reading XML property lists into the owned tree of plist_file.h.
//
// The reader keeps its own stack instead of recursing, refuses containers nested deeper than
// kMaxPlistNesting, and does work proportional to the size of the text: each dictionary is
// filled in O(n log n) whatever its number of keys.
#pragma once

#include <optional>
#include <string_view>

#include "catalogue/plist_file.h"

// The value of an XML property list, or none with `refusal` set (NotAPropertyList or
// NestedTooDeep) when the text is malformed or nested too deeply. `refusal` may be null.
std::optional<PlistValue> parseXmlPlist(std::string_view text, PlistRefusal* refusal);
