#include "device/plist_values.h"

#include <cstdlib>

namespace amd {

std::optional<std::string> plistText(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* text = nullptr;
  plist_get_string_val(node, &text);
  if (text == nullptr) return std::nullopt;
  std::string value(text);
  std::free(text);
  return value;
}

std::optional<std::uint64_t> plistUnsigned(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  std::uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return value;
}

plist_t plistMember(plist_t dictionary, const char* key) {
  if (dictionary == nullptr || plist_get_node_type(dictionary) != PLIST_DICT) return nullptr;
  return plist_dict_get_item(dictionary, key);
}

}  // namespace amd
