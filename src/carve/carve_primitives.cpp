#include "carve/carve_primitives.h"

#include <array>
#include <cstring>

namespace carve {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void renderHex(const std::uint8_t* bytes, std::size_t n, char* out) {
  for (std::size_t i = 0; i < n; ++i) {
    out[2 * i] = kHexDigits[bytes[i] >> 4];
    out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
  }
  out[2 * n] = '\0';
}

// A list of signatures (hex text prefixes).
struct Signatures {
  const std::string_view* first = nullptr;
  std::size_t count = 0;
  template <std::size_t N>
  constexpr Signatures(const std::string_view (&list)[N]) : first(list), count(N) {}
  constexpr Signatures() = default;
  const std::string_view* begin() const { return first; }
  const std::string_view* end() const { return first + count; }
};

constexpr std::string_view kFamily1[] = {"0101", "0301", "0302", "0102", "0109", "0309"};
constexpr std::string_view kFamily2[] = {"00110000", "001100", "0808080808", "0808000808080808",
                                         "0108000108080808"};
constexpr std::string_view kFamily3[] = {"080800080808",     "080808080808",     "0001000000000055",
                                         "0001000000000155", "0000000000000055", "00000108",
                                         "00000801"};
constexpr std::string_view kFamily4[] = {
    "01010809",   "01010901",   "09010809", "01010101",      "01010801",   "02010801",
    "02010901",   "02010809",   "02010101", "01090809",      "0f0f080801", "0000040401",
    "0000040400", "0000040413", "ffd8ffe0", "00000000000000"};
constexpr std::string_view kFamily5[] = {"01010101"};
constexpr std::string_view kFamily6[] = {"01010101010105", "010101", "0101010101010005"};

constexpr std::array<Signatures, 7> kFamilies = {
    {Signatures(), kFamily1, kFamily2, kFamily3, kFamily4, kFamily5, kFamily6}};

constexpr std::string_view kMessageIOS6List[] = {"0800010000", "0800010011", "0800020011",
                                                 "0800020000", "0800090011"};
constexpr Signatures kMessageIOS6Signatures = kMessageIOS6List;

// True when the `available` characters at `text` begin with `signature`.
bool beginsWith(const char* text, std::size_t available, std::string_view signature) {
  // Every signature is at least two characters; the first two settle almost every test.
  return signature.size() <= available && text[0] == signature[0] && text[1] == signature[1] &&
         std::memcmp(text + 2, signature.data() + 2, signature.size() - 2) == 0;
}

bool anyBeginsWith(const char* text, std::size_t available, Signatures signatures) {
  for (std::string_view signature : signatures) {
    if (beginsWith(text, available, signature)) return true;
  }
  return false;
}

// Calls `test(window, w)` for every window the sliding tests try; true at the first pass.
template <typename Test>
bool slide(const char* text, std::size_t w, Test test) {
  if (!text) return false;
  const std::size_t length = std::strlen(text);
  if (length <= w) return false;
  for (std::size_t i = 0; i < length - w; ++i) {
    if (test(text + i, w)) return true;
  }
  return false;
}

// The hex text of `byteCount` bytes at `offset` in a stack buffer; null when the offset
// gives no result.
constexpr std::size_t kMaxProbeBytes = 64;
struct ProbeText {
  char chars[2 * kMaxProbeBytes + 1];
  const char* text = nullptr;
  ProbeText(const DatabaseImage& file, std::int64_t offset, std::size_t byteCount) {
    if (byteCount > kMaxProbeBytes) byteCount = kMaxProbeBytes;
    text = getHexString(file, offset, byteCount, chars);
  }
};

void assignDecimal(FieldBuffer& data, std::int32_t value) {
  char text[16];
  char* end = text + sizeof text;
  char* p = end;
  std::int64_t v = value;
  const bool negative = v < 0;
  if (negative) v = -v;
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) *--p = '-';
  data.assignText(std::string_view(p, static_cast<std::size_t>(end - p)));
}

