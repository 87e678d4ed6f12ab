#include "catalogue/xml_plist_reader.h"

#include <charconv>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// libplist and the sync software count dates from 2001-01-01 UTC; an unreadable date is that.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

// A string or key ends at its first NUL, as any C reader of the value would see it.
std::string endAtNul(std::string s) {
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Appends `raw` with its entity and character references replaced; a reference that is
// unknown or malformed is kept as written.
void appendDecoded(std::string& out, std::string_view raw) {
  while (!raw.empty()) {
    const std::size_t amp = raw.find('&');
    out.append(raw.substr(0, amp));
    if (amp == std::string_view::npos) return;
    raw.remove_prefix(amp);
    const std::size_t semi = raw.substr(0, 12).find(';');
    const std::string_view name =
        semi == std::string_view::npos ? std::string_view() : raw.substr(1, semi - 1);
    std::uint32_t code = 0;
    bool known = true;
    if (name == "amp") {
      code = '&';
    } else if (name == "lt") {
      code = '<';
    } else if (name == "gt") {
      code = '>';
    } else if (name == "quot") {
      code = '"';
    } else if (name == "apos") {
      code = '\'';
    } else if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      auto [end, ec] =
          std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
      known = ec == std::errc() && end == digits.data() + digits.size() && code <= 0x10FFFF;
    } else {
      known = false;
    }
    if (!known) {
      out += '&';
      raw.remove_prefix(1);
      continue;
    }
    appendUtf8(out, code);
    raw.remove_prefix(semi + 1);
  }
}

std::vector<std::uint8_t> base64Decoded(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = -1;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    if (c >= '0' && c <= '9') v = c - '0' + 52;
    if (c == '+') v = 62;
    if (c == '/') v = 63;
    if (c == '=') break;
    if (v < 0) continue;  // line breaks and indentation
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> count));
    }
  }
  return out;
}

// Seconds since 1970 of a date written "YYYY-MM-DDTHH:MM:SSZ" (UTC), or of 2001-01-01 when
// the text is not such a date.
double dateSeconds(std::string_view t) {
  int field[6] = {};
  const char* p = t.data();
  const char* end = t.data() + t.size();
  for (int i = 0; i < 6; ++i) {
    auto [next, ec] = std::from_chars(p, end, field[i]);
    // A year of 6 digits at most keeps every sum below in range.
    if (ec != std::errc() || field[i] < -999999 || field[i] > 999999) {
      return kSecondsFrom1970To2001;
    }
    p = next;
    if (i < 5) {
      if (p == end) return kSecondsFrom1970To2001;
      ++p;  // one separator: '-', 'T' or ':'
    }
  }
  std::tm tm{};
  tm.tm_year = field[0] - 1900;
  tm.tm_mon = field[1] - 1;
  tm.tm_mday = field[2];
  tm.tm_hour = field[3];
  tm.tm_min = field[4];
  tm.tm_sec = field[5];
  return static_cast<double>(timegm(&tm));
}

// The value of a scalar element from its text, or none for an element a property list does
// not have. Numbers and dates that do not parse read as zero, as libplist reads them.
std::optional<PlistValue> scalar(std::string_view name, std::string text) {
  PlistValue v;
  const std::string_view t = trimmed(text);
  if (name == "string") {
    v.value = endAtNul(std::move(text));
  } else if (name == "true" || name == "false") {
    v.value = name == "true";
  } else if (name == "integer") {
    const std::string_view digits = !t.empty() && t[0] == '+' ? t.substr(1) : t;
    std::int64_t n = 0;
    if (!digits.empty() && digits[0] == '-') {
      std::from_chars(digits.data(), digits.data() + digits.size(), n);
    } else {
      std::uint64_t u = 0;
      std::from_chars(digits.data(), digits.data() + digits.size(), u);
      n = static_cast<std::int64_t>(u);
    }
    v.value = n;
  } else if (name == "real") {
    const std::string_view digits = !t.empty() && t[0] == '+' ? t.substr(1) : t;
    double d = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), d);
    v.value = d;
  } else if (name == "date") {
    v.value = PlistDate{dateSeconds(t)};
  } else if (name == "data") {
    v.value = base64Decoded(t);
  } else {
    return std::nullopt;
  }
  return v;
}

