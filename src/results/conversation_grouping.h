// Grouping messages into conversations: by chat for current databases, otherwise by the
// other party's address.
//
// A message joins the first conversation, in list order, whose address matches its own;
// otherwise it opens a new conversation at the end of the list. Live messages may join any
// conversation; deleted messages join only conversations opened by deleted messages, so a
// deleted message never appears inside a live conversation.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "extract/item_records.h"
#include "extract/scan_lists.h"

using ConversationList = RecordList<MzMessageTreeNode>;

// Whether a message from `phone` belongs to a conversation whose address is `address`.
// The longer of the two (in characters) must contain the shorter, ignoring letter case;
// when the address is not the longer one, exact equality also matches. An empty text is
// contained in nothing, so two empty addresses match only by equality.
bool addressMatches(std::string_view address, std::string_view phone);

// The address a deleted message is filed under: "Unknown" when the address without its
// blanks has at most 2 characters, otherwise the address unchanged (blanks included).
std::string cleanDeletedAddress(const std::string& phone);

// The address of the conversation of a chat of a current database: a group's participants'
// addresses joined by ", ", a one-to-one chat's other party. The conversation's name is the
// chat's (its display name, its participants' names, or the other party's contact name).
std::string chatConversationAddress(const MzChatInfo& chat);

// Files a live message into `conversations` and returns the conversation it joined or
// opened. A message of a chat joins that chat's conversation; any other message considers
// every conversation not made from a chat. A null message files nothing and returns null.
std::shared_ptr<MzMessageTreeNode> groupLiveMessage(ConversationList& conversations,
                                                    const std::shared_ptr<MzMessageNode>& message);

// Files a deleted message into the first matching conversation that was opened by a
// deleted message, or opens a new deleted conversation. The message's address should be
// cleaned (cleanDeletedAddress) first. A null message files nothing and returns null.
std::shared_ptr<MzMessageTreeNode> groupDeletedMessage(
    ConversationList& conversations, const std::shared_ptr<MzMessageNode>& message);
