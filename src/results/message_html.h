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
#include <vector>

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

// Where the recovery put each attachment of a message, in the message's order: the relative
// URL of the copy beside the page, or none when nothing was copied.
using AttachmentUrls = std::vector<std::optional<std::string>>;

// Appends a message of a current database: its sender, date and service; the message it
// replies to; its text in the bubble of its direction, with each attachment at its place
// holder (U+FFFC) in the text (pictures shown, other files linked, files missing from the
// backup named as missing) and any attachment without a place holder after the text; its
// reactions as small marks with their senders; "Edited" or "Unsent" under it.
void handleCurrentMessageHtml(const MzMessageNode& message, MzHtmlController& builder,
                              const AttachmentUrls& urls);

// The mark a reaction shows as ("♥" for "Loved", …; the emoji of "Reacted").
std::string reactionMark(const MzMessageReaction& reaction);
