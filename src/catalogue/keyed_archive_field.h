// One field of the root object of a keyed archive in binary property-list form, read without
// building the whole tree: the MBFile records of Manifest.db are read once per file of the
// backup, so this reader goes straight from the trailer to the root object's dictionary.
//
// The archive is a binary list ("bplist00") whose top dictionary holds "$objects" (an array)
// and "$top" ("root" is the UID of the root object in "$objects"). A field's value is inline,
// or a UID of another object of "$objects"; an NSData object is a dictionary with "NS.data".
// Every offset, count and reference is checked against the bytes before it is followed, and
// nothing is followed more than a fixed number of steps.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// The integer field `name` of the archive's root object; none when the bytes are not such an
// archive or the field is absent or of another kind.
std::optional<std::uint64_t> keyedArchiveInteger(std::span<const std::uint8_t> archive,
                                                 std::string_view name);

// The data field `name` of the archive's root object (inline data, or an NSData object it
// refers to); none as above.
std::optional<std::vector<std::uint8_t>> keyedArchiveData(std::span<const std::uint8_t> archive,
                                                          std::string_view name);
