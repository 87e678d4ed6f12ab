#include "catalogue/plist_file.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

#include "catalogue/xml_plist_reader.h"

namespace {

struct PlistDeleter {
  void operator()(plist_t p) const {
    if (p) plist_free(p);
  }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
// An iterator or a key that libplist hands out to be released with free().
using FreeHandle = std::unique_ptr<void, FreeDeleter>;

// Big-endian unsigned number of `size` bytes at `at`, or none when it does not fit `data`.
std::optional<std::uint64_t> bigEndianAt(const std::uint8_t* data, std::size_t size,
                                         std::uint64_t at, std::size_t width) {
  if (width == 0 || width > 8 || at > size || size - at < width) return std::nullopt;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v = (v << 8) | data[at + i];
  return v;
}

// The trailer of a binary property list: the widths of offsets and object references, the
// number of objects, the top object and where the offset table starts.
struct BinaryTrailer {
  std::size_t offsetWidth = 0;
  std::size_t refWidth = 0;
  std::uint64_t count = 0;
  std::uint64_t top = 0;
  std::uint64_t table = 0;
};

// The trailer, or none when it is not usable: the offset table must lie within the bytes.
std::optional<BinaryTrailer> binaryTrailer(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 8, kTrailer = 32;
  if (size < kHeader + kTrailer) return std::nullopt;
  const std::uint8_t* trailer = data + size - kTrailer;
  BinaryTrailer t;
  t.offsetWidth = trailer[6];
  t.refWidth = trailer[7];
  auto count = bigEndianAt(trailer, kTrailer, 8, 8);
  auto top = bigEndianAt(trailer, kTrailer, 16, 8);
  auto table = bigEndianAt(trailer, kTrailer, 24, 8);
  if (!count || !top || !table || t.offsetWidth == 0 || t.offsetWidth > 8) return std::nullopt;
  if (*table > size || (size - *table) / t.offsetWidth < *count) return std::nullopt;
  t.count = *count;
  t.top = *top;
  t.table = *table;
  return t;
}

// The count of an object whose marker ends in the four bits `nibble`: those bits, or when
// they are 0xF the integer object that follows the marker. `at` is just past the marker and
// moves past the count.
std::optional<std::uint64_t> objectCount(const std::uint8_t* data, std::size_t size,
                                         std::uint64_t& at, std::uint8_t nibble) {
  if (nibble != 0xF) return nibble;
  if (at >= size || (data[at] >> 4) != 0x1 || (data[at] & 0xF) > 3) return std::nullopt;
  const std::size_t width = std::size_t{1} << (data[at] & 0xF);
  auto n = bigEndianAt(data, size, at + 1, width);
  if (n) at += 1 + width;
  return n;
}

// Whether a binary property list holds a UTF-16 string with a U+0000 in it. libplist 2.2
// turns such a string into UTF-8 with a NUL inside and, when the string is a dictionary
// key, aborts the process on an assertion as soon as the key is read; such a file is
// refused instead. Only the object table is looked at; anything malformed is left to the
// parser, which refuses it on its own.
bool binaryPlistHasNulInUtf16(const std::uint8_t* data, std::size_t size) {
  auto trailer = binaryTrailer(data, size);
  if (!trailer) return false;
  for (std::uint64_t i = 0; i < trailer->count; ++i) {
    auto offset =
        bigEndianAt(data, size, trailer->table + i * trailer->offsetWidth, trailer->offsetWidth);
    if (!offset || *offset >= size) continue;
    const std::uint8_t marker = data[*offset];
    if ((marker >> 4) != 0x6) continue;  // not a UTF-16 string
    std::uint64_t at = *offset + 1;
    auto length = objectCount(data, size, at, marker & 0xF);
    if (!length || at > size || (size - at) / 2 < *length) continue;
    for (std::uint64_t c = 0; c < *length; ++c) {
      if (data[at + 2 * c] == 0 && data[at + 2 * c + 1] == 0) return true;
    }
  }
  return false;
}

// Follows the object references of a binary property list from its top object, without
// recursion and each object once (what lies below an object is remembered), and refuses a
// list whose containers nest deeper than kMaxPlistNesting (a cycle nests without end) or
// that unfolds into more values than kMaxPlistValues or its size; a reference, offset or
// count that points outside the bytes makes it not a property list. libplist 2.2 itself
// recurses once per level and parses a shared object again for every reference to it.
PlistRefusal binaryPlistShape(const std::uint8_t* data, std::size_t size) {
  auto t = binaryTrailer(data, size);
  if (!t || t->top >= t->count || t->refWidth == 0 || t->refWidth > 8) {
    return PlistRefusal::NotAPropertyList;
  }
  // Per object: kNew until reached, kOpen while its references are followed, then one more
  // than the number of containers on the deepest path from it (at most kMaxPlistNesting).
  constexpr std::uint8_t kNew = 0, kOpen = 0xFF;
  std::vector<std::uint8_t> nesting(t->count, kNew);
  std::vector<std::uint32_t> values(t->count, 0);  // values the object unfolds into
  struct Open {
    std::uint64_t object, refsAt, refs, next = 0;
    std::uint8_t deepest = 0;  // containers on the deepest path below it so far
    std::uint64_t values = 1;
  };
  std::vector<Open> stack;
  const std::uint64_t maxValues = std::min<std::uint64_t>(kMaxPlistValues, size);

  // A container reached is opened on the stack; any other object is done at once.
  auto reach = [&](std::uint64_t object) {
    auto offset = bigEndianAt(data, size, t->table + object * t->offsetWidth, t->offsetWidth);
    if (!offset || *offset >= size) return PlistRefusal::NotAPropertyList;
    const std::uint8_t marker = data[*offset];
    const int kind = marker >> 4;  // 0xA array, 0xB ordered set, 0xC set, 0xD dictionary
    if (kind < 0xA || kind > 0xD) {
      nesting[object] = 1;
      values[object] = 1;
      return PlistRefusal::None;
    }
    std::uint64_t at = *offset + 1;
    auto count = objectCount(data, size, at, marker & 0xF);
    const std::uint64_t perEntry = kind == 0xD ? 2 : 1;  // a key and a value
    if (!count || at > size || (size - at) / t->refWidth / perEntry < *count) {
      return PlistRefusal::NotAPropertyList;
    }
    if (stack.size() >= static_cast<std::size_t>(kMaxPlistNesting)) {
      return PlistRefusal::NestedTooDeep;
    }
    nesting[object] = kOpen;
    stack.push_back(Open{object, at, *count * perEntry});
    return PlistRefusal::None;
  };
  // Adds what is known of a done object to the container that refers to it.
  auto fold = [&](Open& into, std::uint64_t object) {
    into.deepest = std::max<std::uint8_t>(into.deepest, nesting[object] - 1);
    into.values += values[object];
    return into.values <= maxValues;
  };

  if (auto r = reach(t->top); r != PlistRefusal::None) return r;
  while (!stack.empty()) {
    Open& top = stack.back();
    if (top.next < top.refs) {
      auto ref = bigEndianAt(data, size, top.refsAt + top.next * t->refWidth, t->refWidth);
      ++top.next;
      if (!ref || *ref >= t->count) return PlistRefusal::NotAPropertyList;
      if (nesting[*ref] == kOpen) return PlistRefusal::NestedTooDeep;
      if (nesting[*ref] == kNew) {
        if (auto r = reach(*ref); r != PlistRefusal::None) return r;
        if (nesting[*ref] == kOpen) continue;  // followed first, folded when done
      }
      if (!fold(stack.back(), *ref)) return PlistRefusal::TooManyValues;
    } else {
      const Open done = top;
      stack.pop_back();
      nesting[done.object] = static_cast<std::uint8_t>(done.deepest + 2);
      values[done.object] = static_cast<std::uint32_t>(done.values);
      // The containers above it and those on its deepest path.
      if (stack.size() + done.deepest + 1 > static_cast<std::size_t>(kMaxPlistNesting)) {
        return PlistRefusal::NestedTooDeep;
      }
      if (!stack.empty() && !fold(stack.back(), done.object)) return PlistRefusal::TooManyValues;
    }
  }
  return PlistRefusal::None;
}

std::optional<PlistValue> convert(plist_t node, int depth) {
  if (!node || depth > kMaxPlistNesting) return std::nullopt;
  PlistValue out;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      out.value = (b != 0);
      break;
    }
    case PLIST_UINT: {
      std::uint64_t v = 0;
      plist_get_uint_val(node, &v);
      out.value = static_cast<std::int64_t>(v);
      break;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      out.value = d;
      break;
    }
    case PLIST_STRING: {
      // Read through the pointer: plist_get_string_val asserts (and aborts the process) on
      // a string with a NUL byte inside, which a hostile file can hold. The text ends at
      // the first NUL, as any C reader of the value would see it.
      std::uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      std::string_view text = s ? std::string_view(s, static_cast<std::size_t>(length)) : "";
      out.value = std::string(text.substr(0, text.find('\0')));
      break;
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // libplist counts dates from 2001-01-01 UTC.
      out.value = PlistDate{978307200.0 + sec + usec / 1e6};
      break;
    }
    case PLIST_DATA: {
      char* d = nullptr;
      std::uint64_t len = 0;
      plist_get_data_val(node, &d, &len);
      out.value = std::vector<std::uint8_t>(reinterpret_cast<std::uint8_t*>(d),
                                            reinterpret_cast<std::uint8_t*>(d) + (d ? len : 0));
      if (d) std::free(d);
      break;
    }
    case PLIST_ARRAY: {
      // Walked with the iterator: plist_array_get_item(i) of libplist 2.2 walks the child
      // list from its start each time, so a loop over it is quadratic in the array's size.
      auto arr = std::make_shared<PlistArray>();
      plist_array_iter raw = nullptr;
      plist_array_new_iter(node, &raw);
      FreeHandle it(raw);
      if (!it) return std::nullopt;
      for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(node, it.get(), &item);
        if (!item) break;
        auto value = convert(item, depth + 1);
        if (!value) return std::nullopt;
        arr->push_back(std::move(*value));
      }
      out.value = std::move(arr);
      break;
    }
    case PLIST_DICT: {
      auto dict = std::make_shared<PlistDict>();
      plist_dict_iter raw = nullptr;
      plist_dict_new_iter(node, &raw);
      FreeHandle it(raw);
      if (!it) return std::nullopt;
      for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it.get(), &key, &val);
        FreeHandle keyHandle(key);
        if (!val) break;
        auto item = convert(val, depth + 1);
        if (!item) return std::nullopt;
        dict->insert_or_assign(key ? key : "", std::move(*item));
      }
      out.value = std::move(dict);
      break;
    }
    case PLIST_UID: {
      std::uint64_t v = 0;
      plist_get_uid_val(node, &v);
      out.value = static_cast<std::int64_t>(v);
      break;
    }
    default:
      break;  // keys, nulls and unknown kinds carry no value here
  }
  return out;
}

}  // namespace

