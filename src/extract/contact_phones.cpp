#include "extract/contact_phones.h"

#include <algorithm>

std::string phoneNumberKey(std::string_view number) {
  std::string key;
  const auto first = number.find_first_not_of(' ');
  if (first != std::string_view::npos && number[first] == '+') key += '+';
  bool digits = false;
  for (char c : number) {
    if (c >= '0' && c <= '9') {
      key += c;
      digits = true;
    }
  }
  return digits ? key : std::string(number);
}

std::vector<std::string> phoneNumberSet(const MzContactNode& contact) {
  std::vector<std::string> keys;
  for (const auto& value : contact.values) {
    if (value.kind == MzContactValue::Kind::Phone) keys.push_back(phoneNumberKey(value.value));
  }
  if (keys.empty() && contact.contactPhone.find_first_not_of(' ') != std::string::npos) {
    keys.push_back(phoneNumberKey(contact.contactPhone));
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}
