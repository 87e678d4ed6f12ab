// The conversation page builder: one self-contained HTML page per conversation, written as
// UTF-16 (little-endian) with a byte-order mark.
//
// The builder only joins fragments; the fragments of a conversation and its messages come
// from message_html.h, which escapes every text it inserts.
#pragma once

#include <string>
#include <string_view>

// The page's style sheet: the chat bubbles, the heading and the layout.
extern const char* const kMessagePageStyleSheet;

class MzHtmlController {
 public:
  std::string strHtmlContent;  // the page so far, UTF-8

  // Starts the page over with its head: the title (already escaped) in the title element and
  // in the h1 heading, the style sheet, and the opened container.
  void initMessageHtmlHeader(const std::string& title);
  // Appends a fragment.
  void addHtmlContent(std::string_view fragment);
  // The whole page with its tail, as the bytes written: byte-order mark, then UTF-16LE.
  std::string pageBytes() const;
  // Appends the tail and writes the page atomically to `path`, replacing a file of that
  // name. 0 on success, else the errno value.
  int writeHtmlInPath(const std::string& path);

  static constexpr const char* kPageTail = "</div></div></body></html>";
};

// UTF-8 text as UTF-16LE bytes after the byte-order mark FF FE; a byte sequence that is not
// valid UTF-8 becomes U+FFFD.
std::string utf16LittleEndianWithBom(std::string_view utf8);
