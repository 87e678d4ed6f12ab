#include "results/result_sorting.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal number of `text` (after blanks and an optional "+"), or 0.
double leadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double value = 0;
  auto [end, ec] =
      std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::fixed);
  (void)end;
  return ec == std::errc() ? value : 0;
}

// The name without the extension of its last path component ("a.b.jpg" -> "a.b"); a
// leading dot does not start an extension.
std::string_view withoutExtension(std::string_view name) {
  std::size_t slash = name.rfind('/');
  std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot <= start) return name;
  return name.substr(0, dot);
}

// Reads up to `maxDigits` digits at `i`; none when there is no digit.
std::optional<int> readNumber(std::string_view text, std::size_t& i, std::size_t maxDigits) {
  std::size_t begin = i;
  int value = 0;
  while (i < text.size() && isDigit(text[i]) && i - begin < maxDigits) {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (i == begin) return std::nullopt;
  return value;
}

bool skipChar(std::string_view text, std::size_t& i, std::string_view allowed) {
  if (i < text.size() && allowed.find(text[i]) != std::string_view::npos) {
    ++i;
    return true;
  }
  return false;
}

template <typename T>
const T* recordOf(const ResultRecord& row) {
  const auto* p = std::get_if<std::shared_ptr<T>>(&row);
  return p != nullptr ? p->get() : nullptr;
}

// Sorts `rows` by the key `keyOf` gives each record of type T (a missing record gets the
// key of a default record), keeping the order of equal keys.
template <typename T, typename KeyOf>
void sortBy(ResultRows& rows, bool ascending, KeyOf keyOf) {
  using Key = decltype(keyOf(std::declval<const T&>()));
  static const T kEmpty{};
  std::vector<std::pair<Key, std::size_t>> keyed;
  keyed.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const T* r = recordOf<T>(rows[i]);
    keyed.emplace_back(keyOf(r != nullptr ? *r : kEmpty), i);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;
  });
  ResultRows sorted;
  sorted.reserve(rows.size());
  for (const auto& k : keyed) sorted.push_back(std::move(rows[k.second]));
  rows = std::move(sorted);
}

// Flips `order` and returns the new direction (true: ascending).
bool flip(bool& order) {
  order = !order;
  return order;
}

}  // namespace

std::uint64_t sizeFormString(std::string_view text) {
  if (text.empty()) return 0;
  double factor = 1000.0 * 1000.0 * 1000.0 * 1000.0;
  switch (text.back()) {
    case 'B':
      factor = 1;
      break;
    case 'K':
      factor = 1000.0;
      break;
    case 'M':
      factor = 1000.0 * 1000.0;
      break;
    case 'G':
      factor = 1000.0 * 1000.0 * 1000.0;
      break;
    default:
      break;
  }
  double product = leadingNumber(text.substr(0, text.size() - 1)) * factor;
  if (!(product > 0)) return 0;  // negative, zero or not a number
  // 2^64 as a double; anything at or beyond it does not fit.
  if (product >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(product);
}

std::int64_t mediaNameNumber(std::string_view fileNodeName) {
  std::string_view s = withoutExtension(fileNodeName);
  std::size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::int64_t value = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > kMax + 1) value = kMax + 1;  // saturate; clamped below
  }
  if (negative) return std::max(-value, kMin);
  return std::min(value, kMax);
}

std::optional<std::int64_t> callDateOrder(std::string_view callDate) {
  std::size_t i = 0;
  while (i < callDate.size() && isBlank(callDate[i])) ++i;
  auto month = readNumber(callDate, i, 2);
  if (!month || !skipChar(callDate, i, "-/")) return std::nullopt;
  auto day = readNumber(callDate, i, 2);
  if (!day || !skipChar(callDate, i, "-/")) return std::nullopt;
  auto year = readNumber(callDate, i, 4);
  if (!year) return std::nullopt;
  int hour = 0;
  int minute = 0;
  std::size_t blanks = i;
  while (i < callDate.size() && isBlank(callDate[i])) ++i;
  if (i < callDate.size()) {
    if (i == blanks) return std::nullopt;  // the time must be set off by a blank
    auto h = readNumber(callDate, i, 2);
    if (!h || !skipChar(callDate, i, ":")) return std::nullopt;
    auto m = readNumber(callDate, i, 2);
    if (!m) return std::nullopt;
    hour = *h;
    minute = *m;
    while (i < callDate.size() && isBlank(callDate[i])) ++i;
    if (i != callDate.size()) return std::nullopt;
  }
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || hour > 23 || minute > 59) {
    return std::nullopt;
  }
  std::int64_t key = *year;
  key = key * 12 + (*month - 1);
  key = key * 31 + (*day - 1);
  key = key * 24 + hour;
  key = key * 60 + minute;
  return key;
}

bool sortRowsByColumn(ResultRows& rows, ResultCategory category, std::string_view column,
                      SortSwitches& switches) {
  if (column == "bSelected") return false;
  switch (category) {
    case ResultCategory::Photo:
      if (column == "Name") {
        sortBy<MzPhotoAndVideoNode>(rows, flip(switches.bNameOrder),
                                    [](const auto& r) { return mediaNameNumber(r.fileNodeName); });
        return true;
      }
      if (column == "Size") {
        sortBy<MzPhotoAndVideoNode>(rows, flip(switches.bSizeOrder),
                                    [](const auto& r) { return sizeFormString(r.fileNodeSize); });
        return true;
      }
      return false;
    case ResultCategory::Contact:
      sortBy<MzContactNode>(rows, flip(switches.bNameOrder),
                            [](const auto& r) { return r.contactName; });
      return true;
    case ResultCategory::CallHistory:
      if (column == "Name") {
        sortBy<MzCallHistoryNode>(rows, flip(switches.bNameOrder),
                                  [](const auto& r) { return r.callName.value_or(std::string()); });
      } else {
        // Not-a-date is none, and none orders before every value.
        sortBy<MzCallHistoryNode>(rows, flip(switches.bDateOrder),
                                  [](const auto& r) { return callDateOrder(r.callDate); });
      }
      return true;
    default:
      return false;
  }
}
