// Reading the device's property-list values without surprises: each helper gives none when
// the node is missing or of another type.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <optional>
#include <string>

namespace amd {

std::optional<std::string> plistText(plist_t node);
std::optional<std::uint64_t> plistUnsigned(plist_t node);
// The member `key` of a dictionary node, or null.
plist_t plistMember(plist_t dictionary, const char* key);

}  // namespace amd
