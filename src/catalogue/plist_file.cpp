#include "catalogue/plist_file.h"

#include <plist/plist.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace {

// Nesting deeper than this is refused rather than followed, so a hostile file cannot
// exhaust the stack.
constexpr int kMaxDepth = 64;

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

// Whether a binary property list holds a UTF-16 string with a U+0000 in it. libplist 2.2
// turns such a string into UTF-8 with a NUL inside and, when the string is a dictionary
// key, aborts the process on an assertion as soon as the key is read; such a file is
// refused instead. Only the object table is looked at; anything malformed is left to the
// parser, which refuses it on its own.
bool binaryPlistHasNulInUtf16(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 8, kTrailer = 32;
  if (size < kHeader + kTrailer || std::memcmp(data, "bplist00", kHeader) != 0) return false;
  const std::uint8_t* trailer = data + size - kTrailer;
  const std::size_t offsetWidth = trailer[6];
  auto count = bigEndianAt(trailer, kTrailer, 8, 8);
  auto table = bigEndianAt(trailer, kTrailer, 24, 8);
  if (!count || !table || offsetWidth == 0 || offsetWidth > 8) return false;
  if (*table > size || (size - *table) / offsetWidth < *count) return false;
  for (std::uint64_t i = 0; i < *count; ++i) {
    auto offset = bigEndianAt(data, size, *table + i * offsetWidth, offsetWidth);
    if (!offset || *offset >= size) continue;
    const std::uint8_t marker = data[*offset];
    if ((marker >> 4) != 0x6) continue;  // not a UTF-16 string
    std::uint64_t length = marker & 0xF;
    std::uint64_t at = *offset + 1;
    if (length == 0xF) {  // the length follows as an integer object
      if (at >= size || (data[at] >> 4) != 0x1) continue;
      const std::size_t width = std::size_t{1} << (data[at] & 0x3);
      auto n = bigEndianAt(data, size, at + 1, width);
      if (!n) continue;
      length = *n;
      at += 1 + width;
    }
    if (at > size || (size - at) / 2 < length) continue;
    for (std::uint64_t c = 0; c < length; ++c) {
      if (data[at + 2 * c] == 0 && data[at + 2 * c + 1] == 0) return true;
    }
  }
  return false;
}

std::optional<PlistValue> convert(plist_t node, int depth) {
  if (!node || depth > kMaxDepth) return std::nullopt;
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

std::optional<PlistValue> parsePlist(const std::uint8_t* data, std::size_t size) {
  if (!data || size == 0 || size > kMaxPlistFileSize) return std::nullopt;
  if (binaryPlistHasNulInUtf16(data, size)) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size), &root);
  PlistHandle handle(root);
  if (!root) return std::nullopt;
  return convert(root, 0);
}

std::optional<PlistValue> readPlistFile(const std::string& path, std::uint64_t maxSize) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0 || size > maxSize || size > kMaxPlistFileSize) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return std::nullopt;
  return parsePlist(bytes.data(), bytes.size());
}

std::optional<PlistDict> readPlistDictionary(const std::string& path) {
  auto value = readPlistFile(path);
  if (!value) return std::nullopt;
  const PlistDict* dict = value->asDict();
  if (!dict) return std::nullopt;
  return *dict;
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

const PlistDict* plistDict(const PlistDict& dict, const std::string& key) {
  auto it = dict.find(key);
  if (it == dict.end()) return nullptr;
  return it->second.asDict();
}
