#include "base/conversions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

// 1990-01-01 00:00 UTC: kind-0 values from here on count from 1970.
constexpr std::int64_t k1990 = 631152000;

// Sets the process's time zone for one test and puts the previous one back afterwards.
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* previous = std::getenv("TZ")) saved_ = previous;
    useZone("UTC");
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(TimeZoneTest, Kind0CountsFrom1970AndEarlyReadingsFrom2001) {
  EXPECT_EQ(dateText(1262304000, 0), "01-01-2010 00:00");
  // 1985 in the 1970 reading: the same value counted from 2001 is 2016-01-02.
  EXPECT_EQ(dateText(473385600, 0), "01-02-2016 00:00");
  EXPECT_EQ(dateText(0, 0), "01-01-2001 00:00");
  // The limit is 1990-01-01 00:00 UTC.
  EXPECT_EQ(dateText(631152000, 0), "01-01-1990 00:00");
  EXPECT_EQ(dateText(631151999, 0), "12-31-2020 23:59");
  EXPECT_EQ(dateText(1451692830, 0), "01-02-2016 00:00");  // seconds are dropped
}

TEST_F(TimeZoneTest, Kind1CountsFrom2001) {
  EXPECT_EQ(dateText(0, 1), "01-01-2001 00:00");
  EXPECT_EQ(dateText(441763200, 1), "01-01-2015 00:00");
  EXPECT_EQ(dateText(-86400, 1), "12-31-2000 00:00");
  // Far outside 2001..2016 the same rule holds.
  EXPECT_EQ(dateText(631152000, 1), "01-01-2021 00:00");
  EXPECT_EQ(dateText(1609372800, 1), "01-01-2052 00:00");
}

TEST_F(TimeZoneTest, WideTextIsSixteenCharacters) {
  const std::optional<std::wstring> date = GetDateTime(441763200, 1);
  ASSERT_TRUE(date.has_value());
  EXPECT_EQ(*date, L"01-01-2015 00:00");
  EXPECT_EQ(GetNSStringDate(*date), "01-01-2015 00:00");
}

TEST_F(TimeZoneTest, UnconvertibleTimesGiveNoDate) {
  EXPECT_FALSE(GetDateTime(0, 2).has_value());
  EXPECT_FALSE(GetDateTime(0, -1).has_value());
  EXPECT_FALSE(GetDateTime(std::numeric_limits<std::int64_t>::max(), 1).has_value());
  EXPECT_FALSE(GetDateTime(std::numeric_limits<std::int64_t>::max(), 0).has_value());
  EXPECT_FALSE(GetDateTime(std::numeric_limits<std::int64_t>::min(), 0).has_value());
  // Years must fit four digits.
  EXPECT_EQ(dateText(253402300799, 0), "12-31-9999 23:59");
  EXPECT_FALSE(GetDateTime(253402300800, 0).has_value());
  EXPECT_FALSE(GetDateTime(-70000000000, 0).has_value());  // before year 0
  EXPECT_EQ(dateText(253402300800, 0), "");
}