// The integer body of `length` bytes at `offset`, cut to signed 32 bits.
std::int32_t integerBody(const DatabaseImage& file, std::int64_t offset, std::int64_t length) {
  std::uint64_t value = 0;
  for (std::int64_t i = 0; i < length; ++i) value = (value << 8) | file.at(offset + i);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// True when a body of `length` bytes at `at` runs past `end`; the data offset then moves past
// it as a read would.
bool runsPast(std::int64_t at, std::int64_t length, std::int64_t end, std::int64_t& dataoff) {
  if (at <= end - length) return false;
  dataoff += length;
  return true;
}

// The one-byte readers with the serial type at `typeAt` and the body at `bodyAt`.
bool readOneByteField(const DatabaseImage& file, std::int64_t typeAt, std::int64_t bodyAt,
                      std::int64_t& dataoff, FieldBuffer& data, std::int64_t end) {
  data.clear();
  if (typeAt >= end) return false;
  const std::int64_t type = file.at(typeAt);
  const std::int64_t length = getFieldDataLengthBy(type);
  if (length == 0) return false;
  if (runsPast(bodyAt + dataoff, length, end, dataoff)) return false;
  if (type <= 13) {
    if (type < 1 || type > 7) return false;
    assignDecimal(data, integerBody(file, bodyAt + dataoff, length));
  } else {
    data.assignBody(file, bodyAt + dataoff, length);
  }
  dataoff += length;
  return true;
}

bool readTwoByteField(const DatabaseImage& file, std::int64_t typeAt, std::int64_t bodyAt,
                      std::int64_t& dataoff, FieldBuffer& data, std::int64_t end) {
  data.clear();
  if (typeAt >= end - 1) return false;
  const std::int32_t type = getAlterInteger(file.at(typeAt), file.at(typeAt + 1));
  if (type > 4095) return false;
  const std::int64_t length = getFieldDataLengthBy(type);
  if (runsPast(bodyAt + dataoff, length, end, dataoff)) return false;
  data.assignBody(file, bodyAt + dataoff, length);
  dataoff += length;
  return length > 0;
}

}  // namespace

char* getHexString(const DatabaseImage& file, std::int64_t offset, std::size_t longth,
                   char* theChar) {
  if (!theChar || offset <= 0 || longth == 0) return nullptr;
  if (file.contains(offset) && offset + static_cast<std::int64_t>(longth) <= file.size()) {
    renderHex(file.data() + offset, longth, theChar);
    return theChar;
  }
  for (std::size_t i = 0; i < longth; ++i) {
    const std::uint8_t byte = file.at(offset + static_cast<std::int64_t>(i));
    theChar[2 * i] = kHexDigits[byte >> 4];
    theChar[2 * i + 1] = kHexDigits[byte & 0x0F];
  }
  theChar[2 * longth] = '\0';
  return theChar;
}

std::uint8_t* readData(const DatabaseImage& file, std::uint8_t* buffer, std::int64_t offset,
                       std::size_t longth) {
  if (!buffer || offset <= 0 || longth == 0) return nullptr;
  file.copy(offset, longth, buffer);
  return buffer;
}

std::uint64_t DemaNumberFormHexChar(const char* text, std::size_t longth) {
  if (!text) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < longth; ++i) {
    const char c = text[i];
    if (c == '\0') return 0;  // shorter than asked
    std::uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint64_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint64_t>(c - 'a' + 10);
    }
    value = value * 16 + digit;
  }
  return value;
}

std::uint64_t readBigEndian(const std::uint8_t* buffer, std::size_t point, std::size_t size) {
  if (!buffer) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | buffer[point + i];
  return value;
}

std::int32_t getAlterInteger(std::uint8_t first, std::uint8_t num) {
  // first's bits without leading zeros ("0" for 0), then num's bits padded to 7 digits.
  int firstBits = 1;
  while (firstBits < 8 && (first >> firstBits) != 0) ++firstBits;
  int numBits = 1;
  while (numBits < 8 && (num >> numBits) != 0) ++numBits;
  if (numBits < 7) numBits = 7;
  const int total = firstBits + numBits;
  std::uint32_t joined = (static_cast<std::uint32_t>(first) << numBits) | num;
  // A leading "10" is dropped; its second digit is zero, so clearing the top bit drops both.
  const bool leadingOne = (joined >> (total - 1)) & 1U;
  const bool secondZero = ((joined >> (total - 2)) & 1U) == 0;
  if (leadingOne && secondZero) joined &= (1U << (total - 1)) - 1U;
  return static_cast<std::int32_t>(joined);
}

int getPageType(const DatabaseImage& file, std::int64_t offset) {
  if (offset <= 0) return -1;
  switch (file.at(offset)) {
    case 0x0D:
      return 1;
    case 0x05:
    case 0x00:
      return 2;
    case 0x02:
      return 3;
    case 0x0A:
      return 4;
    default:
      return -1;
  }
}

bool checkSQliteVersion(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) == 0x02;
}

std::string_view FieldBuffer::text() const {
  const char* start = reinterpret_cast<const char*>(bytes_.data());
  const void* zero = std::memchr(start, 0, used_);
  const std::size_t length =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - start) : used_;
  return {start, length};
}

void FieldBuffer::clear() {
  if (used_ > 0) std::memset(bytes_.data(), 0, used_);
  used_ = 0;
}

void FieldBuffer::assignBody(const DatabaseImage& file, std::int64_t offset, std::int64_t length) {
  clear();
  if (length <= 0) return;
  std::size_t n = static_cast<std::size_t>(length);
  if (n > bytes_.size() - 1) n = bytes_.size() - 1;
  file.copy(offset, n, bytes_.data());
  used_ = n;
}

