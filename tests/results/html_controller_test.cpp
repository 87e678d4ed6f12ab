#include "results/html_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "results/message_html.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

// UTF-16LE bytes after a byte-order mark back to UTF-8 (test helper, BMP and pairs).
std::string fromUtf16(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char32_t u = static_cast<unsigned char>(bytes[i]) |
                 (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      char32_t lo = static_cast<unsigned char>(bytes[i + 2]) |
                    (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      i += 2;
    }
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (u >> 18));
      out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

TEST(HtmlUtf16, ByteOrderMarkPairsAndInvalidBytes) {
  EXPECT_EQ(utf16LittleEndianWithBom("A"), std::string("\xFF\xFE"
                                                       "A\0",
                                                       4));
  EXPECT_EQ(utf16LittleEndianWithBom("\xC3\xA5"), std::string("\xFF\xFE\xE5\x00", 4));  // å
  // U+1F600 as a surrogate pair D83D DE00.
  EXPECT_EQ(utf16LittleEndianWithBom("\xF0\x9F\x98\x80"),
            std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6));
  // A stray continuation byte and a truncated sequence become U+FFFD each.
  EXPECT_EQ(utf16LittleEndianWithBom("\x80"
                                     "a\xE2\x82"),
            std::string("\xFF\xFE\xFD\xFF"
                        "a\0\xFD\xFF\xFD\xFF",
                        10));
  const std::string swedish = "Nynäshamn – 10:35 🚢";
  EXPECT_EQ(fromUtf16(utf16LittleEndianWithBom(swedish)), swedish);
}

MzMessageNode message(std::optional<std::string> name, const std::string& type,
                      const std::string& text) {
  MzMessageNode m;
  m.messageName = std::move(name);
  m.messageType = type;
  m.messageContent = text;
  m.messageDate = "06-01-2013 11:12";
  return m;
}

TEST(HtmlFragments, BubblesPicturesAndTheMeLabel) {
  MzHtmlController page;
  handleMessageHtml(message("Anna Berg", "Send", "hi"), page, false);
  EXPECT_EQ(page.strHtmlContent,
            "<p class='name'>Name: Anna Berg &nbsp;&nbsp; Date: 06-01-2013 11:12 <p>"
            "<p class='triangle-isosceles2'> hi </p>");

  for (const char* type : {"Received", "unknown"}) {
    MzHtmlController p;
    handleMessageHtml(message("Anna", type, "yo"), p, false);
    EXPECT_NE(p.strHtmlContent.find("<p class='triangle-isosceles'> yo </p>"), std::string::npos);
  }
  for (const char* blank : {"", " "}) {
    MzHtmlController p;
    handleMessageHtml(message(std::string(blank), "Send", "x"), p, false);
    EXPECT_NE(p.strHtmlContent.find("Name: Me &nbsp;&nbsp; Date: 06-01-2013 11:12 <p>"),
              std::string::npos);
  }

  MzMessageNode pic = message("Johan", "Received", "\xEF\xBF\xBC");
  pic.isHasAttach = true;
  pic.attachmentPath = "/backups/Emma's iPhone/ab cd#1";
  MzHtmlController received;
  handleMessageHtml(pic, received, false);
  EXPECT_NE(received.strHtmlContent.find(
                "<p><img src='file:///backups/Emma%27s%20iPhone/ab%20cd%231'/></p>"),
            std::string::npos)
      << received.strHtmlContent;
  EXPECT_EQ(received.strHtmlContent.find("triangle"), std::string::npos);  // no text bubble
  pic.messageType = "Send";
  MzHtmlController sent;
  handleMessageHtml(pic, sent, false);
  EXPECT_NE(sent.strHtmlContent.find("<p class='imgdic'><img src='file:///"), std::string::npos);

  // A stored file named from the working folder is linked by its absolute path.
  pic.attachmentPath = "./Backup/ab";
  MzHtmlController relative;
  handleMessageHtml(pic, relative, false);
  const std::string absolute = fileUrl(std::filesystem::current_path().string() + "/Backup/ab");
  EXPECT_NE(relative.strHtmlContent.find("<img src='" + absolute + "'/>"), std::string::npos)
      << relative.strHtmlContent;
  // The copy beside the page, when there is one, by a relative URL.
  MzHtmlController copied;
  handleMessageHtml(pic, copied, false, relativeUrl("ab#1 'x'.jpg"));
  EXPECT_NE(copied.strHtmlContent.find("<img src='ab%231%20%27x%27.jpg'/>"), std::string::npos)
      << copied.strHtmlContent;
}

TEST(HtmlFragments, TextFromTheDataIsEscaped) {
  MzMessageTreeNode conversation;
  conversation.messageTreeNodeName = "<b>Lars</b> & \"Co\"";
  conversation.messageTreeNodeAdress = "+46 8 555";
  MzHtmlController page;
  handleFatherMessageHtml(conversation, page);
  EXPECT_EQ(page.strHtmlContent,
            "<p><h3>Name: &lt;b&gt;Lars&lt;/b&gt; &amp; &quot;Co&quot; "
            "&nbsp;&nbsp;Phone: +46 8 555 ");

  MzHtmlController body;
  handleMessageHtml(message("O'Neil", "Received", "<script>alert(1)</script> <b>bold</b>"), body,
                    false);
  EXPECT_EQ(body.strHtmlContent.find("<script>"), std::string::npos);
  EXPECT_EQ(body.strHtmlContent.find("<b>"), std::string::npos);
  EXPECT_NE(body.strHtmlContent.find("&lt;script&gt;alert(1)&lt;/script&gt; &lt;b&gt;bold"),
            std::string::npos);
  EXPECT_NE(body.strHtmlContent.find("Name: O&#39;Neil"), std::string::npos);

  EXPECT_EQ(messagePageTitle("<Emma>"), "&lt;Emma&gt;&#39;s Message");
}

TEST(HtmlPage, EmptyConversationPageWrittenAsUtf16) {
  TempDir tmp;
  MzHtmlController page;
  page.initMessageHtmlHeader(messagePageTitle("Emma's iPhone"));
  MzMessageTreeNode empty;
  empty.messageTreeNodeName = "Anna";
  handleFatherMessageHtml(empty, page);
  page.addHtmlContent("<hr/>");
  const std::string path = tmp.writeFile("Anna.html", "older page");
  ASSERT_EQ(page.writeHtmlInPath(path), 0);

  const std::string bytes = slurp(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::string text = fromUtf16(bytes);
  EXPECT_EQ(text.rfind("<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'><title>"
                       "Emma&#39;s iPhone&#39;s Message</title><style>",
                       0),
            0u);
  EXPECT_NE(
      text.find("</style></head><body><h1>Emma&#39;s iPhone&#39;s Message</h1><div id='container'>"
                "<div class='content'><p><h3>Name: Anna &nbsp;&nbsp;Phone:  <hr/>"
                "</div></div></body></html>"),
      std::string::npos);
  for (const char* rule : {".triangle-isosceles{", ".triangle-isosceles2:after{", ".imgdic{",
                           "#container{width:500px", "border-color:#8eca35 transparent"}) {
    EXPECT_NE(text.find(rule), std::string::npos) << rule;
  }
  EXPECT_NE(page.writeHtmlInPath(tmp.sub("no/such/folder/p.html")), 0);
}

}  // namespace
