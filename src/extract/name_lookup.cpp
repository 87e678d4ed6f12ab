#include "extract/name_lookup.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>

#include "extract/scan_lists.h"

namespace {

// The number as the lookup compares it: without "-", "(", ")" and " ", ASCII letters in
// lower case (the comparison ignores ASCII case only). Writes at most text.size() characters
// to `out` and returns how many.
std::size_t writeComparable(std::string_view text, char* out) {
  std::size_t n = 0;
  for (char c : text) {
    if (c == '-' || c == '(' || c == ')' || c == ' ') continue;
    out[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return n;
}

std::string comparableNumber(std::string_view text) {
  std::string out(text.size(), '\0');
  out.resize(writeComparable(text, out.data()));
  return out;
}

// The comparable form of an asked number, kept on the stack when it is short.
class ComparableNumber {
 public:
  explicit ComparableNumber(std::string_view text) {
    if (text.size() <= sizeof short_) {
      size_ = writeComparable(text, short_);
    } else {
      long_ = comparableNumber(text);
      size_ = long_.size();
    }
  }
  std::string_view view() const {
    return long_.empty() ? std::string_view(short_, size_) : std::string_view(long_);
  }

 private:
  char short_[32];
  std::size_t size_ = 0;
  std::string long_;
};

std::uint64_t load64(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

std::uint64_t load32(const char* at) {
  std::uint32_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// A hash of the whole text, and its first 16 bytes as two little-endian words, zero past
// the end of the text.
std::uint64_t textKey(std::string_view text, std::uint64_t words[2]) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
  const char* p = text.data();
  const std::size_t n = text.size();
  // The first 16 bytes as two little-endian words, zero past the end of the text; the
  // overlapping loads never read outside it.
  if constexpr (std::endian::native == std::endian::little) {
    if (n >= 16) {
      words[0] = load64(p);
      words[1] = load64(p + 8);
    } else if (n > 8) {
      words[0] = load64(p);
      words[1] = load64(p + n - 8) >> (8 * (16 - n));
    } else if (n == 8) {
      words[0] = load64(p);
      words[1] = 0;
    } else if (n >= 4) {
      words[0] = load32(p) | ((load32(p + n - 4) >> (8 * (8 - n))) << 32);
      words[1] = 0;
    } else {
      words[0] = 0;
      for (std::size_t i = 0; i < n; ++i) {
        words[0] |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
      }
      words[1] = 0;
    }
  } else {
    unsigned char bytes[16] = {};
    for (std::size_t i = 0; i < std::min<std::size_t>(n, 16); ++i) {
      bytes[i] = static_cast<unsigned char>(p[i]);
    }
    std::memcpy(words, bytes, sizeof bytes);
  }
  std::uint64_t hash = (n * kMultiplier) ^ words[0];
  hash = (hash * kMultiplier) ^ (hash >> 29) ^ words[1];
  hash *= kMultiplier;
  // The rest of a longer text, a byte at a time: numbers are rarely longer.
  for (std::size_t i = 16; i < n; ++i) {
    hash = (hash ^ static_cast<unsigned char>(p[i])) * kMultiplier;
  }
  return hash ^ (hash >> 32);
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
    const std::size_t head = ownKeyHead(key);
    ownKeyHeads_[head / 64] |= std::uint64_t{1} << (head % 64);
    auto [it, made] = shortestTextByKeyLength_.try_emplace(key.size(), numbers_[i].size());
    if (!made) it->second = std::min(it->second, numbers_[i].size());
  }
  for (const std::string& text : numbers_) {
    longestNumber_ = std::max(longestNumber_, text.size());
    // A text far longer than any phone number (damaged contact data) is not hashed: its
    // substrings would cost more than every lookup saves, and the bitset then rules out
    // nothing by the number's key.
    if (text.size() > kMostHashedText) {
      hashedEveryNumber_ = false;
      continue;
    }
    const std::string_view view = text;
    for (std::size_t start = 0; start < view.size(); ++start) {
      const std::size_t most = std::min(kMostHashedSubstring, view.size() - start);
      for (std::size_t length = 1; length <= most; ++length) {
        const std::size_t bit = substringBit(view.substr(start, length));
        substringBits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
      }
    }
  }
}

std::size_t NameLookup::substringBit(std::string_view text) {
  std::uint64_t words[2];
  return static_cast<std::size_t>(textKey(text, words) >> 46);  // kSubstringBits is 2^18
}

bool NameLookup::mayMatch(std::string_view number, std::size_t minKeyLength) const {
  minKeyLength = std::max<std::size_t>(minKeyLength, 1);
  // The number's key in a contact's number at least as long (firstMatchByNumberKey).
  const std::string_view key = keyOf(number);
  if (key.size() >= minKeyLength && longestNumber_ >= number.size()) {
    if (key.size() > kMostHashedSubstring || !hashedEveryNumber_) return true;
    const std::size_t bit = substringBit(key);
    if ((substringBits_[bit / 64] & (std::uint64_t{1} << (bit % 64))) != 0) return true;
  }
  // A contact's own key in the number (firstMatchByOwnKey).
  for (const auto& [length, shortestText] : shortestTextByKeyLength_) {
    if (length < minKeyLength || length > number.size() || shortestText >= number.size()) continue;
    for (std::size_t start = 0; start + length <= number.size(); ++start) {
      const std::size_t head = ownKeyHead(number.substr(start, length));
      if ((ownKeyHeads_[head / 64] & (std::uint64_t{1} << (head % 64))) != 0) return true;
    }
  }
  return false;
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
  auto& answers = minKeyLength >= 6 ? pictureAnswers_ : plainAnswers_;
  if (const std::int32_t* known = answers.find(phone)) return *known;
  const ComparableNumber comparable(phone);
  const std::string_view number = comparable.view();
  // A number no contact can match is answered at once and not remembered: the table keeps
  // only the answers that took a search.
  if (number.empty() || !mayMatch(number, minKeyLength)) return kNoContact;
  const std::int32_t match = firstMatch(number, minKeyLength);
  answers.remember(phone, match);
  return match;
}


std::uint64_t NameLookup::RememberedAnswers::keyOf(std::string_view text,
                                                   std::uint64_t words[2]) {
  return textKey(text, words);
}

bool NameLookup::RememberedAnswers::holds(const Slot& slot, std::string_view text,
                                          const std::uint64_t words[2]) const {
  if (slot.length != text.size()) return false;
  if (text.size() <= kInlineText) return slot.words[0] == words[0] && slot.words[1] == words[1];
  return texts_.compare(slot.words[0], text.size(), text) == 0;
}

const std::int32_t* NameLookup::RememberedAnswers::find(std::string_view text) const {
  if (slots_.empty() || text.size() >= kEmpty) return nullptr;
  std::uint64_t words[2];
  const std::uint64_t hash = keyOf(text, words);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.length == kEmpty) return nullptr;
    if (slot.hash == hash && holds(slot, text, words)) return &slot.answer;
  }
}

void NameLookup::RememberedAnswers::remember(std::string_view text, std::int32_t answer) {
  // A text too long for a slot's length is answered anew each time instead.
  if (text.size() >= kEmpty) return;
  if (2 * (used_ + 1) > slots_.size()) grow();
  Slot slot{0, static_cast<std::uint32_t>(text.size()), answer, {0, 0}};
  slot.hash = keyOf(text, slot.words);
  if (text.size() > kInlineText) {
    slot.words[0] = texts_.size();
    texts_.append(text);
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = slot.hash & mask;
  while (slots_[i].length != kEmpty) i = (i + 1) & mask;
  slots_[i] = slot;
  ++used_;
}

void NameLookup::RememberedAnswers::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 256 : 2 * old.size(), Slot{0, kEmpty, 0, {0, 0}});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.length == kEmpty) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].length != kEmpty) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::int32_t NameLookup::firstMatch(std::string_view number, std::size_t minKeyLength) {
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
      const std::string_view piece = number.substr(start, length);
      const std::size_t head = ownKeyHead(piece);
      if ((ownKeyHeads_[head / 64] & (std::uint64_t{1} << (head % 64))) == 0) continue;
      const auto it = byOwnKey_.find(piece);
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

std::size_t NameLookup::ownKeyHead(std::string_view key) {
  std::uint64_t head = key.size();
  for (std::size_t i = 0; i < key.size() && i < 4; ++i) {
    head = (head << 8) | static_cast<unsigned char>(key[i]);
  }
  head *= 0x9E3779B97F4A7C15ULL;
  return static_cast<std::size_t>(head >> 48);  // kOwnKeyHeadBits is 2^16
}

// Contacts whose text is not shorter than the number: the number's key must occur in it.
std::int32_t NameLookup::firstMatchByNumberKey(std::string_view number, std::size_t minKeyLength) {
  const std::string_view key = keyOf(number);
  if (key.size() < minKeyLength) return kNoContact;
  const auto& index = substringsOfLength(key.size());
  std::uint64_t words[2];
  const std::uint64_t hash = textKey(key, words);
  auto it = std::lower_bound(index.begin(), index.end(), hash,
                             [](const Substring& s, std::uint64_t h) { return s.hash < h; });
  // The contacts with a substring of this hash, in list order; another text of the same hash
  // is passed over.
  for (; it != index.end() && it->hash == hash; ++it) {
    const std::string& text = numbers_[it->contact];
    if (text.compare(it->start, key.size(), key) != 0) continue;
    if (text.size() >= number.size()) return it->contact;
  }
  return kNoContact;
}

const std::vector<NameLookup::Substring>& NameLookup::substringsOfLength(std::size_t length) {
  auto [it, made] = bySubstring_.try_emplace(length);
  auto& index = it->second;
  if (!made) return index;
  for (std::size_t i = 0; i < numbers_.size(); ++i) {
    const std::string_view text = numbers_[i];
    for (std::size_t start = 0; start + length <= text.size(); ++start) {
      std::uint64_t words[2];
      index.push_back({textKey(text.substr(start, length), words), static_cast<std::int32_t>(i),
                       static_cast<std::uint32_t>(start)});
    }
  }
  std::sort(index.begin(), index.end(), [](const Substring& a, const Substring& b) {
    return a.hash != b.hash ? a.hash < b.hash : a.contact < b.contact;
  });
  return index;
}

NameLookup& nameLookupOf(ScanLists& lists) {
  if (!lists.nameLookup || lists.nameLookup->contactCount() != lists.contactArray.size()) {
    lists.nameLookup = std::make_shared<NameLookup>(lists.contactArray);
  }
  return *lists.nameLookup;
}