std::string describePlistProblem(const PlistProblem& problem) {
  switch (problem.refusal) {
    case PlistRefusal::None:
      break;
    case PlistRefusal::Missing:
      return "missing";
    case PlistRefusal::Unreadable:
      return "unreadable";
    case PlistRefusal::TooLarge:
      return "too large (" + std::to_string(problem.size) + " bytes, at most " +
             std::to_string(problem.limit) + ")";
    case PlistRefusal::NestedTooDeep:
      return "nested too deeply";
    case PlistRefusal::TooManyValues:
      return "holds too many values";
    case PlistRefusal::NotAPropertyList:
      return "not a property list";
    case PlistRefusal::NotADictionary:
      return "not a dictionary";
  }
  return {};
}

std::optional<PlistValue> parsePlist(const std::uint8_t* data, std::size_t size,
                                     PlistProblem* problem) {
  PlistProblem local;
  PlistProblem& p = problem ? *problem : local;
  p = PlistProblem{};
  auto refuse = [&p](PlistRefusal why) -> std::optional<PlistValue> {
    p.refusal = why;
    return std::nullopt;
  };
  if (!data || size == 0) return refuse(PlistRefusal::NotAPropertyList);
  if (size > kMaxPlistFileSize) {
    p.size = size;
    p.limit = kMaxPlistFileSize;
    return refuse(PlistRefusal::TooLarge);
  }
  // XML is read by our own parser: libplist 2.2 recurses once per level of nesting, and
  // fills each dictionary through a hash table of 4096 fixed buckets, so that its time grows
  // with the square of the number of keys.
  if (size < 8 || std::memcmp(data, "bplist00", 8) != 0) {
    return parseXmlPlist(std::string_view(reinterpret_cast<const char*>(data), size), &p.refusal);
  }
  if (binaryPlistHasNulInUtf16(data, size)) return refuse(PlistRefusal::NotAPropertyList);
  if (auto why = binaryPlistShape(data, size); why != PlistRefusal::None) return refuse(why);
  plist_t root = nullptr;
  plist_from_bin(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &root);
  PlistHandle handle(root);
  auto value = root ? convert(root, 0) : std::nullopt;
  if (!value) return refuse(PlistRefusal::NotAPropertyList);
  return value;
}

