// Carved contacts that are part of a contact already filed.
//
// The schema-aware carver reads a person's row and the rows of its numbers and addresses
// apart; where the person's row id did not survive it cannot join them, and gives the name
// alone and the values alone. When another record (live, or carved by the record signature
// carver, which reads a person and its values side by side) already holds that name with
// values, or those numbers under a name, the part is the same contact seen in part: it is not
// shown again.
//
//   a part is                                       | the same contact when a filed contact has
//   a name without numbers, addresses or web pages  | the same name (and more than a name)
//   numbers without a name                          | the same set of numbers (contact_phones.h)
#pragma once

#include "extract/item_records.h"
#include "extract/scan_lists.h"

bool isPartOfFiledContact(const MzContactNode& part, const RecordList<MzContactNode>& filed);
