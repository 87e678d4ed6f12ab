#include "extract/conversions.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------
// UTF-8

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the character that starts at `text[pos]` into `*codePoint` and returns its length
// in bytes, or 0 when the bytes there are not a well-formed UTF-8 sequence (RFC 3629,
// table 3-7 of the Unicode standard): overlong forms, surrogates, values above U+10FFFF,
// stray continuation bytes and sequences cut short are all refused.
std::size_t decodeCharacter(std::string_view text, std::size_t pos, char32_t* codePoint) {
  const std::size_t avail = text.size() - pos;
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const unsigned char lead = byteAt(0);
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  std::size_t length;
  unsigned char secondMin = 0x80;
  unsigned char secondMax = 0xBF;
  char32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) secondMin = 0xA0;  // below: overlong
    if (lead == 0xED) secondMax = 0x9F;  // above: surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) secondMin = 0x90;  // below: overlong
    if (lead == 0xF4) secondMax = 0x8F;  // above: beyond U+10FFFF
  } else {
    return 0;  // continuation byte, C0/C1 (always overlong) or F5..FF
  }
  if (avail < length) return 0;
  const unsigned char second = byteAt(1);
  if (second < secondMin || second > secondMax) return 0;
  value = (value << 6) | (second & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    const unsigned char next = byteAt(i);
    if (!isContinuation(next)) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  *codePoint = value;
  return length;
}

// The text up to its first zero byte.
std::string_view untilZero(std::string_view text) {
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

bool isValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  char32_t ignored;
  while (pos < text.size()) {
    // Runs of ASCII, eight bytes at a time: most texts are mostly ASCII.
    while (pos + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + pos, sizeof word);
      if (word & 0x8080808080808080ULL) break;
      pos += 8;
    }
    if (pos >= text.size()) break;
    const std::size_t length = decodeCharacter(text, pos, &ignored);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

void appendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    out += '?';
  } else if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// ---------------------------------------------------------------------------------------
// Dates

// 1990-01-01 00:00:00 UTC in seconds since 1970: kind-0 values below it count from 2001.
// The limit is a fixed instant, so the reading of a stored value does not depend on the
// time zone of the machine that shows it.
constexpr std::int64_t k1990InSecondsSince1970 = 631152000;

// The instant, in seconds since 1970, that a stored value of the given kind stands for.
std::optional<std::int64_t> instantSince1970(std::int64_t seconds, int fileType) {
  if (fileType == 0) {
    // Below the limit the sum cannot overflow.
    return seconds < k1990InSecondsSince1970 ? seconds + kSecondsFrom1970To2001 : seconds;
  }
  if (fileType == 1) {
    std::int64_t instant;
    if (__builtin_add_overflow(seconds, kSecondsFrom1970To2001, &instant)) return std::nullopt;
    return instant;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Names by phone number

std::string normalisedPhone(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '-' && c != '(' && c != ')' && c != ' ') out += c;
  }
  return out;
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
  const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                              [](char a, char b) { return asciiLower(a) == asciiLower(b); });
  return it != haystack.end();
}

// The first contact whose numbers match `phone` with a key of at least `minKeyLength`
// characters, or null. An empty key never matches: it is contained in every text.
const MzContactNode* findContactByPhone(const std::string& phone, const ContactList& contacts,
                                        std::size_t minKeyLength) {
  const std::string number = normalisedPhone(phone);
  if (number.empty()) return nullptr;
  minKeyLength = std::max<std::size_t>(minKeyLength, 1);
  for (const auto& contact : contacts) {
    if (!contact || contact->contactPhone.empty()) continue;
    const std::string numbers = normalisedPhone(contact->contactPhone);
    const bool contactIsShorter = numbers.size() < number.size();
    const std::string_view shorter = contactIsShorter ? numbers : number;
    const std::string_view longer = contactIsShorter ? number : numbers;
    const std::size_t n = shorter.size();
    const std::string_view key = shorter.substr(n / 4, n / 2 + n / 4);
    if (key.size() < minKeyLength) continue;
    if (containsIgnoringCase(longer, key)) return contact.get();
  }
  return nullptr;
}

}  // namespace

std::string GetStringFormChar(const char* bytes) {
  if (bytes == nullptr) return std::string();
  return GetStringFormChar(std::string_view(bytes));
}

std::string GetStringFormChar(std::string_view bytes) {
  const std::string_view text = untilZero(bytes);
  if (!isValidUtf8(text)) return std::string();
  // Well-formed UTF-8 re-encodes to the very same bytes, so the checked text is the result.
  return std::string(text);
}

std::size_t Char2Unicode(const char* bytes, std::uint32_t* uncode, std::size_t count) {
  if (bytes == nullptr || uncode == nullptr) return 0;
  const std::string_view text(bytes);
  if (!isValidUtf8(text)) return 0;
  std::size_t written = 0;
  std::size_t pos = 0;
  while (pos < text.size() && written < count) {
    char32_t codePoint = U'?';
    pos += decodeCharacter(text, pos, &codePoint);
    uncode[written++] = static_cast<std::uint32_t>(codePoint);
  }
  return written;
}

