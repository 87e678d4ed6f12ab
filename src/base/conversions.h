// Conversions every scanner shares: UTF-8 bytes to text, device times to the date text,
// byte counts to the size text, and zero-padded numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

// Seconds between 1970-01-01 00:00:00 UTC and 2001-01-01 00:00:00 UTC, the device's epoch.
inline constexpr std::int64_t kSecondsFrom1970To2001 = 978307200;
// The smallest buffer `size_to_unit` may be given.
inline constexpr std::size_t kSizeTextBufferSize = 32;

// UTF-8 bytes to UTF-8 text. Decoding stops at the first zero byte; bytes that are not valid
// UTF-8 (overlong forms, surrogates, code points above U+10FFFF, truncated or stray
// continuation bytes) give the empty text. A null pointer gives the empty text.
std::string GetStringFormChar(const char* bytes);
// The same for bytes with a known length (a zero byte inside still ends the text).
std::string GetStringFormChar(std::string_view bytes);

// Converts the NUL-terminated UTF-8 `bytes` into at most `count` 32-bit code units and
// returns how many were written; nothing is written past `uncode[count - 1]`, and a longer
// text is cut after `count` characters. The whole text is checked first: input that is not
// valid UTF-8, a null `bytes` or a null `uncode` writes nothing and returns 0. (Every code
// point that valid UTF-8 can carry fits one 32-bit unit, so no character is replaced by '?'
// here; the replacement applies when wide text goes back to UTF-8, see GetNSStringDate.)
std::size_t Char2Unicode(const char* bytes, std::uint32_t* uncode, std::size_t count);

// `seconds` as the wide text "MM-DD-YYYY HH:MM" (16 characters) in the local time zone
// (localtime_r, so TZ applies), or none when it cannot be converted: an unknown kind, an
// instant the C library cannot convert, or a year outside 0..9999.
// Kind 0 (messages, calls) counts from 1970-01-01 UTC; a value that reads before
// 1990-01-01 00:00 UTC is taken to count from 2001-01-01 UTC instead, and that instant is
// shown. Kind 1 (notes, calendar events) counts from 2001-01-01 UTC.
std::optional<std::wstring> GetDateTime(std::int64_t seconds, int fileType);
// The wide text as UTF-8 text; a wide character that is not a Unicode scalar value
// (a surrogate or a value above U+10FFFF) becomes '?'.
std::string GetNSStringDate(const std::wstring& text);
// Both in one: the date text, or "" when there is none.
std::string dateText(std::int64_t seconds, int fileType);

// An address book's birthday as the calendar date "YYYY-MM-DD". The book keeps it as text
// holding seconds since 2001-01-01 UTC (of the day's noon, so the UTC date is the day itself);
// none when the text is not such a number or the year falls outside 1..9999.
std::optional<std::string> birthdayDate(const std::string& stored);

// The local zone's offset from UTC at an instant (seconds since 1970 UTC), as localtime_r
// gives it (tm_gmtoff, so TZ applies), or none where localtime_r cannot convert the instant.
// The answers are remembered: a scan converts hundreds of thousands of dates, spread over
// years when they are carved from free space. One answer per UTC day serves the whole day
// when the offset is the same at its start and at the next day's start (no zone has changed
// its offset and back within one day). A day whose offset differs at its two ends is halved
// until each change is found to the second, and its changes are remembered.
// The owner keeps TZ as it is while it uses one ZoneOffsets.
class ZoneOffsets {
 public:
  ZoneOffsets();
  // The offset localtime_r gives `instant`. `wholeDay`, when given, is set to whether that
  // offset holds for the whole UTC day of the instant.
  std::optional<long> at(std::int64_t instant, bool* wholeDay = nullptr);

 private:
  // Every day of 44 years: the dates of one database cluster within a few years (carved
  // dates that spread wider share slots, and are asked of localtime_r again).
  static constexpr std::size_t kDaySlots = 1u << 14;
  static constexpr std::size_t kChangeDaySlots = 1u << 8;
  static constexpr int kMostChangesPerDay = 4;
  // The offsets at the start of a day and at the start of the next.
  struct DaySlot {
    std::int32_t day;
    std::int32_t start;
    std::int32_t end;
  };
  // The changes of one day whose ends differ: from changeAt[i] on, the offset is after[i].
  struct ChangeDay {
    std::int64_t day;
    long start;
    int count;  // -1: not found (more changes than kept, or an instant localtime_r refused)
    std::int64_t changeAt[kMostChangesPerDay];
    long after[kMostChangesPerDay];
  };
  const DaySlot& dayOf(std::int32_t day);
  const ChangeDay& changesOf(std::int64_t day, long start, long end);
  bool findChanges(ChangeDay& changes, std::int64_t from, long fromOffset, std::int64_t to,
                   long toOffset);

  // Direct-mapped by day: a lookup is one compare.
  std::vector<DaySlot> days_;
  std::vector<ChangeDay> changeDays_;
};

// dateText(seconds, fileType) for one owner that converts many dates: the zone's offsets
// and the calendar dates of local days are remembered (dateText keeps one per thread and
// checks TZ at every date). The owner keeps TZ as it is while it uses one DateTexts.
class DateTexts {
 public:
  DateTexts();
  std::string text(std::int64_t seconds, int fileType);

 private:
  static constexpr std::size_t kCivilDaySlots = 1u << 12;
  static constexpr std::size_t kDayTextLength = 10;  // "MM-DD-YYYY"
  struct CivilDay {
    std::int32_t day;  // days since 1970-01-01, local
    bool shown;        // false: the year is outside 0..9999
    char text[kDayTextLength];
  };
  // The date text of a local day into `out` (kDayTextLength characters); false when it has
  // none.
  bool civilDayText(std::int64_t day, char* out);

  ZoneOffsets zone_;
  std::vector<CivilDay> civilDays_;
  // The instants [from, to) of the last date's local day that share its offset (none at
  // first): the dates of one database come in runs within a day.
  struct Span {
    std::int64_t from = 1;
    std::int64_t to = 0;
    std::int64_t localDayStart = 0;
    long offset = 0;
    bool shown = false;
    char text[kDayTextLength] = {};
  };
  Span last_;
};

// The size text of a byte count in steps of 1000 ("999.00B", "1.50M", up to "T"), computed
// with single-precision division and written into `out_buffer`, which must hold at least
// kSizeTextBufferSize (32) bytes; the text is always NUL-terminated. Returns `out_buffer`
// (null stays null and nothing is written).
char* size_to_unit(std::uint64_t n, char* out_buffer);
// The same as a string.
std::string sizeText(std::uint64_t n);

// The number as decimal text padded with leading zeros to 8 characters; a number of more
// than 8 digits is returned unpadded.
std::string getFullName(std::uint64_t number);
