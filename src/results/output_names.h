// Names of recovered files: made safe from the data they come from, and unique in their folder.
//
// Names of contacts, conversations, media and device paths come from the device's data and
// may hold anything. A name made here never contains a path separator, never is "." or "..",
// and holds no NUL or other control character, so every file of a recovery stays inside the
// chosen output folder. Within a folder no recovered file replaces another: a taken name is
// followed by "INDEX_NAME", then "INDEX_N_NAME" with N = 2, 3, ... until a name is free.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// One path component from a name of the data: "/", "\\", NUL and control characters
// (0x01-0x1F, 0x7F) become "_", "." and ".." become "_" and "__", an empty name becomes "_",
// and a name longer than 200 bytes is cut at a UTF-8 character boundary, keeping its
// extension (the text after the last "." when it is at most 16 bytes long).
std::string safeFileName(std::string_view name);

// A relative path from a domain and device path joined by "/": every component goes through
// safeFileName, so "." and ".." stay visible as "_" and "__" and never step between folders;
// empty components are dropped, except a last one after a "/", which becomes "_". None when
// nothing is left.
std::optional<std::string> safeRelativePath(std::string_view path);

// The k-th name tried for `name` (already safe) with the record's index in its list:
// k = 0 the name itself, k = 1 "INDEX_NAME", k >= 2 "INDEX_K_NAME".
std::string candidateName(const std::string& name, std::size_t index, std::size_t k);

// Tries the candidates of `name` in order until `place` (given a candidate name) succeeds or
// fails for a reason other than a taken name. `place` returns 0 on success, EEXIST when the
// name is taken, or another errno value. Returns the name placed, or none with `*error` set
// to the errno value of the failure.
std::optional<std::string> placeUniqueName(const std::string& name, std::size_t index,
                                           const std::function<int(const std::string& name)>& place,
                                           int* error);