namespace {

// The local date and time of an instant, as the fields the date text shows.
struct LocalFields {
  std::int64_t year;
  int month, day, hour, minute;
};

// The local zone's offset from UTC at `instant`. Zone offsets and their changes fall on
// whole quarter hours of UTC, so one answer of localtime_r holds for the whole quarter
// hour; the answers are remembered per quarter hour, per thread, for as long as TZ stays
// the same (a scan converts hundreds of thousands of dates).
std::optional<long> utcOffsetAt(std::time_t instant) {
  // Direct-mapped by quarter hour: a lookup is one compare, and dates of one scan cluster
  // in few enough quarters that collisions are rare.
  struct Slot {
    std::int64_t quarter = INT64_MIN;
    long offset = 0;
  };
  struct Cache {
    std::string tz;
    bool tzSet = false;
    std::vector<Slot> slots = std::vector<Slot>(1u << 14);
  };
  thread_local Cache cache;
  const char* tz = std::getenv("TZ");
  if (cache.tzSet != (tz != nullptr) || (tz && cache.tz != tz)) {
    std::fill(cache.slots.begin(), cache.slots.end(), Slot{});
    cache.tzSet = tz != nullptr;
    cache.tz = tz ? tz : "";
  }
  const std::int64_t quarter =
      static_cast<std::int64_t>(instant) >= 0 ? instant / 900 : (instant - 899) / 900;
  Slot& slot = cache.slots[static_cast<std::size_t>(quarter) & (cache.slots.size() - 1)];
  if (slot.quarter == quarter) return slot.offset;
  std::tm local{};
  if (localtime_r(&instant, &local) == nullptr) return std::nullopt;
  slot = Slot{quarter, local.tm_gmtoff};
  return local.tm_gmtoff;
}

// Civil date of a count of days since 1970-01-01 (proleptic Gregorian calendar).
void civilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (m <= 2) ++y;
}

std::optional<LocalFields> localFields(std::int64_t seconds, int fileType) {
  const std::optional<std::int64_t> instant = instantSince1970(seconds, fileType);
  if (!instant) return std::nullopt;
  const std::time_t time = static_cast<std::time_t>(*instant);
  if (static_cast<std::int64_t>(time) != *instant) return std::nullopt;
  const std::optional<long> offset = utcOffsetAt(time);
  if (!offset) return std::nullopt;
  std::int64_t local;
  if (__builtin_add_overflow(*instant, static_cast<std::int64_t>(*offset), &local)) {
    return std::nullopt;
  }
  std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
  const std::int64_t secondOfDay = local - days * 86400;
  LocalFields f{};
  civilFromDays(days, f.year, f.month, f.day);
  f.hour = static_cast<int>(secondOfDay / 3600);
  f.minute = static_cast<int>(secondOfDay % 3600 / 60);
  if (f.year < 0 || f.year > 9999) return std::nullopt;
  return f;
}

// "MM-DD-YYYY HH:MM" into `out` (16 characters).
template <typename Char>
void formatDate(const LocalFields& f, Char* out) {
  auto two = [](Char* p, int v) {
    p[0] = static_cast<Char>('0' + v / 10);
    p[1] = static_cast<Char>('0' + v % 10);
  };
  two(out, f.month);
  out[2] = '-';
  two(out + 3, f.day);
  out[5] = '-';
  two(out + 6, static_cast<int>(f.year / 100));
  two(out + 8, static_cast<int>(f.year % 100));
  out[10] = ' ';
  two(out + 11, f.hour);
  out[13] = ':';
  two(out + 14, f.minute);
}

}  // namespace

std::optional<std::wstring> GetDateTime(std::int64_t seconds, int fileType) {
  const std::optional<LocalFields> f = localFields(seconds, fileType);
  if (!f) return std::nullopt;
  std::wstring text(16, L' ');
  formatDate(*f, text.data());
  return text;
}

std::string GetNSStringDate(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) appendUtf8(out, static_cast<std::uint32_t>(c));
  return out;
}

std::string dateText(std::int64_t seconds, int fileType) {
  const std::optional<LocalFields> f = localFields(seconds, fileType);
  if (!f) return std::string();
  std::string text(16, ' ');
  formatDate(*f, text.data());
  return text;
}

char* size_to_unit(std::uint64_t n, char* out_buffer) {
  if (out_buffer == nullptr) return nullptr;
  float value;
  const char* unit;
  if (n < 1000ULL) {
    value = static_cast<float>(n);
    unit = "B";
  } else if (n <= 999999ULL) {
    value = static_cast<float>(n) / 1000.0f;
    unit = "K";
  } else if (n <= 999999999ULL) {
    value = static_cast<float>(n) / 1000.0f / 1000.0f;
    unit = "M";
  } else if (n < 1000000000000ULL) {
    value = static_cast<float>(n) / 1000.0f / 1000.0f / 1000.0f;
    unit = "G";
  } else {
    value = static_cast<float>(n) / 1000.0f / 1000.0f / 1000.0f / 1000.0f;
    unit = "T";
  }
  std::snprintf(out_buffer, kSizeTextBufferSize, "%.2f%s", static_cast<double>(value), unit);
  return out_buffer;
}

std::string sizeText(std::uint64_t n) {
  char buffer[kSizeTextBufferSize];
  return std::string(size_to_unit(n, buffer));
}

std::string getFullName(std::uint64_t number) {
  std::string text = std::to_string(number);
  if (text.size() < 8) text.insert(0, 8 - text.size(), '0');
  return text;
}

std::optional<std::string> getNameByPhoneNumber(const std::string& phone,
                                                const ContactList& contacts) {
  const MzContactNode* contact = findContactByPhone(phone, contacts, 1);
  if (contact == nullptr) return std::nullopt;
  return contact->contactName;
}

std::optional<std::string> getNameByPhoneNumberWithData(const std::string& phone,
                                                        const ContactList& contacts,
                                                        Bytes& messageContactData) {
  const MzContactNode* contact = findContactByPhone(phone, contacts, 6);
  if (contact == nullptr) return std::nullopt;
  messageContactData = contact->imageData;
  return contact->contactName;
}