// One pass over the text with an explicit stack of the open containers.
class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::optional<PlistValue> run(PlistRefusal& why) {
    why = PlistRefusal::NotAPropertyList;
    if (startsWith("\xEF\xBB\xBF")) pos_ += 3;  // a UTF-8 byte-order mark
    bool sawPlist = false;
    while (!root_) {
      pos_ = s_.find('<', pos_);
      if (pos_ == std::string_view::npos) return std::nullopt;
      if (startsWith("<!") || startsWith("<?")) {
        if (!skipMarkup()) return std::nullopt;
      } else if (startsWith("</")) {
        if (open_.empty() || !closeTag(open_.back().dict ? "dict" : "array") || !closeOpen()) {
          return std::nullopt;
        }
      } else {
        auto [name, empty] = openTag();
        if (name.empty()) return std::nullopt;
        if (name == "plist") {
          if (sawPlist || !open_.empty()) return std::nullopt;
          sawPlist = true;
        } else if (name == "dict" || name == "array") {
          Open o;
          if (name == "dict") {
            o.dict = std::make_shared<PlistDict>();
          } else {
            o.array = std::make_shared<PlistArray>();
          }
          if (open_.size() >= static_cast<std::size_t>(kMaxPlistNesting)) {
            why = PlistRefusal::NestedTooDeep;
            return std::nullopt;
          }
          open_.push_back(std::move(o));
          if (empty && !closeOpen()) return std::nullopt;
        } else {
          std::optional<std::string> content = empty ? std::string() : text(name);
          if (!content) return std::nullopt;
          if (name == "key") {
            if (open_.empty() || !open_.back().dict || open_.back().key) return std::nullopt;
            open_.back().key = endAtNul(std::move(*content));
          } else {
            auto v = scalar(name, std::move(*content));
            if (!v || !place(std::move(*v))) return std::nullopt;
          }
        }
      }
    }
    why = PlistRefusal::None;
    return std::move(root_);
  }

 private:
  struct Open {
    std::shared_ptr<PlistDict> dict;    // set for a dictionary
    std::shared_ptr<PlistArray> array;  // set for an array
    std::optional<std::string> key;     // a dictionary's key still waiting for its value
  };

  bool startsWith(std::string_view p) const { return s_.substr(pos_, p.size()) == p; }

  // Moves past the next `end`; false when there is none.
  bool skipPast(std::string_view end) {
    const std::size_t at = s_.find(end, pos_);
    if (at == std::string_view::npos) return false;
    pos_ = at + end.size();
    return true;
  }

  // At "<!" or "<?": skips a comment, a CDATA section, a processing instruction or a
  // document type declaration (with its internal subset in brackets).
  bool skipMarkup() {
    if (startsWith("<!--")) return skipPast("-->");
    if (startsWith("<![CDATA[")) return skipPast("]]>");
    if (startsWith("<?")) return skipPast("?>");
    int brackets = 0;
    char quote = 0;
    for (++pos_; pos_ < s_.size(); ++pos_) {
      const char c = s_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        --brackets;
      } else if (c == '>' && brackets <= 0) {
        ++pos_;
        return true;
      }
    }
    return false;
  }

  // At "<name ...>": the element's name (empty when the tag is malformed) and whether the
  // tag closes itself ("<name/>"); moves past the tag.
  std::pair<std::string_view, bool> openTag() {
    std::size_t i = pos_ + 1;
    while (i < s_.size() && !isSpace(s_[i]) && s_[i] != '/' && s_[i] != '>') ++i;
    const std::string_view name = s_.substr(pos_ + 1, i - pos_ - 1);
    char quote = 0;
    for (; i < s_.size(); ++i) {
      const char c = s_[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        pos_ = i + 1;
        return {name, s_[i - 1] == '/'};
      }
    }
    return {};
  }

  // At "</": moves past "</name>" (blanks allowed before '>'); false for another tag.
  bool closeTag(std::string_view name) {
    if (s_.substr(pos_ + 2, name.size()) != name) return false;
    std::size_t i = pos_ + 2 + name.size();
    while (i < s_.size() && isSpace(s_[i])) ++i;
    if (i >= s_.size() || s_[i] != '>') return false;
    pos_ = i + 1;
    return true;
  }

  // The text of a scalar element up to "</name>", references replaced and CDATA kept as
  // written; none when the element is unclosed or holds an element.
  std::optional<std::string> text(std::string_view name) {
    std::string out;
    for (;;) {
      const std::size_t lt = s_.find('<', pos_);
      if (lt == std::string_view::npos) return std::nullopt;
      appendDecoded(out, s_.substr(pos_, lt - pos_));
      pos_ = lt;
      if (startsWith("<![CDATA[")) {
        const std::size_t start = pos_ + 9;
        if (!skipPast("]]>")) return std::nullopt;
        out.append(s_.substr(start, pos_ - 3 - start));
      } else if (startsWith("<!--")) {
        if (!skipPast("-->")) return std::nullopt;
      } else if (startsWith("</") && closeTag(name)) {
        return out;
      } else {
        return std::nullopt;
      }
    }
  }

  // Closes the innermost container and places it in the one around it.
  bool closeOpen() {
    Open done = std::move(open_.back());
    open_.pop_back();
    if (done.key) return false;  // a key without its value
    PlistValue v;
    if (done.dict) {
      v.value = std::move(done.dict);
    } else {
      v.value = std::move(done.array);
    }
    return place(std::move(v));
  }

  // Adds a finished value to the innermost open container, or makes it the top value.
  bool place(PlistValue v) {
    if (open_.empty()) {
      root_ = std::move(v);
      return true;
    }
    Open& o = open_.back();
    if (o.array) {
      o.array->push_back(std::move(v));
      return true;
    }
    if (!o.key) return false;  // a value without a key
    // Writers sort the keys, so the end is where a key usually goes.
    o.dict->insert_or_assign(o.dict->end(), std::move(*o.key), std::move(v));
    o.key.reset();
    return true;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  std::vector<Open> open_;
  std::optional<PlistValue> root_;
};

}  // namespace

std::optional<PlistValue> parseXmlPlist(std::string_view text, PlistRefusal* refusal) {
  PlistRefusal why = PlistRefusal::None;
  auto value = Parser(text).run(why);
  if (refusal) *refusal = why;
  return value;
}
