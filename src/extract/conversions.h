// Conversions every scanner shares: UTF-8 bytes to text, device times to the date text,
// byte counts to the size text, zero-padded numbers, and contact names by phone number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/bytes.h"
#include "extract/item_records.h"

// UTF-8 bytes to text. Decoding stops at the first zero byte; bytes that are not valid
// UTF-8 give the empty text.
std::string GetStringFormChar(const char* bytes);
// The same for bytes with a known length (a zero byte inside still ends the text).
std::string GetStringFormChar(std::string_view bytes);

// Converts the NUL-terminated UTF-8 `bytes` into at most `count` 32-bit code units and
// returns how many were written. A character that cannot be represented becomes '?'.
// Returns 0 for input that is not valid UTF-8 or when `uncode` is null.
std::size_t Char2Unicode(const char* bytes, std::uint32_t* uncode, std::size_t count);

// `seconds` as the wide text "MM-DD-YYYY HH:MM" in the local time zone, or none when it
// cannot be converted. Kind 0 counts from 1970-01-01 UTC; a reading before 1990 is taken to
// count from 2001 instead. Kind 1 counts from 2001-01-01 UTC.
std::optional<std::wstring> GetDateTime(std::int64_t seconds, int fileType);
// The wide date text as text.
std::string GetNSStringDate(const std::wstring& text);
// Both in one: the date text, or "" when there is none.
std::string dateText(std::int64_t seconds, int fileType);

// The size text of a byte count in steps of 1000 ("999.00B", "1.50M"), written into
// `out_buffer` (at least 32 bytes) and returned.
char* size_to_unit(std::uint64_t n, char* out_buffer);
// The same as a string.
std::string sizeText(std::uint64_t n);

// The number as decimal text padded with leading zeros to 8 characters; a longer number
// is returned as it is.
std::string getFullName(std::uint64_t number);

using ContactList = std::vector<std::shared_ptr<MzContactNode>>;

// The name of the first contact in `contacts` whose numbers match `phone`, or none.
std::optional<std::string> getNameByPhoneNumber(const std::string& phone,
                                                const ContactList& contacts);
// The same, but a match needs a key of at least 6 characters, and on a match the contact's
// picture is stored in `messageContactData` (left unchanged when nothing matches).
std::optional<std::string> getNameByPhoneNumberWithData(const std::string& phone,
                                                        const ContactList& contacts,
                                                        Bytes& messageContactData);
