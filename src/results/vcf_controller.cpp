#include "results/vcf_controller.h"

#include <cstdint>
#include <string>

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

const std::string& MzVCFController::buildCard(const MzContactNode& contact) {
  const std::string name = escapeValue(contact.contactName);
  strContent = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  strContent += "N:" + name + "\r\n";
  strContent += "FN:" + name + "\r\n";
  strContent += "ORG:" + escapeValue(contact.contactCompany) + "\r\n";
  strContent += "EMAIL;INTERNET;HOME;PREF:" + escapeValue(contact.contactEmail) + "\r\n";
  strContent += "TEL;CELL;PREF:" + escapeValue(contact.contactPhone) + "\r\n";
  strContent += "URL:" + escapeValue(contact.contactHomepage) + "\r\n";
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
