// Tapbacks and stickers of current message databases, folded onto the messages they belong
// to.
//
// A tapback is a message row of its own whose associated_message_type says what it does:
// 2000 to 2005 love, like, dislike, laugh, emphasise and question a message, 2006 reacts
// with an emoji, 2007 places a sticker as a tapback, and 3000 to 3007 take the same back; 1000
// is a sticker placed on a message. Its associated_message_guid names the message it belongs
// to: "p:N/GUID" for part N of it, "bp:GUID" for the whole bubble.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "extract/item_records.h"

// Whether a row of that associated_message_type is a tapback or sticker, not a message.
bool isReactionType(std::int64_t type);

// The GUID of the message an associated_message_guid names ("p:0/GUID" and "bp:GUID" give
// GUID; anything else is taken as it is).
std::string_view reactionTargetGuid(std::string_view associated);

// One tapback or sticker row, in the order of the database.
struct ReactionRow {
  std::string targetGuid;
  std::int64_t type = 0;
  std::string senderKey;       // who left it: "" for the owner, else the handle's address
  MzMessageReaction reaction;  // sender, date, emoji and sticker file filled in; kind not yet
};

// The reactions standing on each message, by its GUID, after every row has been applied in
// order: a tapback replaces the one its sender left on that message before, a removal takes
// the sender's tapback of its kind away (a removal of another kind changes nothing), and
// stickers add up.
std::unordered_map<std::string, std::vector<MzMessageReaction>> foldReactions(
    const std::vector<ReactionRow>& rows);
