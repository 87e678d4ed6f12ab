#include "results/conversation_grouping.h"

#include <gtest/gtest.h>

#include "fake_result_view.h"

namespace {

TEST(ConversationGrouping, AddressRule) {
  EXPECT_TRUE(addressMatches("555 0100", "+1 555 0100"));
  EXPECT_TRUE(addressMatches("+1 555 0100", "555 0100"));
  EXPECT_FALSE(addressMatches("555 0100", "555-0100"));
  EXPECT_TRUE(addressMatches("Ann@Example.com", "ann@example.COM"));
  EXPECT_TRUE(addressMatches("", ""));
  EXPECT_FALSE(addressMatches("5550100", ""));  // the empty text is in nothing
  EXPECT_FALSE(addressMatches("", "5550100"));
  // Length counts characters, not bytes: "é1" (2 characters) is not longer than "1é1".
  EXPECT_TRUE(
      addressMatches("\xC3\xA9"
                     "1",
                     "1\xC3\xA9"
                     "1"));
}

TEST(ConversationGrouping, DeletedAddressCleanUp) {
  EXPECT_EQ(cleanDeletedAddress(" 1 "), "Unknown");
  EXPECT_EQ(cleanDeletedAddress(""), "Unknown");
  EXPECT_EQ(cleanDeletedAddress("12"), "Unknown");
  EXPECT_EQ(cleanDeletedAddress("1 2 3"), "1 2 3");  // longer ones keep their blanks
}

TEST(ConversationGrouping, LiveMessagesMayJoinAnEarlierDeletedConversation) {
  ConversationList list;
  groupDeletedMessage(list, message("5550100", "b"));
  EXPECT_EQ(groupLiveMessage(list, message("5550100", "a")), list[0]);
  EXPECT_EQ(groupLiveMessage(list, nullptr), nullptr);
  EXPECT_EQ(list[0]->MessageNodeArray->size(), 2u);
}

}  // namespace