void FieldBuffer::assignText(std::string_view text) {
  clear();
  std::size_t n = text.size();
  if (n > bytes_.size() - 1) n = bytes_.size() - 1;
  std::memcpy(bytes_.data(), text.data(), n);
  used_ = n;
}

bool AnalyseDBDataFile(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                       std::int64_t offset, std::int64_t length, FieldBuffer& data,
                       std::int64_t end) {
  return readOneByteField(file, offset + postion, offset + length, dataoff, data, end);
}

void skipDBDataField(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                     std::int64_t offset) {
  dataoff += getFieldDataLengthBy(file.at(offset + postion));
}

bool AnalyseTheDBDataFile(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                          std::int64_t offset, std::int64_t head, std::int64_t length,
                          FieldBuffer& data, std::int64_t end) {
  return readOneByteField(file, offset + head + postion, offset + head + length, dataoff, data,
                          end);
}

bool AnalyseAlterbleDB(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataOff,
                       std::int64_t offset, std::int64_t length, FieldBuffer& Data,
                       std::int64_t end) {
  return readTwoByteField(file, offset + postion, offset + length, dataOff, Data, end);
}

void skipAlterbleField(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataOff,
                       std::int64_t offset) {
  const std::int32_t type =
      getAlterInteger(file.at(offset + postion), file.at(offset + postion + 1));
  if (type <= 4095) dataOff += getFieldDataLengthBy(type);
}

bool AnalyseAlterbleDBFile(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                           std::int64_t offset, std::int64_t Head, std::int64_t length,
                           FieldBuffer& data, std::int64_t end) {
  return readTwoByteField(file, offset + Head + postion, offset + Head + length, dataoff, data,
                          end);
}

bool AnalyseMessageDBDataFile(const DatabaseImage& file, std::int64_t postion,
                              std::int64_t& dataoff, std::int64_t offset, std::int64_t length,
                              FieldBuffer& data, std::int64_t end) {
  data.clear();
  if (offset + postion >= end) return false;
  const int type = file.at(offset + postion);
  if (type == 0 || (type >= 10 && type <= 13)) return false;
  if (runsPast(offset + length + dataoff, 1, end, dataoff)) return false;
  const std::uint8_t byte = file.at(offset + length + dataoff);
  if (type <= 9) {
    assignDecimal(data, byte);
  } else {
    const char c = static_cast<char>(byte);
    data.assignText(std::string_view(&c, 1));
  }
  dataoff += 1;
  return true;
}

int bCheckDataIsValid(const char* text, int type) {
  if (!text) return 0;
  if (type < 1 || type > 6) return -1;
  return anyBeginsWith(text, std::strlen(text), kFamilies[static_cast<std::size_t>(type)]) ? 1 : -1;
}

bool bcheckSubStringIsValid(const char* text, int type, std::size_t longth) {
  if (type < 1 || type > 6) return false;
  const Signatures family = kFamilies[static_cast<std::size_t>(type)];
  return slide(text, longth,
               [&](const char* window, std::size_t w) { return anyBeginsWith(window, w, family); });
}

bool bcheckChatIOS6SubStringIsValid(const char* text, std::size_t longth) {
  return slide(text, longth,
               [](const char* window, std::size_t w) { return beginsWith(window, w, "0600"); });
}

bool bcheckMessageIOS6SubStringIsValid(const char* text, std::size_t longth) {
  return slide(text, longth, [](const char* window, std::size_t w) {
    return anyBeginsWith(window, w, kMessageIOS6Signatures);
  });
}

int signatureFamilyAt(const DatabaseImage& file, std::int64_t offset, std::size_t byteCount,
                      int type) {
  ProbeText probe(file, offset, byteCount);
  return bCheckDataIsValid(probe.text, type);
}

bool subStringIsValidAt(const DatabaseImage& file, std::int64_t offset, std::size_t byteCount,
                        int type, std::size_t window) {
  ProbeText probe(file, offset, byteCount);
  return bcheckSubStringIsValid(probe.text, type, window);
}

bool chatIOS6SubStringIsValidAt(const DatabaseImage& file, std::int64_t offset,
                                std::size_t byteCount, std::size_t window) {
  ProbeText probe(file, offset, byteCount);
  return bcheckChatIOS6SubStringIsValid(probe.text, window);
}

bool messageIOS6SubStringIsValidAt(const DatabaseImage& file, std::int64_t offset,
                                   std::size_t byteCount, std::size_t window) {
  ProbeText probe(file, offset, byteCount);
  return bcheckMessageIOS6SubStringIsValid(probe.text, window);
}

