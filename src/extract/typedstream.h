// The text of a message body archived as an NSAttributedString in Apple's typedstream format
// (the `attributedBody` column of current message databases, written when `text` is empty).
//
// A typedstream begins with the signature "\x04\x0Bstreamtyped" and a system version, then
// the archived objects. The string of an attributed string is archived as an object of class
// NSString (or NSMutableString): after its class name comes the type code '+' and the UTF-8
// bytes with their length before them, a byte for lengths up to 127, else 0x81 and a 16-bit
// or 0x82 and a 32-bit little-endian length. The reader finds that first string and nothing
// else (the attributes after it are not needed for the text); it reads only within the blob,
// and a damaged, cut-short or foreign blob gives none, never a partial or invented text.
// Attachment placeholders (U+FFFC) stay in the text, one per attachment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The text archived in `blob`, or none when it holds no readable string.
std::optional<std::string> attributedBodyText(const std::uint8_t* blob, std::size_t size);
