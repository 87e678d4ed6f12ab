#include "results/partial_contact_filter.h"

#include "extract/contact_phones.h"

namespace {

bool blank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

bool hasValues(const MzContactNode& c) {
  return !c.values.empty() || !blank(c.contactPhone) || !blank(c.contactEmail) ||
         !blank(c.contactHomepage);
}

}  // namespace

bool isPartOfFiledContact(const MzContactNode& part, const RecordList<MzContactNode>& filed) {
  const bool nameOnly = !blank(part.contactName) && !hasValues(part);
  const bool numbersOnly = blank(part.contactName) && !phoneNumberSet(part).empty();
  if (!nameOnly && !numbersOnly) return false;
  const auto numbers = numbersOnly ? phoneNumberSet(part) : std::vector<std::string>();
  for (const auto& f : filed) {
    if (f == nullptr || f.get() == &part) continue;
    if (nameOnly && f->contactName == part.contactName && hasValues(*f)) return true;
    if (numbersOnly && !blank(f->contactName) && phoneNumberSet(*f) == numbers) return true;
  }
  return false;
}
