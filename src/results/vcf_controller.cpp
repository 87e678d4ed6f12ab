#include "results/vcf_controller.h"

#include <cstdint>
#include <string>
#include <utility>

#include "base/conversions.h"
#include "base/log.h"
#include "results/file_copy.h"

std::size_t MzVCFController::encodedLength(std::size_t srcLen, bool padded) {
  const std::size_t full = srcLen / 3 * 4;
  const std::size_t rest = srcLen % 3;
  if (rest == 0) return full;
  return full + (padded ? 4 : rest + 1);
}

std::size_t MzVCFController::baseEncode(const std::uint8_t* src, std::size_t srcLen, char* dest,
                                        std::size_t destLen, const char* charset, bool padded) {
  if (src == nullptr || dest == nullptr || charset == nullptr || srcLen == 0 || destLen == 0) {
    return 0;
  }
  if (srcLen / 3 > (SIZE_MAX - 4) / 4 || encodedLength(srcLen, padded) > destLen) {
    applog::line("our calc for encoded length was wrong");
    return 0;
  }
  std::size_t out = 0;
  std::size_t i = 0;
  for (; i + 3 <= srcLen; i += 3) {
    const std::uint32_t v = (std::uint32_t{src[i]} << 16) | (std::uint32_t{src[i + 1]} << 8) |
                            std::uint32_t{src[i + 2]};
    dest[out++] = charset[(v >> 18) & 0x3F];
    dest[out++] = charset[(v >> 12) & 0x3F];
    dest[out++] = charset[(v >> 6) & 0x3F];
    dest[out++] = charset[v & 0x3F];
  }
  const std::size_t rest = srcLen - i;
  if (rest > 0) {
    std::uint32_t v = std::uint32_t{src[i]} << 16;
    if (rest == 2) v |= std::uint32_t{src[i + 1]} << 8;
    dest[out++] = charset[(v >> 18) & 0x3F];
    dest[out++] = charset[(v >> 12) & 0x3F];
    if (rest == 2) {
      dest[out++] = charset[(v >> 6) & 0x3F];
    } else if (padded) {
      dest[out++] = '=';
    }
    if (padded) dest[out++] = '=';
  }
  return out;
}

std::string MzVCFController::escapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case ',':
        out += "\\,";
        break;
      case ';':
        out += "\\;";
        break;
      case '\r':
        if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// The TYPE parameters of a value with `label`: the vCard names of the usual labels, else the
// label itself, quoted when it holds a character a parameter cannot carry bare.
std::string typeParameters(const std::string& label) {
  static const std::pair<const char*, const char*> kTypes[] = {{"Mobile", "CELL"},
                                                               {"Home", "HOME"},
                                                               {"Work", "WORK"},
                                                               {"Main", "MAIN"},
                                                               {"Other", "OTHER"},
                                                               {"HomePage", "HOME"},
                                                               {"Pager", "PAGER"},
                                                               {"HomeFAX", "HOME;TYPE=FAX"},
                                                               {"WorkFAX", "WORK;TYPE=FAX"},
                                                               {"iPhone", "IPHONE"}};
  if (label.empty()) return "";
  for (const auto& [name, type] : kTypes) {
    if (label == name) return std::string(";TYPE=") + type;
  }
  std::string text;
  bool quote = false;
  for (char c : label) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || u < 0x20 || u == 0x7F) {
      text += ' ';  // a parameter value cannot hold these even quoted
      continue;
    }
    if (c == ';' || c == ':' || c == ',') quote = true;
    text += c;
  }
  return ";TYPE=" + (quote ? '"' + text + '"' : text);
}

std::string trimmedBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

const std::string& MzVCFController::buildCard(const MzContactNode& contact) {
  strContent = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  const bool hasParts = !contact.firstName.empty() || !contact.middleName.empty() ||
                        !contact.lastName.empty() || !contact.namePrefix.empty() ||
                        !contact.nameSuffix.empty();
  if (hasParts) {
    strContent += "N:" + escapeValue(contact.lastName) + ";" + escapeValue(contact.firstName) +
                  ";" + escapeValue(contact.middleName) + ";" + escapeValue(contact.namePrefix) +
                  ";" + escapeValue(contact.nameSuffix) + "\r\n";
  } else {
    // A carved record knows only the whole name: it stands as the family name.
    strContent += "N:" + escapeValue(contact.contactName) + ";;;;\r\n";
  }
  strContent += "FN:" + escapeValue(contact.contactName) + "\r\n";
  strContent += "ORG:" + escapeValue(contact.contactCompany) + "\r\n";

  using Kind = MzContactValue::Kind;
  // One line per value; the first of a kind is the preferred one. A kind with no values but
  // text in its string (a carved record) gives one line with that text.
  const auto writeKind = [&](Kind kind, const char* name, const char* fixedType,
                             const std::string& whole) {
    bool first = true;
    for (const auto& v : contact.values) {
      if (v.kind != kind) continue;
      strContent += name;
      strContent += fixedType;
      strContent += typeParameters(v.label);
      if (first) strContent += ";TYPE=PREF";
      first = false;
      if (kind == Kind::Address) {
        const bool hasAddressParts = !v.street.empty() || !v.city.empty() || !v.state.empty() ||
                                     !v.postcode.empty() || !v.country.empty();
        strContent += ":;;" + escapeValue(hasAddressParts ? v.street : v.value) + ";" +
                      escapeValue(v.city) + ";" + escapeValue(v.state) + ";" +
                      escapeValue(v.postcode) + ";" + escapeValue(v.country) + "\r\n";
      } else {
        strContent += ":" + escapeValue(v.value) + "\r\n";
      }
    }
    const std::string text = trimmedBlanks(whole);
    if (first && !text.empty()) {
      strContent += name;
      strContent += fixedType;
      strContent += ";TYPE=PREF:";
      strContent += kind == Kind::Address ? ";;" + escapeValue(text) + ";;;;" : escapeValue(text);
      strContent += "\r\n";
    }
  };
  writeKind(Kind::Email, "EMAIL", ";TYPE=INTERNET", contact.contactEmail);
  writeKind(Kind::Phone, "TEL", "", contact.contactPhone);
  writeKind(Kind::Address, "ADR", "", contact.contactAdress);
  writeKind(Kind::Url, "URL", "", contact.contactHomepage);
  if (const auto birthday = birthdayDate(contact.contactBirthday)) {
    strContent += "BDAY:" + *birthday + "\r\n";
  }
  if (contact.imageData && !contact.imageData->empty()) {
    const auto& bytes = *contact.imageData;
    std::string encoded(encodedLength(bytes.size(), true), '\0');
    const std::size_t n = baseEncode(bytes.data(), bytes.size(), encoded.data(), encoded.size(),
                                     kBase64Charset, true);
    encoded.resize(n);
    strContent += "PHOTO;ENCODING=b;TYPE=JPEG:" + encoded + "\r\n";
  }
  strContent += "END:VCARD";
  return strContent;
}

int MzVCFController::creatFile(const MzContactNode& contact, const std::string& path) {
  int error = 0;
  return writeFileAtomically(path, buildCard(contact), nullptr, &error) ? 0 : error;
}