bool getDeletedMark(const DatabaseImage& file, std::int64_t offset, std::size_t longth, int type) {
  if (offset <= 0 || longth < 2) return false;
  if (file.at(offset + 1) != 0x00) return false;
  const std::uint8_t header = file.at(offset);
  auto oneOf = [header](std::initializer_list<std::uint8_t> accepted) {
    for (std::uint8_t a : accepted) {
      if (a == header) return true;
    }
    return false;
  };
  switch (type) {
    case 1:
      return oneOf({0x0a, 0x09});
    case 2:
      return oneOf({0x13, 0x22, 0x23});
    case 3:
    case 7:
      return oneOf({0x20, 0x21, 0x22, 0x2a, 0x2c, 0x2b});
    case 4:
      return oneOf({0x23, 0x24, 0x26, 0x25});
    case 5:
      return oneOf({0x0c, 0x14, 0x19, 0x0d, 0x1a, 0x15});
    case 6:
      return oneOf({0x15, 0x14});
    default:
      return false;
  }
}

int bNoteAlter(const DatabaseImage& file, std::int64_t offset) {
  const std::uint8_t byte = file.at(offset);
  return byte >= 0x80 && byte <= 0x89 ? 1 : 0;
}

int bImageURLAlter(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) == 0x09 ? 0 : 1;
}

int IsAlterAboutContent(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) == 0x04 ? 0 : 1;
}

int ISAlterMessageContentFiled(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) == 0x55 ? 0 : 1;
}

int ISAlterPropertFiled(const DatabaseImage& file, std::int64_t offset) {
  const std::uint8_t byte = file.at(offset);
  return byte >= 121 && byte <= 152 ? 1 : 0;
}

std::int64_t bSortAlter(const DatabaseImage& file, std::int64_t offset) {
  if (file.at(offset) == 0x00) return 0;
  // `offset` lies inside the file here, and bytes before the file read as zero.
  std::int64_t back = offset - 1;
  while (back >= 0 && file.at(back) != 0x00) --back;
  return offset - back;
}

std::int64_t bIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset, int type) {
  if (type == 2) return file.at(offset) >= 14 ? 1 : 0;
  if (type != 6) return 0;
  if (!file.contains(offset)) return 0;
  const std::uint8_t* start = file.data() + offset;
  const void* zero = std::memchr(start, 0, static_cast<std::size_t>(file.size() - offset));
  return zero ? static_cast<const std::uint8_t*>(zero) - start : file.size() - offset;
}

int GetFildLength(const DatabaseImage& file, std::int64_t offset) {
  std::uint8_t x;
  if (file.at(offset) == 0x00) {
    x = file.at(offset - 1);
  } else {
    std::int64_t last = offset;
    while (file.at(last + 1) != 0x00) ++last;  // ends at the file's end at the latest
    x = file.at(last);
  }
  if (x >= 0x22 && x <= 0x24) return 2;
  if (x >= 0x12 && x <= 0x14) return 1;
  return 0;
}

bool AddressIsAlterbleDBFile(const DatabaseImage&, std::int64_t) { return false; }

std::string GetLastPageStringWithChar(const std::uint8_t* buffer, std::size_t length) {
  std::string text(length, '.');
  if (!buffer) return text;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t byte = buffer[i];
    if (byte >= 0x20 && byte < 0x7F) text[i] = static_cast<char>(byte);
  }
  return text;
}

namespace {

char foldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = foldCase(c);
  return out;
}

}  // namespace

PageTextSearch::PageTextSearch(std::string text) : text_(std::move(text)), folded_(folded(text_)) {}

std::optional<std::string> PageTextSearch::after(std::string_view subString) const {
  if (subString.empty()) return std::nullopt;
  const std::string needle = folded(subString);
  const std::int64_t last = static_cast<std::int64_t>(text_.size()) - 1;  // searched up to here
  const std::int64_t length = static_cast<std::int64_t>(needle.size());
  // Matches must end before the last character.
  const std::string_view searched =
      last > 0 ? std::string_view(folded_).substr(0, static_cast<std::size_t>(last))
               : std::string_view();
  std::int64_t b = 0;
  while (b + length < last) {
    const std::size_t match = searched.find(needle, static_cast<std::size_t>(b));
    if (match == std::string_view::npos) return std::nullopt;
    const std::size_t e = match + needle.size();
    const std::size_t blank = text_.find(' ', e);
    const std::size_t end = blank != std::string::npos ? blank + 1 : static_cast<std::size_t>(last);
    const std::size_t taken = end > e ? end - e : 0;
    if (taken < 21) return text_.substr(e, taken);
    b = 2 * static_cast<std::int64_t>(e) + static_cast<std::int64_t>(taken);
  }
  return std::nullopt;
}

std::optional<std::string> getNextSubStringInString(std::string_view text,
                                                    std::string_view subString) {
  return PageTextSearch(std::string(text)).after(subString);
}

}  // namespace carve
