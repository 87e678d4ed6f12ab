#include "results/deleted_record_filter.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace {

std::shared_ptr<MzMessageNode> message(const std::string& phone, const std::string& text,
                                       const std::string& date) {
  auto m = std::make_shared<MzMessageNode>();
  m->messagePhone = phone;
  m->messageContent = text;
  m->messageDate = date;
  return m;
}

// The set of filed keys answers as the walk of the list does, question for question, while
// the list grows (carved records filed after their question, live ones in between), holds
// empty slots, is cleared and filled anew, and when key fields would run together if simply
// joined ("ab" + "c" against "a" + "bc").
TEST(FiledKeys, AnswersAsTheWalkOfTheListDoes) {
  std::mt19937 random(9);
  const std::string pieces[] = {"", "a", "ab", "b", "bc", "c", "1:a"};
  auto randomMessage = [&] {
    return message(pieces[random() % 7], pieces[random() % 7], pieces[random() % 3]);
  };
  RecordList<MzMessageNode> filed;
  FiledKeys<MzMessageNode> keys;
  for (int round = 0; round < 4; ++round) {
    for (int q = 0; q < 400; ++q) {
      const auto asked = randomMessage();
      const bool expected = isDuplicateRecord(*asked, filed);
      ASSERT_EQ(keys.holds(*asked, filed), expected) << round << " " << q;
      if (!expected && random() % 2 == 0) filed.push_back(asked);
      if (random() % 5 == 0) filed.push_back(randomMessage());
      if (random() % 50 == 0) filed.push_back(nullptr);
    }
    // A new scan: the list starts again, shorter or as long, with other records.
    const std::size_t keep = round % 2 == 0 ? 0 : filed.size();
    filed.clear();
    for (std::size_t i = 0; i < keep; ++i) filed.push_back(randomMessage());
  }
  const auto joined = message("ab", "c", "d");
  RecordList<MzMessageNode> other = {message("a", "bc", "d")};
  FiledKeys<MzMessageNode> otherKeys;
  EXPECT_FALSE(otherKeys.holds(*joined, other));
  EXPECT_TRUE(otherKeys.holds(*message("a", "bc", "d"), other));
}

// Every category's key text tells apart exactly what sameDeletedKey tells apart.
TEST(FiledKeys, KeyTextsFollowTheKeyFields) {
  MzCallHistoryNode a, b;
  a.callPhone = "0701";
  a.callDate = "01-02-2013 10:00";
  b = a;
  b.callDuration = "2 minutes";  // not a key field
  EXPECT_EQ(deletedKeyText(a), deletedKeyText(b));
  b.callDate = "01-02-2013 10:01";
  EXPECT_NE(deletedKeyText(a), deletedKeyText(b));
  MzCalenderNode e, f;
  e.calTitle = "Dentist";
  e.startDate = "03-04-2013 09:00";
  f = e;
  f.location = "Kungsgatan 4";
  EXPECT_EQ(deletedKeyText(e), deletedKeyText(f));
  f.calNote = "x";
  EXPECT_NE(deletedKeyText(e), deletedKeyText(f));
  MzContactNode c, d;
  c.contactName = "Ann";
  d.contactPhone = "Ann";
  EXPECT_NE(deletedKeyText(c), deletedKeyText(d));
}

}  // namespace
