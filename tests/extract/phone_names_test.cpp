#include "extract/phone_names.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<MzContactNode> contact(const std::string& name, const std::string& phones,
                                       Bytes picture = nullptr) {
  auto node = std::make_shared<MzContactNode>();
  node->contactName = name;
  node->contactPhone = phones;
  node->imageData = std::move(picture);
  return node;
}

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
