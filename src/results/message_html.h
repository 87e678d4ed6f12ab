// The fragments of a conversation page: the conversation heading and one entry per message.
//
// Every text taken from the data (names, addresses, dates, message texts) is escaped before
// it is inserted, so a message that contains markup shows as that text and cannot run script
// in the reader's browser. A picture's source is the copy the recovery made beside the page,
// by a relative URL, else the percent-encoded file URL of the stored attachment (by its
// absolute path) in the backup folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "extract/item_records.h"
#include "results/html_controller.h"

// `text` with & < > " ' replaced by their character references.
std::string escapeHtml(std::string_view text);
// "file://" and the path with every byte but the unreserved characters and "/" as %XX.
std::string fileUrl(std::string_view path);
// A relative URL of the file `name` in the page's folder: every byte but the unreserved
// characters as %XX.
std::string relativeUrl(std::string_view name);

// The page title "%@'s Message" of the device name, escaped.
std::string messagePageTitle(const std::string& deviceName);

// Appends "<p><h3>Name: NAME &nbsp;&nbsp;Phone: ADDRESS " (the heading is left open).
int handleFatherMessageHtml(const MzMessageTreeNode& conversation, MzHtmlController& builder);

// Appends the message's name line ("Me" when its name is empty or a single blank), then its
// picture (for an attachment: unclassed when received, class imgdic otherwise) or its text
// (a green bubble, triangle-isosceles2, when sent; grey, triangle-isosceles, otherwise). With
// `isFarther` a heading for the message itself comes first. The picture's source is
// `pictureUrl` when given, else the file URL of the stored attachment made absolute.
int handleMessageHtml(const MzMessageNode& message, MzHtmlController& builder, bool isFarther,
                      const std::optional<std::string>& pictureUrl = std::nullopt);
