// A contact's phone numbers compared as numbers rather than as text: "+1 (555) 010-0100" and
// "+15550100100" are the same number, and a list that names a number twice, or names the same
// numbers in another order, holds the same numbers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "extract/item_records.h"

// The number's digits, after a "+" when the number begins with one (blanks before it
// skipped); every other character is dropped. A text with no digit keeps its text as it is,
// so that it stays apart from an empty number and from other texts without digits.
std::string phoneNumberKey(std::string_view number);

// The keys of the contact's phone numbers, sorted, each once. The numbers are the phone values
// one by one; a contact without phone values (a carved contact whose numbers came as one text)
// gives its contactPhone text as one number, or none when that is blank.
std::vector<std::string> phoneNumberSet(const MzContactNode& contact);
