#include "catalogue/keyed_archive_field.h"

#include <cstring>

namespace {

constexpr std::size_t kHeader = 8;    // "bplist00"
constexpr std::size_t kTrailer = 32;  // sizes, object count, top object, offset table

enum Kind : std::uint8_t {
  kInteger = 0x1,
  kData = 0x4,
  kAscii = 0x5,
  kUid = 0x8,
  kArray = 0xA,
  kDict = 0xD
};

std::uint64_t bigEndian(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// The objects of a binary property list, each found through the offset table. Objects lie
// between the header and the offset table; nothing is read outside that span.
class BinaryList {
 public:
  struct Object {
    std::uint8_t kind = 0;
    std::uint8_t info = 0;    // low half of the marker
    std::uint64_t count = 0;  // length of data and strings, entries of arrays and dictionaries
    std::size_t body = 0;     // where the payload starts
  };

  bool open(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeader + kTrailer || std::memcmp(bytes.data(), "bplist00", kHeader) != 0) {
      return false;
    }
    data_ = bytes.data();
    const std::uint8_t* trailer = data_ + bytes.size() - kTrailer;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    objects_ = bigEndian(trailer + 8, 8);
    top_ = bigEndian(trailer + 16, 8);
    table_ = bigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
    if (table_ < kHeader || table_ > bytes.size() - kTrailer) return false;
    const std::uint64_t tableBytes = bytes.size() - kTrailer - table_;
    return objects_ > 0 && top_ < objects_ && objects_ <= tableBytes / offsetSize_;
  }

  std::uint64_t top() const { return top_; }

  std::optional<Object> object(std::uint64_t ref) const {
    if (ref >= objects_) return std::nullopt;
    const std::uint64_t offset = bigEndian(data_ + table_ + ref * offsetSize_, offsetSize_);
    if (offset < kHeader || offset >= table_) return std::nullopt;
    Object o;
    o.kind = data_[offset] >> 4;
    o.info = data_[offset] & 0xF;
    o.body = static_cast<std::size_t>(offset + 1);
    o.count = o.info;
    const bool counted = o.kind == kData || o.kind == kAscii || o.kind == kArray || o.kind == kDict;
    if (counted && o.info == 0xF) {  // the length follows as an integer object
      if (!within(o.body, 1) || (data_[o.body] >> 4) != kInteger) return std::nullopt;
      const std::size_t n = std::size_t{1} << (data_[o.body] & 0xF);
      if (n > 8 || !within(o.body + 1, n)) return std::nullopt;
      o.count = bigEndian(data_ + o.body + 1, n);
      o.body += 1 + n;
    }
    return o;
  }

  // The value of `key` in dictionary `dict`, by reference.
  std::optional<std::uint64_t> lookup(const Object& dict, std::string_view key) const {
    if (dict.kind != kDict || dict.count > table_ ||
        !within(dict.body, 2 * dict.count * refSize_)) {
      return std::nullopt;
    }
    for (std::uint64_t i = 0; i < dict.count; ++i) {
      const auto name = object(reference(dict.body + i * refSize_));
      if (name && name->kind == kAscii && name->count == key.size() &&
          within(name->body, key.size()) &&
          std::memcmp(data_ + name->body, key.data(), key.size()) == 0) {
        return reference(dict.body + (dict.count + i) * refSize_);
      }
    }
    return std::nullopt;
  }

  // Entry `index` of array `array`, by reference.
  std::optional<std::uint64_t> element(const Object& array, std::uint64_t index) const {
    if (array.kind != kArray || index >= array.count || array.count > table_ ||
        !within(array.body, array.count * refSize_)) {
      return std::nullopt;
    }
    return reference(array.body + index * refSize_);
  }

  std::optional<std::uint64_t> integer(const Object& o) const {
    const std::size_t n = std::size_t{1} << o.info;
    if (o.kind != kInteger || n > 8 || !within(o.body, n)) return std::nullopt;
    return bigEndian(data_ + o.body, n);
  }

  std::optional<std::uint64_t> uid(const Object& o) const {
    const std::size_t n = std::size_t{o.info} + 1;
    if (o.kind != kUid || n > 8 || !within(o.body, n)) return std::nullopt;
    return bigEndian(data_ + o.body, n);
  }

  std::optional<std::vector<std::uint8_t>> bytes(const Object& o) const {
    if (o.kind != kData || !within(o.body, o.count)) return std::nullopt;
    return std::vector<std::uint8_t>(data_ + o.body, data_ + o.body + o.count);
  }

 private:
  bool within(std::uint64_t at, std::uint64_t n) const { return at <= table_ && n <= table_ - at; }
  std::uint64_t reference(std::uint64_t at) const { return bigEndian(data_ + at, refSize_); }

  const std::uint8_t* data_ = nullptr;
  std::uint8_t offsetSize_ = 0;
  std::uint8_t refSize_ = 0;
  std::uint64_t objects_ = 0;
  std::uint64_t top_ = 0;
  std::uint64_t table_ = 0;
};

// Field `name` of the root object, a UID followed into "$objects"; `objects` receives that
// array for a second step.
std::optional<BinaryList::Object> rootField(const BinaryList& list, std::string_view name,
                                            BinaryList::Object* objects) {
  const auto top = list.object(list.top());
  if (!top) return std::nullopt;
  const auto objectsRef = list.lookup(*top, "$objects");
  const auto topRef = list.lookup(*top, "$top");
  const auto array = objectsRef ? list.object(*objectsRef) : std::nullopt;
  const auto topDict = topRef ? list.object(*topRef) : std::nullopt;
  if (!array || !topDict) return std::nullopt;
  *objects = *array;
  const auto rootRef = list.lookup(*topDict, "root");
  const auto rootUid = rootRef ? list.object(*rootRef) : std::nullopt;
  const auto rootIndex = rootUid ? list.uid(*rootUid) : std::nullopt;
  const auto rootObject = rootIndex ? list.element(*array, *rootIndex) : std::nullopt;
  const auto root = rootObject ? list.object(*rootObject) : std::nullopt;
  const auto valueRef = root ? list.lookup(*root, name) : std::nullopt;
  auto value = valueRef ? list.object(*valueRef) : std::nullopt;
  if (value && value->kind == kUid) {
    const auto index = list.uid(*value);
    const auto target = index ? list.element(*array, *index) : std::nullopt;
    value = target ? list.object(*target) : std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<std::uint64_t> keyedArchiveInteger(std::span<const std::uint8_t> archive,
                                                 std::string_view name) {
  BinaryList list;
  BinaryList::Object objects;
  if (!list.open(archive)) return std::nullopt;
  const auto value = rootField(list, name, &objects);
  return value ? list.integer(*value) : std::nullopt;
}

std::optional<std::vector<std::uint8_t>> keyedArchiveData(std::span<const std::uint8_t> archive,
                                                          std::string_view name) {
  BinaryList list;
  BinaryList::Object objects;
  if (!list.open(archive)) return std::nullopt;
  const auto value = rootField(list, name, &objects);
  if (!value) return std::nullopt;
  if (value->kind == kData) return list.bytes(*value);
  // An NSData object: its bytes are "NS.data", inline or referred to.
  const auto dataRef = list.lookup(*value, "NS.data");
  auto data = dataRef ? list.object(*dataRef) : std::nullopt;
  if (data && data->kind == kUid) {
    const auto index = list.uid(*data);
    const auto target = index ? list.element(objects, *index) : std::nullopt;
    data = target ? list.object(*target) : std::nullopt;
  }
  return data ? list.bytes(*data) : std::nullopt;
}
