#include "extract/name_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "extract/phone_names.h"
#include "extract/scan_lists.h"

namespace {

std::shared_ptr<MzContactNode> contact(const std::string& name, const std::string& phones,
                                       Bytes picture = nullptr) {
  auto node = std::make_shared<MzContactNode>();
  node->contactName = name;
  node->contactPhone = phones;
  node->imageData = std::move(picture);
  return node;
}

// Asks the lookup and the list walk the same question, twice (the second answer comes from
// what the lookup remembered), and demands the same answer and the same picture.
void expectSameAnswers(NameLookup& lookup, const ContactList& contacts, const std::string& phone) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(lookup.name(phone), getNameByPhoneNumber(phone, contacts)) << phone;
    Bytes mine = makeBytes({0xEE});
    Bytes theirs = mine;
    EXPECT_EQ(lookup.nameWithPicture(phone, mine),
              getNameByPhoneNumberWithData(phone, contacts, theirs))
        << phone;
    EXPECT_EQ(mine, theirs) << phone;
  }
}

TEST(NameLookup, AnswersAsTheListWalkDoesForTheDocumentedCases) {
  const Bytes annPicture = makeBytes({1, 2, 3});
  ContactList contacts = {
      contact("Nobody", ""),
      contact("Blank", " ( ) - "),
      nullptr,
      contact("Ann", " 5551234 5559999", annPicture),
      contact("Bob", " +1 (212) 555-0000"),
      contact("Mail", " Ann.Smith@Example.com"),
      contact("Second Bob", " 212-555-0000"),
      contact("Short", " 12"),
  };
  NameLookup lookup(contacts);
  for (const char* phone :
       {"555-1234", "5551234", "55512345559999", "+12125550000", "2125550000", "(212) 555-0000",
        "ann.smith@example.com", "ANN.SMITH@EXAMPLE.COM", "", " (-) ", "5", "12", "123", "0012345",
        "3105550123", "bob@example.org", "55599"}) {
    expectSameAnswers(lookup, contacts, phone);
  }
  // The plain variant matches with the 4-character key; the picture variant refuses it and
  // leaves the caller's picture alone.
  EXPECT_EQ(lookup.name("555-1234"), "Ann");
  Bytes picture = makeBytes({9});
  const Bytes before = picture;
  EXPECT_EQ(lookup.nameWithPicture("555-1234", picture), std::nullopt);
  EXPECT_EQ(picture, before);
  EXPECT_EQ(lookup.nameWithPicture("55512345559999", picture), "Ann");
  EXPECT_EQ(picture, annPicture);
  // The first matching contact in list order wins.
  EXPECT_EQ(lookup.name("2125550000"), "Bob");
}

TEST(NameLookup, AgreesWithTheListWalkOnRandomNumbers) {
  std::mt19937 random(20130602);
  const std::string alphabet = "0123456789 -()+aB";
  auto randomText = [&](std::size_t maxLength) {
    std::string text;
    const std::size_t length = random() % (maxLength + 1);
    for (std::size_t i = 0; i < length; ++i)
      text += alphabet[random() % 6 == 0 ? 10 + random() % 7 : random() % 10];
    return text;
  };
  ContactList contacts;
  for (int i = 0; i < 300; ++i) {
    std::string phones;
    const int count = static_cast<int>(random() % 3);
    for (int p = 0; p < count; ++p) phones += " " + randomText(14);
    contacts.push_back(
        contact("C" + std::to_string(i), phones, makeBytes({static_cast<std::uint8_t>(i)})));
  }
  NameLookup lookup(contacts);
  for (int q = 0; q < 3000; ++q) {
    std::string phone = randomText(20);
    // Some questions are pieces of a contact's own numbers, so that matches are common.
    if (q % 3 == 0) {
      const std::string& own = contacts[random() % contacts.size()]->contactPhone;
      if (!own.empty()) {
        const std::size_t start = random() % own.size();
        phone = own.substr(start, random() % (own.size() - start + 1));
      }
    }
    expectSameAnswers(lookup, contacts, phone);
  }
}

