// The vCard writer: one contact as a vCard 3.0 card with its photo embedded as Base64.
//
// Card layout, each line but the last ending in CR LF: BEGIN:VCARD, VERSION:3.0, N: with the
// name's parts (family;given;middle;prefix;suffix; a record without parts has its whole name
// as the family name), FN: with the whole display name, ORG: (written even when empty), then
// one line per value: EMAIL;TYPE=INTERNET, TEL, ADR (;;street;city;state;postcode;country)
// and URL, each with its label as TYPE (CELL, HOME, WORK, … or the label as typed) and the
// first of each kind marked TYPE=PREF; a kind without values but with text in the record's
// string gives one line with that text. Then PHOTO;ENCODING=b;TYPE=JPEG: (only with a
// photo, one unbroken line) and END:VCARD. Values are escaped as vCard 3.0 requires
// (backslash, comma, semicolon, line breaks), so a name such as "Berg, Anna" stays one value
// for every reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "extract/item_records.h"

class MzVCFController {
 public:
  // The standard Base64 alphabet.
  static constexpr const char* kBase64Charset =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

  std::string strContent;  // the card being built
  std::int32_t itemCount = 0;

  // Builds the card of `contact` into strContent and returns it.
  const std::string& buildCard(const MzContactNode& contact);
  // Builds the card and writes it atomically as UTF-8 to `path`, replacing a file of that
  // name. 0 on success, else the errno value.
  int creatFile(const MzContactNode& contact, const std::string& path);

  // Encodes `srcLen` bytes of `src` with the 64-character alphabet `charset` into `dest`
  // (capacity `destLen`), padding with "=" to a multiple of 4 when `padded`. Returns the
  // number of characters written; 0 when a pointer is null, a length is 0 or `dest` is too
  // small for the whole encoding (at least 4 * ceil(srcLen / 3) characters with padding).
  // Nothing is written past dest[destLen - 1], and no terminating NUL is added.
  static std::size_t baseEncode(const std::uint8_t* src, std::size_t srcLen, char* dest,
                                std::size_t destLen, const char* charset, bool padded);

  // The number of characters baseEncode writes for `srcLen` bytes.
  static std::size_t encodedLength(std::size_t srcLen, bool padded);

  // A value escaped for a vCard 3.0 line: "\" "," ";" as "\\" "\," "\;", a line break (CR LF,
  // LF or CR) as "\n".
  static std::string escapeValue(std::string_view value);
};
