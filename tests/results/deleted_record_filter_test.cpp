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

// A carved contact is the one filed when its name and its set of numbers are: the order the
// numbers come in, a number listed twice and the blanks and dashes in them do not count.
TEST(DeletedContactKeys, NameAndTheSetOfNumbers) {
  auto contact = [](const std::string& name, std::vector<std::string> phones) {
    auto c = std::make_shared<MzContactNode>();
    c->contactName = name;
    for (auto& phone : phones) {
      c->contactPhone += " " + phone;
      MzContactValue value;
      value.value = phone;
      c->values.push_back(value);
    }
    return c;
  };
  RecordList<MzContactNode> filed = {contact("Anna Berg", {"+46 70 555 12 34", "08-555 000"})};
  FiledKeys<MzContactNode> keys;
  EXPECT_TRUE(keys.holds(*contact("Anna Berg", {"08555000", "+46 70 555 12 34"}), filed));
  EXPECT_TRUE(
      keys.holds(*contact("Anna Berg", {"+46705551234", "08-555 000", "+46705551234"}), filed));
  EXPECT_TRUE(isDuplicateRecord(*contact("Anna Berg", {"08 555 000", "+46705551234"}), filed));
  // Another number, one number less, the leading + or another name: not the same contact.
  EXPECT_FALSE(keys.holds(*contact("Anna Berg", {"+46705551234", "08-555 001"}), filed));
  EXPECT_FALSE(keys.holds(*contact("Anna Berg", {"+46705551234"}), filed));
  EXPECT_FALSE(keys.holds(*contact("Anna Berg", {"46705551234", "08555000"}), filed));
  EXPECT_FALSE(keys.holds(*contact("Anna Bergh", {"+46705551234", "08555000"}), filed));
  // A carved contact whose numbers came as one text (no values) is that text as one number.
  auto asText = std::make_shared<MzContactNode>();
  asText->contactName = "Bo Ek";
  asText->contactPhone = " 0701-23 45";
  filed.push_back(contact("Bo Ek", {"070 12345"}));
  EXPECT_TRUE(keys.holds(*asText, filed));
  asText->contactPhone = " 070123 45 08555";
  EXPECT_FALSE(keys.holds(*asText, filed));
}

}  // namespace