// Remembered answers are told apart by every byte of the asked text: texts of every length
// up to 40 that differ in one byte only (before, at and after the 16 bytes kept in a slot),
// that differ in their length only, or hold a zero byte, asked again and again in mixed order
// while the table grows, each get the list walk's own answer.
TEST(NameLookup, RemembersEachAskedTextApart) {
  const ContactList contacts = {contact("Ann", "+46 70 555 12 34", makeBytes({1})),
                                contact("Bob", "0705551299", makeBytes({2})),
                                contact("Cid", "123456789012345678901234567890", makeBytes({3}))};
  std::vector<std::string> texts;
  const std::string base = "46705551234123456789012345678901234567890";
  for (std::size_t length = 0; length <= 40; ++length) {
    const std::string text = base.substr(0, length);
    texts.push_back(text);
    for (std::size_t at = 0; at < length; ++at) {
      std::string other = text;
      other[at] = other[at] == '9' ? '0' : static_cast<char>(other[at] + 1);
      texts.push_back(other);
      other[at] = '\0';
      texts.push_back(other);
    }
  }
  std::mt19937 random(7);
  std::vector<std::string> questions;
  for (int round = 0; round < 3; ++round)
    questions.insert(questions.end(), texts.begin(), texts.end());
  std::shuffle(questions.begin(), questions.end(), random);
  NameLookup lookup(contacts);
  for (const std::string& phone : questions) expectSameAnswers(lookup, contacts, phone);
}

// Numbers no contact can match are answered without a search; long ones (keys of more than
// 64 characters) and ones that differ from a contact's number in one place only must still
// get the list walk's answer, whichever way the key runs.
TEST(NameLookup, RulesOutOnlyNumbersNobodyMatches) {
  std::string longDigits;
  for (int i = 0; i < 150; ++i) longDigits += static_cast<char>('0' + (i * 7 + i / 10) % 10);
  const ContactList contacts = {contact("Long", " " + longDigits, makeBytes({1})),
                                contact("Ann", " +46 70 555 12 34", makeBytes({2})),
                                contact("Bob", " 070-555 12 99", makeBytes({3}))};
  NameLookup lookup(contacts);
  std::vector<std::string> questions;
  for (std::size_t length : {90, 100, 120, 150, 151, 200}) {
    questions.push_back(longDigits.substr(0, std::min(length, longDigits.size())));
    questions.push_back("9" + longDigits.substr(1, std::min(length, longDigits.size()) - 1));
    questions.push_back("x" + longDigits + "y");
  }
  for (const std::string& own : {std::string("+46705551234"), std::string("0705551299")}) {
    for (std::size_t at = 0; at < own.size(); ++at) {
      std::string other = own;
      other[at] = other[at] == '9' ? '0' : static_cast<char>(other[at] + 1);
      questions.push_back(other);
      questions.push_back(own.substr(at));
      questions.push_back(own.substr(0, at + 1));
      questions.push_back("00" + own.substr(at) + "11");
    }
  }
  for (const std::string& phone : questions) expectSameAnswers(lookup, contacts, phone);
  EXPECT_EQ(lookup.name(longDigits.substr(0, 120)), "Long");
  // A contact text too long to be hashed still matches by the asked number's key.
  std::string huge;
  for (int i = 0; i < 5000; ++i) huge += static_cast<char>('0' + (i * 13 + i / 7) % 10);
  const ContactList withHuge = {contact("Huge", " " + huge), contacts[1]};
  NameLookup hugeLookup(withHuge);
  for (const std::string& phone : {huge.substr(2000, 12), huge.substr(4990),
                                   std::string("+46705551234"), std::string("0000000000")}) {
    expectSameAnswers(hugeLookup, withHuge, phone);
  }
  EXPECT_EQ(hugeLookup.name(huge.substr(2000, 12)), "Huge");
  EXPECT_EQ(lookup.name("0046705551234"), "Ann");
  EXPECT_EQ(lookup.name("+46705551235"), std::nullopt);
}

