#include "base/conversions.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
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
    if (static_cast<unsigned char>(text[pos]) < 0x80) {
      ++pos;
      continue;
    }
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

constexpr std::int64_t kSecondsPerDay = 86400;
// A slot that holds nothing yet (no day asked is INT32_MIN).
constexpr std::int32_t kNoDay = INT32_MIN;
// A change-day slot that holds nothing yet.
constexpr std::int64_t kNoSlot = INT64_MIN;
// The offset of a day start that localtime_r could not convert.
constexpr std::int32_t kNoOffset = INT32_MIN;

std::int64_t floorDiv(std::int64_t value, std::int64_t by) {
  return value >= 0 ? value / by : -((-(value + 1)) / by) - 1;
}

bool isRememberedDay(std::int64_t day) { return day > INT32_MIN && day < INT32_MAX; }

std::optional<long> localtimeOffset(std::int64_t instant) {
  const std::time_t time = static_cast<std::time_t>(instant);
  if (static_cast<std::int64_t>(time) != instant) return std::nullopt;
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return std::nullopt;
  return local.tm_gmtoff;
}

// The offset at the start of `day`, as a day slot keeps it: offsets are within a day of UTC,
// anything else (or an instant localtime_r refuses) is kNoOffset.
std::int32_t dayStartOffset(std::int64_t day) {
  const std::optional<long> offset = localtimeOffset(day * kSecondsPerDay);
  const bool plausible = offset && *offset > -kSecondsPerDay && *offset < kSecondsPerDay;
  return plausible ? static_cast<std::int32_t>(*offset) : kNoOffset;
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

void twoDigits(char* out, std::int64_t value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
}

// The thread's remembered date texts, made anew whenever TZ has changed since the last
// date: the same instant then converts as localtime_r would convert it now.
DateTexts& threadDateTexts() {
  struct Zone {
    std::string tz;
    bool tzSet = false;
    DateTexts texts;
  };
  thread_local Zone zone;
  const char* tz = std::getenv("TZ");
  if (zone.tzSet != (tz != nullptr) || (tz && zone.tz != tz)) {
    zone.texts = DateTexts();
    zone.tzSet = tz != nullptr;
    zone.tz = tz ? tz : "";
  }
  return zone.texts;
}

}  // namespace

std::optional<std::wstring> GetDateTime(std::int64_t seconds, int fileType) {
  const std::string text = dateText(seconds, fileType);
  if (text.empty()) return std::nullopt;
  return std::wstring(text.begin(), text.end());
}

std::string GetNSStringDate(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) appendUtf8(out, static_cast<std::uint32_t>(c));
  return out;
}

std::string dateText(std::int64_t seconds, int fileType) {
  return threadDateTexts().text(seconds, fileType);
}

// ---------------------------------------------------------------------------------------
// Zone offsets and date texts

ZoneOffsets::ZoneOffsets()
    : days_(kDaySlots, DaySlot{kNoDay, 0, 0}),
      changeDays_(kChangeDaySlots, ChangeDay{kNoSlot, 0, 0, {}, {}}) {}

std::optional<long> ZoneOffsets::at(std::int64_t instant, bool* wholeDay) {
  if (wholeDay) *wholeDay = false;
  const std::int64_t day = floorDiv(instant, kSecondsPerDay);
  // Days far from 1970 (millions of years) are not remembered.
  if (!isRememberedDay(day) || !isRememberedDay(day + 1)) return localtimeOffset(instant);
  const DaySlot& slot = dayOf(static_cast<std::int32_t>(day));
  if (slot.start == kNoOffset || slot.end == kNoOffset) return localtimeOffset(instant);
  if (slot.start == slot.end) {
    if (wholeDay) *wholeDay = true;
    return slot.start;
  }
  const ChangeDay& changes = changesOf(day, slot.start, slot.end);
  if (changes.count < 0) return localtimeOffset(instant);
  long offset = changes.start;
  for (int i = 0; i < changes.count && instant >= changes.changeAt[i]; ++i) {
    offset = changes.after[i];
  }
  return offset;
}

const ZoneOffsets::DaySlot& ZoneOffsets::dayOf(std::int32_t day) {
  DaySlot& slot = days_[static_cast<std::uint32_t>(day) & (kDaySlots - 1)];
  if (slot.day == day) return slot;
  // A neighbouring day's slot may know one end already.
  const DaySlot& before = days_[static_cast<std::uint32_t>(day - 1) & (kDaySlots - 1)];
  const DaySlot& after = days_[static_cast<std::uint32_t>(day + 1) & (kDaySlots - 1)];
  const std::int32_t start = before.day == day - 1 ? before.end : dayStartOffset(day);
  const std::int32_t end = after.day == day + 1 ? after.start : dayStartOffset(day + 1);
  slot = DaySlot{day, start, end};
  return slot;
}

const ZoneOffsets::ChangeDay& ZoneOffsets::changesOf(std::int64_t day, long start, long end) {
  ChangeDay& slot = changeDays_[static_cast<std::uint64_t>(day) & (kChangeDaySlots - 1)];
  if (slot.day == day) return slot;
  slot.day = day;
  slot.start = start;
  slot.count = 0;
  const std::int64_t from = day * kSecondsPerDay;
  if (!findChanges(slot, from, start, from + kSecondsPerDay, end)) slot.count = -1;
  return slot;
}

