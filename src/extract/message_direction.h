// The direction texts of a message record, shared by the live and the deleted messages.
//
// Rows of the older layout (and carved records of every layout but iOS 6's chat form) say
// the direction by their flags; rows of the iOS 6 layout by is_from_me. A value that says
// neither gives "unknown"; the carved iOS 6 records write that case as "Unknowed", as the
// deleted-messages list has always shown it.
#pragma once

#include <cstdint>
#include <optional>

inline constexpr const char* kMessageSent = "Send";
inline constexpr const char* kMessageReceived = "Received";

// 2 and 22 received, 3 and 16387 sent, anything else "unknown".
inline const char* messageDirectionOfFlags(std::int64_t flags) {
  if (flags == 2 || flags == 22) return kMessageReceived;
  if (flags == 3 || flags == 16387) return kMessageSent;
  return "unknown";
}

// 0 received, 1 sent, anything else (none included) `otherwise`.
inline const char* messageDirectionOfFromMe(std::optional<std::int64_t> fromMe,
                                            const char* otherwise = "unknown") {
  if (fromMe == 0) return kMessageReceived;
  if (fromMe == 1) return kMessageSent;
  return otherwise;
}