TEST(NameLookup, TheScansLookupFollowsTheContactList) {
  ScanLists lists;
  EXPECT_EQ(nameLookupOf(lists).name("5550100"), std::nullopt);
  lists.contactArray.push_back(contact("Ann", " 555 0100"));
  NameLookup& first = nameLookupOf(lists);
  EXPECT_EQ(first.name("5550100"), "Ann");
  EXPECT_EQ(&nameLookupOf(lists), &first);  // the same lookup while the list is unchanged
}

// The matching rule itself, which the lookup answers as.
TEST(PhoneLookupTest, ShortKeyMatchesOnlyWithoutPicture) {
  const ContactList contacts = {contact("Ann", " 5551234 5559999", makeBytes({1, 2, 3}))};
  EXPECT_EQ(getNameByPhoneNumber("555-1234", contacts), "Ann");
  Bytes picture = makeBytes({9});
  const Bytes before = picture;
  EXPECT_EQ(getNameByPhoneNumberWithData("555-1234", contacts, picture), std::nullopt);
  EXPECT_EQ(picture, before);  // unchanged without a match
}

TEST(PhoneLookupTest, PictureVariantStoresTheMatchingContactsPicture) {
  const Bytes annPicture = makeBytes({1, 2, 3});
  const ContactList contacts = {contact("Bob", " +1 (212) 555-0000"),
                                contact("Ann", " +1 (415) 555-0199", annPicture),
                                contact("Eve", " +1 (415) 555-0199")};
  Bytes picture;
  EXPECT_EQ(getNameByPhoneNumberWithData("4155550199", contacts, picture), "Ann");
  EXPECT_EQ(picture, annPicture);
  // The first match wins, also without a picture.
  EXPECT_EQ(getNameByPhoneNumber("(415) 555-0199", contacts), "Ann");
  EXPECT_EQ(getNameByPhoneNumber("+1-415-555-0199", contacts), "Ann");
  EXPECT_EQ(getNameByPhoneNumber("2125550000", contacts), "Bob");
  EXPECT_EQ(getNameByPhoneNumber("3105550123", contacts), std::nullopt);
}

TEST(PhoneLookupTest, EmptyNumbersAndKeysNeverMatch) {
  const ContactList contacts = {contact("Nobody", ""), contact("Blank", " - "),
                                contact("One", " 5"), contact("Ann", " 5551234")};
  Bytes picture;
  EXPECT_EQ(getNameByPhoneNumber("", contacts), std::nullopt);
  EXPECT_EQ(getNameByPhoneNumber(" (-) ", contacts), std::nullopt);
  EXPECT_EQ(getNameByPhoneNumberWithData("", contacts, picture), std::nullopt);
  // A one-character text gives an empty key: no match, the lookup goes on to Ann.
  EXPECT_EQ(getNameByPhoneNumber("5551234", contacts), "Ann");
  EXPECT_EQ(getNameByPhoneNumber("5", contacts), std::nullopt);
  EXPECT_EQ(getNameByPhoneNumber("1234", ContactList{}), std::nullopt);
  EXPECT_EQ(getNameByPhoneNumber("1234", ContactList{nullptr}), std::nullopt);
}

TEST(PhoneLookupTest, HandlesCompareWithoutCase) {
  const ContactList contacts = {contact("Ann", " Ann.Smith@Example.com")};
  EXPECT_EQ(getNameByPhoneNumber("ann.smith@example.com", contacts), "Ann");
  Bytes picture;
  EXPECT_EQ(getNameByPhoneNumberWithData("ANN.SMITH@EXAMPLE.COM", contacts, picture), "Ann");
  EXPECT_EQ(getNameByPhoneNumber("bob@example.org", contacts), std::nullopt);
}

}  // namespace
