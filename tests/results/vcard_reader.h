// A small independent vCard 3.0 reader for the tests (RFC 2426): unfolds continuation lines,
// splits each line into its name, parameters and value, and unescapes the value.
#pragma once

#include <map>
#include <string>
#include <vector>

struct VCardLine {
  std::string name;                 // upper case, e.g. "TEL"
  std::vector<std::string> params;  // e.g. {"CELL", "PREF"}
  std::string value;                // unescaped
};

struct VCard {
  std::vector<VCardLine> lines;
  bool wellFormed = false;  // BEGIN:VCARD first, END:VCARD last, VERSION:3.0 present

  const VCardLine* find(const std::string& name) const {
    for (const auto& l : lines) {
      if (l.name == name) return &l;
    }
    return nullptr;
  }
  // The values of every line called `name`, in order.
  std::vector<std::string> all(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& l : lines) {
      if (l.name == name) out.push_back(l.value);
    }
    return out;
  }
};

inline std::string unescapeVCardValue(const std::string& v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      const char n = v[++i];
      out += (n == 'n' || n == 'N') ? '\n' : n;
    } else {
      out += v[i];
    }
  }
  return out;
}

inline VCard readVCard(const std::string& text) {
  // Physical lines end in CR LF (a lone LF is accepted); a line starting with a blank or a
  // tab continues the one before.
  std::vector<std::string> logical;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!logical.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      logical.back() += line.substr(1);
    } else {
      logical.push_back(line);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  VCard card;
  for (const auto& l : logical) {
    if (l.empty()) continue;
    const std::size_t colon = l.find(':');
    if (colon == std::string::npos) return card;
    VCardLine line;
    std::string head = l.substr(0, colon);
    std::size_t semi = head.find(';');
    line.name = head.substr(0, semi);
    for (auto& c : line.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (semi != std::string::npos) {
      std::size_t next = head.find(';', semi + 1);
      line.params.push_back(
          head.substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1));
      semi = next;
    }
    line.value = unescapeVCardValue(l.substr(colon + 1));
    card.lines.push_back(std::move(line));
  }
  card.wellFormed = !card.lines.empty() && card.lines.front().name == "BEGIN" &&
                    card.lines.front().value == "VCARD" && card.lines.back().name == "END" &&
                    card.lines.back().value == "VCARD" && card.find("VERSION") != nullptr &&
                    card.find("VERSION")->value == "3.0";
  return card;
}

// Base64 decoding (standard alphabet, padding required) for checking photos.
inline std::vector<unsigned char> decodeBase64(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<unsigned char> out;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const std::size_t v = kAlphabet.find(c);
    if (v == std::string::npos) return {};
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<unsigned char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}
