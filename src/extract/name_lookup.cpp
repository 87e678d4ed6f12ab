#include "extract/name_lookup.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "extract/scan_lists.h"

namespace {

// The number as the lookup compares it: without "-", "(", ")" and " ", ASCII letters in
// lower case (the comparison ignores ASCII case only).
std::string comparableNumber(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '-' || c == '(' || c == ')' || c == ' ') continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

// The key of a text of length n: from n/4 on, n/2 + n/4 characters.
std::string_view keyOf(std::string_view text) {
  const std::size_t n = text.size();
  return text.substr(n / 4, n / 2 + n / 4);
}

}  // namespace

NameLookup::NameLookup(ContactList contacts) : contacts_(std::move(contacts)) {
  // The numbers are all made before any view into them is taken.
  numbers_.reserve(contacts_.size());
  for (const auto& contact : contacts_) {
    numbers_.push_back(contact ? comparableNumber(contact->contactPhone) : std::string());
  }
  for (std::size_t i = 0; i < numbers_.size(); ++i) {
    const std::string_view key = keyOf(numbers_[i]);
    if (key.empty()) continue;
    byOwnKey_[key].push_back(static_cast<std::int32_t>(i));
    auto [it, made] = shortestTextByKeyLength_.try_emplace(key.size(), numbers_[i].size());
    if (!made) it->second = std::min(it->second, numbers_[i].size());
  }
}

std::optional<std::string> NameLookup::name(const std::string& phone) {
  const std::int32_t match = cachedMatch(phone, 1);
  if (match == kNoContact) return std::nullopt;
  return contacts_[match]->contactName;
}

std::optional<std::string> NameLookup::nameWithPicture(const std::string& phone,
                                                       Bytes& messageContactData) {
  const std::int32_t match = cachedMatch(phone, 6);
  if (match == kNoContact) return std::nullopt;
  messageContactData = contacts_[match]->imageData;
  return contacts_[match]->contactName;
}

std::int32_t NameLookup::cachedMatch(const std::string& phone, std::size_t minKeyLength) {
  std::string number = comparableNumber(phone);
  if (number.empty()) return kNoContact;
  auto& answers = minKeyLength >= 6 ? pictureAnswers_ : plainAnswers_;
  if (auto it = answers.find(number); it != answers.end()) return it->second;
  const std::int32_t match = firstMatch(number, minKeyLength);
  answers.emplace(std::move(number), match);
  return match;
}

std::int32_t NameLookup::firstMatch(const std::string& number, std::size_t minKeyLength) {
  minKeyLength = std::max<std::size_t>(minKeyLength, 1);
  const std::int32_t own = firstMatchByOwnKey(number, minKeyLength);
  const std::int32_t asked = firstMatchByNumberKey(number, minKeyLength);
  if (own == kNoContact) return asked;
  if (asked == kNoContact) return own;
  return std::min(own, asked);
}

// Contacts whose text is shorter than the number: the contact's own key must occur in the
// number. Every substring of the number is a possible key.
std::int32_t NameLookup::firstMatchByOwnKey(std::string_view number,
                                            std::size_t minKeyLength) const {
  std::int32_t best = kNoContact;
  for (const auto& [length, shortestText] : shortestTextByKeyLength_) {
    // Only key lengths of contacts shorter than the number can match here.
    if (length < minKeyLength || length > number.size() || shortestText >= number.size()) continue;
    for (std::size_t start = 0; start + length <= number.size(); ++start) {
      const auto it = byOwnKey_.find(number.substr(start, length));
      if (it == byOwnKey_.end()) continue;
      for (std::int32_t i : it->second) {
        if (best != kNoContact && i >= best) break;
        if (numbers_[i].size() < number.size()) {
          best = i;
          break;
        }
      }
    }
  }
  return best;
}

// Contacts whose text is not shorter than the number: the number's key must occur in it.
std::int32_t NameLookup::firstMatchByNumberKey(std::string_view number, std::size_t minKeyLength) {
  const std::string_view key = keyOf(number);
  if (key.size() < minKeyLength) return kNoContact;
  const auto& index = substringsOfLength(key.size());
  const auto it = index.find(key);
  if (it == index.end()) return kNoContact;
  for (std::int32_t i : it->second) {
    if (numbers_[i].size() >= number.size()) return i;
  }
  return kNoContact;
}

const std::unordered_map<std::string_view, std::vector<std::int32_t>>&
NameLookup::substringsOfLength(std::size_t length) {
  auto [it, made] = bySubstring_.try_emplace(length);
  auto& index = it->second;
  if (!made) return index;
  for (std::size_t i = 0; i < numbers_.size(); ++i) {
    const std::string_view text = numbers_[i];
    for (std::size_t start = 0; start + length <= text.size(); ++start) {
      auto& holders = index[text.substr(start, length)];
      // A contact is listed once per substring, and the contacts in list order.
      if (holders.empty() || holders.back() != static_cast<std::int32_t>(i)) {
        holders.push_back(static_cast<std::int32_t>(i));
      }
    }
  }
  return index;
}

NameLookup& nameLookupOf(ScanLists& lists) {
  if (!lists.nameLookup || lists.nameLookup->contactCount() != lists.contactArray.size()) {
    lists.nameLookup = std::make_shared<NameLookup>(lists.contactArray);
  }
  return *lists.nameLookup;
}
