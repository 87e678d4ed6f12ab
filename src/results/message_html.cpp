#include "results/message_html.h"

#include <filesystem>
#include <system_error>

namespace {

// The text a missing name prints as.
constexpr const char* kMissingText = "(null)";

std::string optionalText(const std::optional<std::string>& value) {
  return value ? *value : std::string(kMissingText);
}

std::string percentEncoded(std::string_view text, bool keepSlash) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool keep = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                      u == '-' || u == '.' || u == '_' || u == '~' || (keepSlash && u == '/');
    if (keep) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    }
  }
  return out;
}

// The stored file's path made absolute, so that the page's link does not depend on the
// folder the recovery was run from.
std::string absolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

}  // namespace

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string fileUrl(std::string_view path) { return "file://" + percentEncoded(path, true); }

std::string relativeUrl(std::string_view name) { return percentEncoded(name, false); }

std::string messagePageTitle(const std::string& deviceName) {
  return escapeHtml(deviceName + "'s Message");
}

int handleFatherMessageHtml(const MzMessageTreeNode& conversation, MzHtmlController& builder) {
  builder.addHtmlContent("<p><h3>Name: " + escapeHtml(conversation.messageTreeNodeName) + " ");
  builder.addHtmlContent("&nbsp;&nbsp;Phone: " + escapeHtml(conversation.messageTreeNodeAdress) +
                         " ");
  return 0;
}

int handleMessageHtml(const MzMessageNode& message, MzHtmlController& builder, bool isFarther,
                      const std::optional<std::string>& pictureUrl) {
  const std::string name = optionalText(message.messageName);
  const std::string date = escapeHtml(message.messageDate);
  if (isFarther) {
    builder.addHtmlContent("<p><h3>Name: " + escapeHtml(name) + " ");
    builder.addHtmlContent("&nbsp;&nbsp;Phone: " + escapeHtml(message.messagePhone) + " ");
    builder.addHtmlContent("&nbsp;&nbsp;Email: </h3><hr/><p>");
  }
  if (name.empty() || name == " ") {
    builder.addHtmlContent("<p class='name'>Name: Me &nbsp;&nbsp; Date: " + date + " <p>");
  } else {
    builder.addHtmlContent("<p class='name'>Name: " + escapeHtml(name) +
                           " &nbsp;&nbsp; Date: " + date + " <p>");
  }
  if (message.isHasAttach) {
    std::string source;
    if (pictureUrl) {
      source = escapeHtml(*pictureUrl);
    } else if (message.attachmentPath) {
      source = escapeHtml(fileUrl(absolutePath(*message.attachmentPath)));
    }
    if (message.messageType == "Received") {
      builder.addHtmlContent("<p><img src='" + source + "'/></p>");
    } else {
      builder.addHtmlContent("<p class='imgdic'><img src='" + source + "'/></p>");
    }
  } else if (message.messageType == "Send") {
    builder.addHtmlContent("<p class='triangle-isosceles2'> " + escapeHtml(message.messageContent) +
                           " </p>");
  } else {
    builder.addHtmlContent("<p class='triangle-isosceles'> " + escapeHtml(message.messageContent) +
                           " </p>");
  }
  return 0;
}
