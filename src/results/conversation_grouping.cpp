#include "results/conversation_grouping.h"

#include <algorithm>
#include <cstddef>

namespace {

// Length in characters as the platform's text counts them: UTF-16 code units, so a
// character outside the basic plane counts twice. Continuation bytes count nothing.
std::size_t characterLength(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) == 0x80) continue;
    n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive substring search (ASCII letters fold; other bytes compare exactly).
// An empty needle is found nowhere.
bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty() || needle.size() > haystack.size()) return false;
  auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return foldAscii(a) == foldAscii(b); });
  return it != haystack.end();
}

void appendMessage(MzMessageTreeNode& c, const std::shared_ptr<MzMessageNode>& m) {
  if (c.MessageNodeArray == nullptr) {
    c.MessageNodeArray = std::make_shared<std::vector<std::shared_ptr<MzMessageNode>>>();
  }
  c.MessageNodeArray->push_back(m);
}

std::shared_ptr<MzMessageTreeNode> openConversation(ConversationList& conversations,
                                                    const std::shared_ptr<MzMessageNode>& m,
                                                    bool deleted) {
  auto c = std::make_shared<MzMessageTreeNode>();
  if (m->chat) {
    c->chat = m->chat;
    c->messageTreeNodeName = m->chat->name;
    c->messageTreeNodeAdress = chatConversationAddress(*m->chat);
  } else {
    c->messageTreeNodeName = m->messageName.value_or(std::string());
    c->messageTreeNodeAdress = m->messagePhone;
  }
  c->bdeleted = deleted;
  appendMessage(*c, m);
  conversations.push_back(c);
  return c;
}

}  // namespace

bool addressMatches(std::string_view address, std::string_view phone) {
  if (characterLength(address) > characterLength(phone)) {
    return containsIgnoringCase(address, phone);
  }
  return containsIgnoringCase(phone, address) || phone == address;
}

std::string cleanDeletedAddress(const std::string& phone) {
  std::string compact;
  compact.reserve(phone.size());
  for (char c : phone) {
    if (c != ' ') compact += c;
  }
  return characterLength(compact) <= 2 ? std::string("Unknown") : phone;
}

std::string chatConversationAddress(const MzChatInfo& chat) {
  if (!chat.group) return chat.participants.empty() ? chat.identifier : chat.participants.front();
  std::string joined;
  for (const auto& address : chat.participants) {
    if (!joined.empty()) joined += ", ";
    joined += address;
  }
  return joined.empty() ? chat.identifier : joined;
}

std::shared_ptr<MzMessageTreeNode> groupLiveMessage(ConversationList& conversations,
                                                    const std::shared_ptr<MzMessageNode>& message) {
  if (message == nullptr) return nullptr;
  if (message->chat) {
    // One conversation per chat: a group's messages stay together whoever sent them, and
    // the SMS and iMessage chats with one person stay apart, as the device shows them.
    for (const auto& c : conversations) {
      if (c != nullptr && c->chat && c->chat->rowId == message->chat->rowId) {
        appendMessage(*c, message);
        return c;
      }
    }
    return openConversation(conversations, message, false);
  }
  for (const auto& c : conversations) {
    if (c != nullptr && !c->chat &&
        addressMatches(c->messageTreeNodeAdress, message->messagePhone)) {
      appendMessage(*c, message);
      return c;
    }
  }
  return openConversation(conversations, message, false);
}

std::shared_ptr<MzMessageTreeNode> groupDeletedMessage(
    ConversationList& conversations, const std::shared_ptr<MzMessageNode>& message) {
  if (message == nullptr) return nullptr;
  for (const auto& c : conversations) {
    if (c != nullptr && c->bdeleted &&
        addressMatches(c->messageTreeNodeAdress, message->messagePhone)) {
      appendMessage(*c, message);
      return c;
    }
  }
  return openConversation(conversations, message, true);
}
