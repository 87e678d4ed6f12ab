// Reading property-list files (XML or binary) into a small owned tree.
//
// The reader never throws and never reads a file larger than the limit it is given; a file
// that is missing, too large, nested too deeply or not a property list gives none, and the
// caller may ask why.
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

// The largest property list read. Info.plist of a backup made by the sync software can carry
// several megabytes of its own data; Manifest.plist is smaller.
inline constexpr std::uint64_t kMaxPlistFileSize = 32ull * 1024 * 1024;
// Containers (arrays, dictionaries, sets) nested deeper than this are refused rather than
// followed, so that no reader of the tree runs out of stack.
inline constexpr int kMaxPlistNesting = 64;
// A binary list may refer to one object from many places; one that would unfold into more
// values (keys included) than this, or than it has bytes, is refused. Every value but the top
// one takes a reference of at least a byte unless objects are shared, so the second bound
// keeps the work in proportion to the file.
inline constexpr std::uint64_t kMaxPlistValues = 4ull * 1024 * 1024;

// Why a property list was not read.
enum class PlistRefusal {
  None,
  Missing,           // no such file
  Unreadable,        // not a regular file, or reading it failed
  TooLarge,          // more bytes than the limit
  NestedTooDeep,     // containers nested deeper than kMaxPlistNesting, or in a cycle
  TooManyValues,     // unfolds into more values than kMaxPlistValues or its bytes
  NotAPropertyList,  // malformed, or of neither kind
  NotADictionary,    // read, but the top value is not a dictionary
};

struct PlistProblem {
  PlistRefusal refusal = PlistRefusal::None;
  std::uint64_t size = 0;   // TooLarge: the size of the file or bytes
  std::uint64_t limit = 0;  // TooLarge: the most that is read
};

// The reason in a few words, e.g. "nested too deeply" or "too large (N bytes, at most M)".
std::string describePlistProblem(const PlistProblem& problem);

// Parses property-list bytes of either kind. `problem`, when given, says why none came back.
std::optional<PlistValue> parsePlist(const std::uint8_t* data, std::size_t size,
                                     PlistProblem* problem = nullptr);

// Reads a property-list file of either kind; `maxSize` lowers kMaxPlistFileSize.
std::optional<PlistValue> readPlistFile(const std::string& path,
                                        std::uint64_t maxSize = kMaxPlistFileSize,
                                        PlistProblem* problem = nullptr);

// The file read as a dictionary, or none when it is absent, unreadable or not a dictionary.
std::optional<PlistDict> readPlistDictionary(const std::string& path,
                                             PlistProblem* problem = nullptr);

// Looks up a text value; none when the key is absent or holds another kind.
std::optional<std::string> plistString(const PlistDict& dict, const std::string& key);
// Looks up a boolean value; none when absent or of another kind.
std::optional<bool> plistBool(const PlistDict& dict, const std::string& key);
// Looks up a date value; none when absent or of another kind.
std::optional<PlistDate> plistDate(const PlistDict& dict, const std::string& key);
// Looks up a dictionary value; null when absent or of another kind.
const PlistDict* plistDict(const PlistDict& dict, const std::string& key);
