#include "results/html_controller.h"

#include <cstdint>

#include "results/file_copy.h"

const char* const kMessagePageStyleSheet =
    "body{padding:0;margin:0;font:1em/1.4 Helvetica,Cambria, Georgia, sans-serif;color:#333;"
    "font-size:12px;background:#fff;}"
    ".date{text-align:center;}"
    "#container{width:500px;padding:0 0 50px;margin:0 auto;}"
    "h1{font-size:18px;text-align:center;font-weight:bold;}"
    "h3{font-size:14px;font-weight:bold;font-style:normal;text-align:left;color:#272727;}"
    ".triangle-isosceles{background:#f3f3f3;word-break:break-all;width:200px;"
    "position:relative;padding:10px;margin:1em 0 3em;"
    "background:-webkit-linear-gradient(top,#f3f3f3,#dedede);"
    "background:-moz-linear-gradient(top,#f3f3f3,#dedede);"
    "background:-o-linear-gradient(top,#f3f3f3,#dedede);"
    "background:linear-gradient(to bottom,#f3f3f3,#dedede);"
    "-webkit-border-radius:10px;-moz-border-radius:10px;border-radius:10px;}"
    ".triangle-isosceles:after{content:'';position:absolute;bottom:-15px;left:30px;"
    "border-width:15px 15px 0;border-style:solid;border-color:#dedede transparent;"
    "display:block;width:0;}"
    ".content{width:400px;position:relative;z-index:1;}"
    ".triangle-isosceles2{background:#addc53;word-break:break-all;width:200px;"
    "position:relative;left:170px;padding:10px;margin:1em 0 3em;"
    "background:-webkit-linear-gradient(top,#addc53,#8eca35);"
    "background:-moz-linear-gradient(top,#addc53,#8eca35);"
    "background:-o-linear-gradient(top,#addc53,#8eca35);"
    "background:linear-gradient(to bottom,#addc53,#8eca35);"
    "-webkit-border-radius:10px;-moz-border-radius:10px;border-radius:10px;}"
    ".triangle-isosceles2:after{content:'';position:absolute;bottom:-15px;right:30px;"
    "border-width:15px 15px 0;border-style:solid;border-color:#8eca35 transparent;"
    "display:block;width:0;}"
    ".triangle-isosceles3{background:#a0cff8;word-break:break-all;width:200px;"
    "position:relative;left:170px;padding:10px;margin:1em 0 3em;"
    "background:-webkit-linear-gradient(top,#a0cff8,#87bfef);"
    "background:-moz-linear-gradient(top,#a0cff8,#87bfef);"
    "background:-o-linear-gradient(top,#a0cff8,#87bfef);"
    "background:linear-gradient(to bottom,#a0cff8,#87bfef);"
    "-webkit-border-radius:10px;-moz-border-radius:10px;border-radius:10px;}"
    ".triangle-isosceles3:after{content:'';position:absolute;bottom:-15px;right:30px;"
    "border-width:15px 15px 0;border-style:solid;border-color:#87bfef transparent;"
    "display:block;width:0;}"
    "hr{height:1px;border:0;border-bottom:1px dotted #cccccc;margin:0;}"
    ".imgdic{left:170px;position:relative;}";

void MzHtmlController::initMessageHtmlHeader(const std::string& title) {
  strHtmlContent = "<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'><title>";
  strHtmlContent += title;
  strHtmlContent += "</title><style>";
  strHtmlContent += kMessagePageStyleSheet;
  strHtmlContent += "</style></head><body><h1>";
  strHtmlContent += title;
  strHtmlContent += "</h1><div id='container'><div class='content'>";
}

void MzHtmlController::addHtmlContent(std::string_view fragment) {
  strHtmlContent.append(fragment);
}

std::string MzHtmlController::pageBytes() const {
  return utf16LittleEndianWithBom(strHtmlContent + kPageTail);
}

int MzHtmlController::writeHtmlInPath(const std::string& path) {
  strHtmlContent += kPageTail;
  int error = 0;
  return writeFileAtomically(path, utf16LittleEndianWithBom(strHtmlContent), nullptr, &error)
             ? 0
             : error;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 character at `text[*i]` and advances `*i`; an invalid sequence gives
// U+FFFD and advances by one byte.
char32_t nextCodePoint(std::string_view text, std::size_t* i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b0 = byte(*i);
  if (b0 < 0x80) {
    ++*i;
    return b0;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, cp = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, cp = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    ++*i;
    return kReplacement;
  }
  if (*i + length > text.size()) {
    ++*i;
    return kReplacement;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char b = byte(*i + k);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*i;
    return kReplacement;
  }
  *i += length;
  return cp;
}

void appendUnit(std::string& out, std::uint16_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

}  // namespace

std::string utf16LittleEndianWithBom(std::string_view utf8) {
  std::string out;
  out.reserve(2 + utf8.size() * 2);
  out += '\xFF';
  out += '\xFE';
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = nextCodePoint(utf8, &i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      appendUnit(out, static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
      appendUnit(out, static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      appendUnit(out, static_cast<std::uint16_t>(cp));
    }
  }
  return out;
}
