#include "extract/message_reactions.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::int64_t kSticker = 1000;
constexpr std::int64_t kFirstTapback = 2000;
constexpr std::int64_t kEmojiTapback = 2006;
constexpr std::int64_t kStickerTapback = 2007;
constexpr std::int64_t kFirstRemoval = 3000;
constexpr std::int64_t kLastRemoval = 3007;

constexpr std::array<const char*, 8> kKinds = {"Loved",      "Liked",      "Disliked", "Laughed",
                                               "Emphasized", "Questioned", "Reacted",  "Sticker"};

struct Standing {
  std::vector<MzMessageReaction> reactions;
  // Per reaction: the sender's key and the tapback type (0 for a placed sticker).
  std::vector<std::pair<std::string, std::int64_t>> owners;
};

void removeTapbackOf(Standing& standing, const std::string& sender, std::int64_t type) {
  for (std::size_t i = 0; i < standing.owners.size(); ++i) {
    if (standing.owners[i].first == sender && standing.owners[i].second == type) {
      standing.owners.erase(standing.owners.begin() + static_cast<std::ptrdiff_t>(i));
      standing.reactions.erase(standing.reactions.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

void removeAnyTapbackOf(Standing& standing, const std::string& sender) {
  for (std::size_t i = standing.owners.size(); i-- > 0;) {
    const auto& [owner, type] = standing.owners[i];
    if (owner == sender && type >= kFirstTapback && type < kStickerTapback) {
      standing.owners.erase(standing.owners.begin() + static_cast<std::ptrdiff_t>(i));
      standing.reactions.erase(standing.reactions.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

}  // namespace

bool isReactionType(std::int64_t type) {
  return type == kSticker || (type >= kFirstTapback && type <= kStickerTapback) ||
         (type >= kFirstRemoval && type <= kLastRemoval);
}

std::string_view reactionTargetGuid(std::string_view associated) {
  if (associated.starts_with("bp:")) return associated.substr(3);
  if (associated.starts_with("p:")) {
    const std::size_t slash = associated.find('/');
    if (slash != std::string_view::npos) return associated.substr(slash + 1);
  }
  return associated;
}

std::unordered_map<std::string, std::vector<MzMessageReaction>> foldReactions(
    const std::vector<ReactionRow>& rows) {
  std::unordered_map<std::string, Standing> standing;
  for (const ReactionRow& row : rows) {
    if (!isReactionType(row.type) || row.targetGuid.empty()) continue;
    Standing& on = standing[row.targetGuid];
    if (row.type >= kFirstRemoval) {
      removeTapbackOf(on, row.senderKey, row.type - (kFirstRemoval - kFirstTapback));
      continue;
    }
    MzMessageReaction reaction = row.reaction;
    if (row.type == kSticker || row.type == kStickerTapback) {
      reaction.kind = kKinds[7];
    } else {
      // One tapback per person and message: a new one replaces the old.
      removeAnyTapbackOf(on, row.senderKey);
      reaction.kind = kKinds[static_cast<std::size_t>(row.type - kFirstTapback)];
      if (row.type != kEmojiTapback) reaction.emoji.clear();
    }
    on.reactions.push_back(std::move(reaction));
    on.owners.emplace_back(row.senderKey, row.type == kSticker ? 0 : row.type);
  }
  std::unordered_map<std::string, std::vector<MzMessageReaction>> folded;
  for (auto& [guid, on] : standing) {
    if (!on.reactions.empty()) folded.emplace(guid, std::move(on.reactions));
  }
  return folded;
}
