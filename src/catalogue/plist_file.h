// Reading property-list files (XML or binary) into a small owned tree.
//
// The reader never throws and never reads a file larger than the limit it is given; a file
// that is missing, too large or not a property list gives none.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct PlistValue;
using PlistDict = std::map<std::string, PlistValue>;
using PlistArray = std::vector<PlistValue>;

// One value of a property list. Dates are seconds since 1970-01-01 UTC.
struct PlistDate {
  double secondsSince1970 = 0;
};

struct PlistValue {
  std::variant<std::monostate, bool, std::int64_t, double, std::string, PlistDate,
               std::vector<std::uint8_t>, std::shared_ptr<PlistArray>, std::shared_ptr<PlistDict>>
      value;

  const std::string* asString() const { return std::get_if<std::string>(&value); }
  const bool* asBool() const { return std::get_if<bool>(&value); }
  const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&value); }
  const PlistDict* asDict() const {
    auto p = std::get_if<std::shared_ptr<PlistDict>>(&value);
    return p ? p->get() : nullptr;
  }
  const PlistArray* asArray() const {
    auto p = std::get_if<std::shared_ptr<PlistArray>>(&value);
    return p ? p->get() : nullptr;
  }
};

inline constexpr std::uint64_t kMaxPlistFileSize = 64ull * 1024 * 1024;

// Parses property-list bytes of either kind.
std::optional<PlistValue> parsePlist(const std::uint8_t* data, std::size_t size);

// Reads a property-list file of either kind.
std::optional<PlistValue> readPlistFile(const std::string& path,
                                        std::uint64_t maxSize = kMaxPlistFileSize);

// The file read as a dictionary, or none when it is absent, unreadable or not a dictionary.
std::optional<PlistDict> readPlistDictionary(const std::string& path);

// Looks up a text value; none when the key is absent or holds another kind.
std::optional<std::string> plistString(const PlistDict& dict, const std::string& key);
// Looks up a boolean value; none when absent or of another kind.
std::optional<bool> plistBool(const PlistDict& dict, const std::string& key);
// Looks up a dictionary value; null when absent or of another kind.
const PlistDict* plistDict(const PlistDict& dict, const std::string& key);