// Adds the changes between `from` (offset `fromOffset`) and `to` (offset `toOffset`) in time
// order, halving the span until a change is pinned to one second. False when there are more
// than a day keeps or localtime_r refuses an instant on the way.
bool ZoneOffsets::findChanges(ChangeDay& changes, std::int64_t from, long fromOffset,
                              std::int64_t to, long toOffset) {
  if (fromOffset == toOffset) return true;
  if (to - from == 1) {
    if (changes.count == kMostChangesPerDay) return false;
    changes.changeAt[changes.count] = to;
    changes.after[changes.count] = toOffset;
    ++changes.count;
    return true;
  }
  const std::int64_t middle = from + (to - from) / 2;
  const std::optional<long> middleOffset = localtimeOffset(middle);
  if (!middleOffset) return false;
  return findChanges(changes, from, fromOffset, middle, *middleOffset) &&
         findChanges(changes, middle, *middleOffset, to, toOffset);
}

DateTexts::DateTexts() : civilDays_(kCivilDaySlots, CivilDay{kNoDay, false, {}}) {}

std::string DateTexts::text(std::int64_t seconds, int fileType) {
  const std::optional<std::int64_t> instant = instantSince1970(seconds, fileType);
  if (!instant) return std::string();
  std::int64_t secondOfDay;
  if (*instant >= last_.from && *instant < last_.to) {
    // The last date's local day and offset.
    secondOfDay = *instant + last_.offset - last_.localDayStart;
  } else {
    bool wholeDay = false;
    const std::optional<long> offset = zone_.at(*instant, &wholeDay);
    if (!offset) return std::string();
    std::int64_t local;
    if (__builtin_add_overflow(*instant, static_cast<std::int64_t>(*offset), &local)) {
      return std::string();
    }
    const std::int64_t day = floorDiv(local, kSecondsPerDay);
    const std::int64_t dayStart = day * kSecondsPerDay;
    secondOfDay = local - dayStart;
    last_.shown = civilDayText(day, last_.text);
    last_.from = 1;
    last_.to = 0;
    if (wholeDay) {
      // The instants of this local day within the UTC day whose offset is the same. The UTC
      // day is a remembered one, so none of these sums overflows.
      const std::int64_t utcDayStart = floorDiv(*instant, kSecondsPerDay) * kSecondsPerDay;
      last_.from = std::max(utcDayStart, dayStart - *offset);
      last_.to = std::min(utcDayStart + kSecondsPerDay, dayStart + kSecondsPerDay - *offset);
      last_.localDayStart = dayStart;
      last_.offset = *offset;
    }
  }
  if (!last_.shown) return std::string();
  // "MM-DD-YYYY HH:MM"
  std::string text(16, ' ');
  std::memcpy(text.data(), last_.text, kDayTextLength);
  twoDigits(&text[11], secondOfDay / 3600);
  text[13] = ':';
  twoDigits(&text[14], secondOfDay % 3600 / 60);
  return text;
}

bool DateTexts::civilDayText(std::int64_t day, char* out) {
  CivilDay* slot = nullptr;
  if (isRememberedDay(day)) {
    slot = &civilDays_[static_cast<std::uint64_t>(day) & (kCivilDaySlots - 1)];
    if (slot->day == day) {
      std::memcpy(out, slot->text, kDayTextLength);
      return slot->shown;
    }
  }
  std::int64_t year = 0;
  int month = 0, dayOfMonth = 0;
  civilFromDays(day, year, month, dayOfMonth);
  const bool shown = year >= 0 && year <= 9999;
  if (shown) {
    // "MM-DD-YYYY"
    twoDigits(out, month);
    out[2] = '-';
    twoDigits(out + 3, dayOfMonth);
    out[5] = '-';
    twoDigits(out + 6, year / 100);
    twoDigits(out + 8, year % 100);
  }
  if (slot) {
    slot->day = static_cast<std::int32_t>(day);
    slot->shown = shown;
    std::memcpy(slot->text, out, kDayTextLength);
  }
  return shown;
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
  // "%.2f" and the unit; std::to_chars gives printf's digits without its cost, which shows
  // when the sizes of tens of thousands of files are written.
  const auto [end, error] = std::to_chars(out_buffer, out_buffer + kSizeTextBufferSize - 2,
                                          static_cast<double>(value), std::chars_format::fixed, 2);
  if (error != std::errc()) {
    std::snprintf(out_buffer, kSizeTextBufferSize, "%.2f%s", static_cast<double>(value), unit);
    return out_buffer;
  }
  end[0] = unit[0];
  end[1] = '\0';
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

std::optional<std::string> birthdayDate(const std::string& stored) {
  const char* begin = stored.c_str();
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(begin, &end);
  if (end == begin || *end != '\0' || errno != 0 || !std::isfinite(seconds) ||
      std::fabs(seconds) > 4e11) {
    return std::nullopt;
  }
  const std::time_t unix = static_cast<std::time_t>(std::floor(seconds)) +
                           static_cast<std::time_t>(kSecondsFrom1970To2001);
  std::tm tm{};
  if (gmtime_r(&unix, &tm) == nullptr || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999) {
    return std::nullopt;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return std::string(text);
}