TEST_F(TimeZoneTest, UsesTheLocalTimeZone) {
  const bool haveZoneInfo = std::filesystem::exists("/usr/share/zoneinfo/America/New_York");
  useZone(haveZoneInfo ? "America/New_York" : "EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(dateText(1262304000, 0), "12-31-2009 19:00");
  EXPECT_EQ(dateText(1277942400, 0), "06-30-2010 20:00");  // daylight saving time
  EXPECT_EQ(dateText(0, 1), "12-31-2000 19:00");
  // The 2001 reading is decided on the instant, not on the local year: 1990-01-01 00:00 UTC
  // is still 1989 in New York but is not moved.
  EXPECT_EQ(dateText(631152000, 0), "12-31-1989 19:00");
}

// The remembered offsets must be localtime_r's, instant for instant: around every change of
// the offset (each quarter hour of the two days about it, and the seconds beside it), in
// zones with daylight saving, half-hour and 45-minute offsets, a zone that dropped a whole
// day and one that left summer time for a month each year, and at random instants. One
// ZoneOffsets answers them all in an order that reuses and evicts its slots.
TEST_F(TimeZoneTest, RememberedOffsetsAreLocaltimesOwn) {
  auto offsetByLocaltime = [](std::int64_t instant) -> std::optional<long> {
    const std::time_t time = static_cast<std::time_t>(instant);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return std::nullopt;
    return local.tm_gmtoff;
  };
  std::mt19937_64 random(3);
  for (const char* zone : {"Europe/Stockholm", "Australia/Lord_Howe", "Asia/Kathmandu",
                           "America/St_Johns", "Pacific/Apia", "Africa/Casablanca", "UTC"}) {
    if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone)) continue;
    useZone(zone);
    std::vector<std::int64_t> instants;
    // Changes between 1970 and 2040, found hour by hour.
    for (std::int64_t t = 0; t < 2208988800; t += 3600) {
      if (offsetByLocaltime(t) == offsetByLocaltime(t + 3600)) continue;
      for (std::int64_t q = t - 2 * 86400; q <= t + 2 * 86400; q += 900) instants.push_back(q);
      for (std::int64_t s = t - 2; s <= t + 3602; ++s) instants.push_back(s);
    }
    for (int i = 0; i < 20000; ++i) {
      instants.push_back(static_cast<std::int64_t>(random() % 4000000000ULL) - 1000000000);
    }
    instants.insert(instants.end(), {INT64_MIN, INT64_MAX, INT64_MIN / 86400 * 86400,
                                     INT64_MAX / 86400 * 86400, -1, 0});
    std::shuffle(instants.begin(), instants.end(), random);
    ZoneOffsets offsets;
    for (const std::int64_t instant : instants) {
      ASSERT_EQ(offsets.at(instant), offsetByLocaltime(instant)) << zone << " " << instant;
    }
  }
}

// Date texts, made one after another as a carver makes them (mostly rising, in runs within a
// day, with jumps back), must be localtime_r's for every instant: minute by minute across
// each change of the offset from 1990 to 2040, across local midnights next to a change, and
// at random instants in between.
TEST_F(TimeZoneTest, DateTextsInRunsAreLocaltimesOwn) {
  auto byLocaltime = [](std::int64_t instant) {
    const std::time_t time = static_cast<std::time_t>(instant);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return std::string();
    char text[32];
    std::strftime(text, sizeof text, "%m-%d-%Y %H:%M", &local);
    return std::string(text);
  };
  std::mt19937_64 random(11);
  for (const char* zone : {"Europe/Stockholm", "Australia/Lord_Howe", "America/St_Johns",
                           "Pacific/Apia", "Africa/Casablanca", "Asia/Kathmandu"}) {
    if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone)) continue;
    useZone(zone);
    auto offset = [](std::int64_t instant) {
      const std::time_t time = static_cast<std::time_t>(instant);
      std::tm local{};
      localtime_r(&time, &local);
      return local.tm_gmtoff;
    };
    std::vector<std::int64_t> instants;
    for (std::int64_t t = k1990; t < 2208988800; t += 3600) {
      // The two days about each change of the offset, and about one hour in 2000.
      if (offset(t) == offset(t + 3600) && (t / 3600) % 2000 != 0) continue;
      for (std::int64_t q = t - 86400; q <= t + 86400; q += 60 + random() % 240) {
        instants.push_back(q);
      }
      instants.push_back(k1990 + static_cast<std::int64_t>(random() % 1500000000));  // a jump
    }
    DateTexts texts;
    for (const std::int64_t instant : instants) {
      ASSERT_EQ(texts.text(instant, 0), byLocaltime(instant)) << zone << " " << instant;
    }
  }
}

