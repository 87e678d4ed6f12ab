#include "cli/json_text.h"

#include <charconv>
#include <string_view>

namespace {

using Json = nlohmann::json;

// The length of the well-formed UTF-8 sequence that starts at s[i] (a byte of 0x80 or
// more), or 0 when there is none there: the sequences the library's decoder accepts.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
  auto byte = [&s](std::size_t at) { return static_cast<unsigned char>(s[at]); };
  auto within = [&](std::size_t at, unsigned char low, unsigned char high) {
    return at < s.size() && byte(at) >= low && byte(at) <= high;
  };
  const unsigned char lead = byte(i);
  if (lead >= 0xC2 && lead <= 0xDF) return within(i + 1, 0x80, 0xBF) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return within(i + 1, low, high) && within(i + 2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return within(i + 1, low, high) && within(i + 2, 0x80, 0xBF) && within(i + 3, 0x80, 0xBF) ? 4
                                                                                              : 0;
  }
  return 0;
}

class IndentedWriter {
 public:
  explicit IndentedWriter(std::string& out) : out_(out) {}

  // See escaped().
  bool escapedText(std::string_view text) { return escaped(text); }

  // Appends `value` as the library's pretty printer does at `indent`; false when it holds
  // something left to the library.
  bool write(const Json& value, std::size_t indent) {
    switch (value.type()) {
      case Json::value_t::object: {
        const auto& members = value.get_ref<const Json::object_t&>();
        if (members.empty()) {
          out_ += "{}";
          return true;
        }
        out_ += "{\n";
        bool first = true;
        for (const auto& [key, member] : members) {
          if (!first) out_ += ",\n";
          first = false;
          out_.append(indent + 2, ' ');
          out_ += '"';
          if (!escaped(key)) return false;
          out_ += "\": ";
          if (!write(member, indent + 2)) return false;
        }
        out_ += '\n';
        out_.append(indent, ' ');
        out_ += '}';
        return true;
      }
      case Json::value_t::array: {
        const auto& elements = value.get_ref<const Json::array_t&>();
        if (elements.empty()) {
          out_ += "[]";
          return true;
        }
        out_ += "[\n";
        bool first = true;
        for (const Json& element : elements) {
          if (!first) out_ += ",\n";
          first = false;
          out_.append(indent + 2, ' ');
          if (!write(element, indent + 2)) return false;
        }
        out_ += '\n';
        out_.append(indent, ' ');
        out_ += ']';
        return true;
      }
      case Json::value_t::string:
        out_ += '"';
        if (!escaped(value.get_ref<const Json::string_t&>())) return false;
        out_ += '"';
        return true;
      case Json::value_t::boolean:
        out_ += value.get<bool>() ? "true" : "false";
        return true;
      case Json::value_t::number_integer:
        return number(value.get<Json::number_integer_t>());
      case Json::value_t::number_unsigned:
        return number(value.get<Json::number_unsigned_t>());
      case Json::value_t::number_float:
        out_ += value.dump();  // the library's own shortest digits
        return true;
      case Json::value_t::null:
        out_ += "null";
        return true;
      case Json::value_t::binary:
      case Json::value_t::discarded:
        break;
    }
    return false;
  }

 private:
  template <typename Number>
  bool number(Number n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out_.append(digits, end);
    return true;
  }

  // Appends `text` escaped as the library does without ensure_ascii: the quotation mark, the
  // reverse solidus and the control characters, those with a short form by it; false when
  // the text is not well-formed UTF-8.
  bool escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t run = 0;
    std::size_t i = 0;
    while (i < text.size()) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x80) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
        continue;
      }
      if (c >= 0x20 && c != '"' && c != '\\') {
        ++i;
        continue;
      }
      out_.append(text.data() + run, i - run);
      switch (c) {
        case '\b':
          out_ += "\\b";
          break;
        case '\t':
          out_ += "\\t";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\f':
          out_ += "\\f";
          break;
        case '\r':
          out_ += "\\r";
          break;
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        default:
          out_ += "\\u00";
          out_ += kHex[c >> 4];
          out_ += kHex[c & 0xF];
          break;
      }
      run = ++i;
    }
    out_.append(text.data() + run, text.size() - run);
    return true;
  }

  std::string& out_;
};

}  // namespace

bool appendJsonString(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  out += '"';
  if (!IndentedWriter(out).escapedText(text)) {
    out.resize(start);
    return false;
  }
  out += '"';
  return true;
}

void appendIndentedJson(std::string& out, const nlohmann::json& value, std::size_t indent) {
  const std::size_t start = out.size();
  if (IndentedWriter(out).write(value, indent)) return;
  out.resize(start);
  nlohmann::detail::serializer<nlohmann::json> library(
      nlohmann::detail::output_adapter<char, std::string>(out), ' ',
      nlohmann::json::error_handler_t::replace);
  library.dump(value, true, false, 2, static_cast<unsigned int>(indent));
}

std::string indentedJsonText(const nlohmann::json& doc) {
  std::string text;
  if (!IndentedWriter(text).write(doc, 0)) {
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  return text;
}
