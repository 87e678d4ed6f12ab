// Contact names by phone number: the matching rule every scanner shares.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "extract/item_records.h"

using ContactList = std::vector<std::shared_ptr<MzContactNode>>;

// The name of the first contact in `contacts` whose numbers match `phone`, or none.
// Both texts are compared without "-", "(", ")" and " ". Of the two, the shorter one S (the
// phone when the contact's text is not shorter) gives the key: its characters from n/4 on,
// n/2 + n/4 of them (n the length of S); the contact matches when the other text contains
// the key, ignoring ASCII case. Contacts without numbers are skipped. An empty phone, and
// an empty key (S shorter than 2 characters), never match.
std::optional<std::string> getNameByPhoneNumber(const std::string& phone,
                                                const ContactList& contacts);
// The same, but a match needs a key of at least 6 characters, and on a match the contact's
// picture is stored in `messageContactData` (left unchanged when nothing matches).
std::optional<std::string> getNameByPhoneNumberWithData(const std::string& phone,
                                                        const ContactList& contacts,
                                                        Bytes& messageContactData);