TEST(GetNSStringDateTest, EncodesUtf8AndReplacesNonCharacters) {
  EXPECT_EQ(GetNSStringDate(L""), "");
  EXPECT_EQ(GetNSStringDate(std::wstring{L'a', 0xE9, 0x20AC, 0x1F600}),
            "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(GetNSStringDate(std::wstring{L'a', 0xD800, 0x110000, L'b'}), "a??b");
}

TEST(SizeTextTest, StepsOfOneThousand) {
  EXPECT_EQ(sizeText(0), "0.00B");
  EXPECT_EQ(sizeText(999), "999.00B");
  EXPECT_EQ(sizeText(1000), "1.00K");
  EXPECT_EQ(sizeText(1500), "1.50K");
  EXPECT_EQ(sizeText(1500000), "1.50M");
  EXPECT_EQ(sizeText(1000000000), "1.00G");
  EXPECT_EQ(sizeText(2500000000ULL), "2.50G");
  EXPECT_EQ(sizeText(1000000000000ULL), "1.00T");
}

// The text is printf's "%.2f" of the single-precision value, with the unit: rounding at the
// half and the float's own error included.
TEST(SizeTextTest, DigitsAreThoseOfPrintf) {
  auto printed = [](std::uint64_t n) {
    const float k = 1000.0f;
    const float f = static_cast<float>(n);
    char text[64];
    if (n < 1000ULL) {
      std::snprintf(text, sizeof text, "%.2fB", static_cast<double>(f));
    } else if (n <= 999999ULL) {
      std::snprintf(text, sizeof text, "%.2fK", static_cast<double>(f / k));
    } else if (n <= 999999999ULL) {
      std::snprintf(text, sizeof text, "%.2fM", static_cast<double>(f / k / k));
    } else if (n < 1000000000000ULL) {
      std::snprintf(text, sizeof text, "%.2fG", static_cast<double>(f / k / k / k));
    } else {
      std::snprintf(text, sizeof text, "%.2fT", static_cast<double>(f / k / k / k / k));
    }
    return std::string(text);
  };
  std::mt19937_64 random(20261210);
  const std::uint64_t edges[] = {
      0,         5,          995,          999,           1000,      1005,
      1015,      1025,       999995,       999999,        1000000,   1234567,
      999999999, 1000000000, 999999999999, 1000000000000, UINT64_MAX};
  std::vector<std::uint64_t> sizes(std::begin(edges), std::end(edges));
  for (std::uint64_t n = 0; n < 200000; n += 7) sizes.push_back(n);
  for (int i = 0; i < 200000; ++i) sizes.push_back(random() >> (random() % 64));
  for (std::uint64_t n : sizes) ASSERT_EQ(sizeText(n), printed(n)) << n;
}

TEST(SizeTextTest, WritesIntoTheCallersBuffer) {
  char buffer[kSizeTextBufferSize];
  EXPECT_EQ(size_to_unit(1500000, buffer), buffer);
  EXPECT_STREQ(buffer, "1.50M");
  EXPECT_EQ(size_to_unit(1, nullptr), nullptr);
  // The largest count still fits the buffer.
  const std::string largest = sizeText(std::numeric_limits<std::uint64_t>::max());
  EXPECT_LT(largest.size(), kSizeTextBufferSize);
  EXPECT_EQ(largest.back(), 'T');
}

TEST(GetFullNameTest, PadsToEightDigits) {
  EXPECT_EQ(getFullName(0), "00000000");
  EXPECT_EQ(getFullName(5), "00000005");
  EXPECT_EQ(getFullName(12345678), "12345678");
  EXPECT_EQ(getFullName(123456789), "123456789");
  EXPECT_EQ(getFullName(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
}

TEST(GetStringFormCharTest, DecodesUtf8) {
  EXPECT_EQ(GetStringFormChar("Hello, world"), "Hello, world");
  EXPECT_EQ(GetStringFormChar(""), "");
  EXPECT_EQ(GetStringFormChar("Caf\xC3\xA9 \xE2\x82\xAC"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(GetStringFormChar("\xF0\x9F\x98\x80!"), "\xF0\x9F\x98\x80!");
  EXPECT_EQ(GetStringFormChar("\xF4\x8F\xBF\xBF"), "\xF4\x8F\xBF\xBF");  // U+10FFFF
  EXPECT_EQ(GetStringFormChar(static_cast<const char*>(nullptr)), "");
}

TEST(GetStringFormCharTest, InvalidUtf8GivesEmptyText) {
  for (const char* bad : {
           "\x80",              // stray continuation byte
           "ab\xFF",            // never valid
           "\xC0\xAF",          // overlong '/'
           "\xC1\xBF",          // overlong
           "\xE0\x80\xAF",      // overlong three bytes
           "\xF0\x80\x80\xAF",  // overlong four bytes
           "\xED\xA0\x80",      // surrogate U+D800
           "\xED\xBF\xBF",      // surrogate U+DFFF
           "\xF4\x90\x80\x80",  // above U+10FFFF
           "\xF5\x80\x80\x80",  // lead byte above F4
           "\xE2\x82",          // cut short
           "x\xF0\x9F\x98",     // cut short at the end
           "\xC3\x41",          // continuation missing
       }) {
    EXPECT_EQ(GetStringFormChar(bad), "") << testing::PrintToString(std::string(bad));
  }
}

TEST(GetStringFormCharTest, StopsAtTheFirstZeroByte) {
  using namespace std::string_literals;
  EXPECT_EQ(GetStringFormChar(std::string_view("ab\0cd"s)), "ab");
  // What follows the zero is not looked at, valid or not.
  EXPECT_EQ(GetStringFormChar(std::string_view("ab\0\xFF"s)), "ab");
  // A zero byte inside a character cuts it short.
  EXPECT_EQ(GetStringFormChar(std::string_view("\xE2\x82\0\xAC"s)), "");
  EXPECT_EQ(GetStringFormChar(std::string_view("\0abc"s)), "");
}

TEST(Char2UnicodeTest, WritesCodePointsWithinCapacity) {
  const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  std::uint32_t units[6] = {7, 7, 7, 7, 7, 7};
  EXPECT_EQ(Char2Unicode(text, units, 6), 4u);
  EXPECT_EQ(units[0], 0x61u);
  EXPECT_EQ(units[1], 0xE9u);
  EXPECT_EQ(units[2], 0x20ACu);
  EXPECT_EQ(units[3], 0x1F600u);
  EXPECT_EQ(units[4], 7u);

  std::uint32_t small[3] = {7, 7, 7};
  EXPECT_EQ(Char2Unicode(text, small, 2), 2u);
  EXPECT_EQ(small[1], 0xE9u);
  EXPECT_EQ(small[2], 7u);  // nothing past the capacity
  EXPECT_EQ(Char2Unicode(text, small, 0), 0u);
}

TEST(Char2UnicodeTest, RefusesInvalidInput) {
  std::uint32_t units[4] = {7, 7, 7, 7};
  // Invalid bytes anywhere refuse the whole text, even past the capacity.
  EXPECT_EQ(Char2Unicode("abc\xED\xA0\x80", units, 2), 0u);
  EXPECT_EQ(units[0], 7u);
  EXPECT_EQ(Char2Unicode(nullptr, units, 4), 0u);
  EXPECT_EQ(Char2Unicode("abc", nullptr, 4), 0u);
}

}  // namespace

TEST(BirthdayDate, IsTheCalendarDayOfTheStoredNoon) {
  EXPECT_EQ(birthdayDate("-464616000"), "1986-04-12");  // 1986-04-12 12:00 UTC
  EXPECT_EQ(birthdayDate("-464616000.0"), "1986-04-12");
  EXPECT_EQ(birthdayDate("0"), "2001-01-01");
  for (const char* text : {"", "soon", "12abc", "1e300", "nan"}) {
    EXPECT_EQ(birthdayDate(text), std::nullopt) << text;
  }
}
