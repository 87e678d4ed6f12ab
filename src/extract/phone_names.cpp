#include "extract/phone_names.h"

#include <algorithm>
#include <string_view>

namespace {

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