std::optional<PlistValue> readPlistFile(const std::string& path, std::uint64_t maxSize,
                                        PlistProblem* problem) {
  PlistProblem local;
  PlistProblem& p = problem ? *problem : local;
  p = PlistProblem{};
  auto refuse = [&p](PlistRefusal why) -> std::optional<PlistValue> {
    p.refusal = why;
    return std::nullopt;
  };
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    return refuse(PlistRefusal::Missing);
  }
  if (!std::filesystem::is_regular_file(status)) return refuse(PlistRefusal::Unreadable);
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return refuse(PlistRefusal::Unreadable);
  const std::uint64_t limit = std::min(maxSize, kMaxPlistFileSize);
  if (size > limit) {
    p.size = size;
    p.limit = limit;
    return refuse(PlistRefusal::TooLarge);
  }
  if (size == 0) return refuse(PlistRefusal::NotAPropertyList);
  std::ifstream in(path, std::ios::binary);
  if (!in) return refuse(PlistRefusal::Unreadable);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size())) {
    return refuse(PlistRefusal::Unreadable);
  }
  return parsePlist(bytes.data(), bytes.size(), problem);
}

std::optional<PlistDict> readPlistDictionary(const std::string& path, PlistProblem* problem) {
  auto value = readPlistFile(path, kMaxPlistFileSize, problem);
  if (!value) return std::nullopt;
  auto* dict = std::get_if<std::shared_ptr<PlistDict>>(&value->value);
  if (!dict || !*dict) {
    if (problem) problem->refusal = PlistRefusal::NotADictionary;
    return std::nullopt;
  }
  return std::move(**dict);  // the tree was made for this call alone
}

std::optional<std::string> plistString(const PlistDict& dict, const std::string& key) {
  auto it = dict.find(key);
  if (it == dict.end()) return std::nullopt;
  if (const std::string* s = it->second.asString()) return *s;
  return std::nullopt;
}

std::optional<bool> plistBool(const PlistDict& dict, const std::string& key) {
  auto it = dict.find(key);
  if (it == dict.end()) return std::nullopt;
  if (const bool* b = it->second.asBool()) return *b;
  return std::nullopt;
}

std::optional<PlistDate> plistDate(const PlistDict& dict, const std::string& key) {
  auto it = dict.find(key);
  if (it == dict.end()) return std::nullopt;
  if (const auto* d = std::get_if<PlistDate>(&it->second.value)) return *d;
  return std::nullopt;
}

const PlistDict* plistDict(const PlistDict& dict, const std::string& key) {
  auto it = dict.find(key);
  if (it == dict.end()) return nullptr;
  return it->second.asDict();
}
