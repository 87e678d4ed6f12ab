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

std::string reactionMark(const MzMessageReaction& reaction) {
  // The marks the device draws where a font has them: a heart, thumbs, "HA HA", "!!", "?".
  static const std::pair<const char*, const char*> kMarks[] = {
      {"Loved", "\u2665"},  {"Liked", "\U0001F44D"},  {"Disliked", "\U0001F44E"},
      {"Laughed", "HA HA"}, {"Emphasized", "\u203C"}, {"Questioned", "?"},
      {"Sticker", "\u25A3"}};
  if (!reaction.emoji.empty()) return reaction.emoji;
  for (const auto& [kind, mark] : kMarks) {
    if (reaction.kind == kind) return mark;
  }
  return "*";
}

namespace {

constexpr std::string_view kPlaceHolder = "\xEF\xBF\xBC";

std::string attachmentHtml(const MzMessageAttachment& attachment,
                           const std::optional<std::string>& url) {
  const std::string name = escapeHtml(attachment.name);
  if (!url) {
    return "<span style='color:#999'>[" + escapeHtml(attachment.kind) + ": " + name +
           (attachment.storedPath ? "" : ", not in the backup") + "]</span>";
  }
  if (attachment.kind == "Image") {
    return "<img style='max-width:200px' alt='" + name + "' src='" + escapeHtml(*url) + "'/>";
  }
  return "<a href='" + escapeHtml(*url) + "'>[" + escapeHtml(attachment.kind) + ": " + name +
         "]</a>";
}

}  // namespace

void handleCurrentMessageHtml(const MzMessageNode& message, MzHtmlController& builder,
                              const AttachmentUrls& urls) {
  std::string line =
      "<p class='name'>" + escapeHtml(message.sender.empty() ? std::string("Me") : message.sender);
  line += " &nbsp;&nbsp; Date: " + escapeHtml(message.messageDate);
  if (!message.service.empty()) line += " &nbsp;&nbsp; " + escapeHtml(message.service);
  if (message.bDeleted) line += " &nbsp;&nbsp; (deleted)";
  builder.addHtmlContent(line + "</p>");
  if (message.replyTo) {
    builder.addHtmlContent("<p style='color:#777;margin:0'>&#8618; " +
                           escapeHtml(*message.replyTo) + "</p>");
  }
  const bool sent = message.messageType == "Send";
  std::string body;
  if (message.unsent) {
    body = "<i>Unsent</i>";
  } else {
    std::size_t next = 0;
    std::string_view text = message.messageContent;
    for (std::size_t at = text.find(kPlaceHolder); at != std::string_view::npos;
         at = text.find(kPlaceHolder)) {
      body += escapeHtml(text.substr(0, at));
      if (next < message.attachments.size()) {
        body += attachmentHtml(message.attachments[next],
                               next < urls.size() ? urls[next] : std::nullopt);
        ++next;
      }
      text.remove_prefix(at + kPlaceHolder.size());
    }
    body += escapeHtml(text);
    for (; next < message.attachments.size(); ++next) {
      body += "<br/>" + attachmentHtml(message.attachments[next],
                                       next < urls.size() ? urls[next] : std::nullopt);
    }
  }
  builder.addHtmlContent(std::string("<p class='") +
                         (sent ? "triangle-isosceles2" : "triangle-isosceles") + "'> " + body +
                         " </p>");
  std::string under;
  for (const auto& reaction : message.reactions) {
    if (!under.empty()) under += " &nbsp;";
    under += escapeHtml(reactionMark(reaction)) + " " + escapeHtml(reaction.kind) + " by " +
             escapeHtml(reaction.sender);
  }
  if (message.edited) under += std::string(under.empty() ? "" : " &nbsp;") + "Edited";
  if (!under.empty()) {
    builder.addHtmlContent(std::string("<p style='color:#777;margin-top:-2.5em") +
                           (sent ? ";text-align:right" : "") + "'>" + under + "</p>");
  }
}
