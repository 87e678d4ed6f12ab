// Contact names (and pictures) by phone number, remembered for the rest of a scan.
//
// NameLookup answers exactly what getNameByPhoneNumber() and getNameByPhoneNumberWithData()
// (phone_names.h) answer for the same contact list, but without walking every contact for
// every question: the contacts' numbers are normalised once and indexed by their
// substrings, and the answer for each normalised number is remembered. The contact list of
// a scan does not change after the contacts step, so one lookup serves the messages, calls
// and carving steps alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/bytes.h"
#include "extract/phone_names.h"

struct ScanLists;

class NameLookup {
 public:
  // Indexes `contacts` as they are now (the list is copied; the records are shared).
  explicit NameLookup(ContactList contacts);

  // getNameByPhoneNumber(phone, contacts).
  std::optional<std::string> name(const std::string& phone);
  // getNameByPhoneNumberWithData(phone, contacts, messageContactData): on a match the
  // contact's picture is stored in `messageContactData`; nothing matching leaves it as it is.
  std::optional<std::string> nameWithPicture(const std::string& phone, Bytes& messageContactData);

  // How many contacts the lookup was made over.
  std::size_t contactCount() const { return contacts_.size(); }

 private:
  static constexpr std::int32_t kNoContact = -1;

  // The position in contacts_ of the first contact that matches `number` (normalised, in
  // lower case) with a key of at least `minKeyLength` characters, or kNoContact.
  std::int32_t firstMatch(std::string_view number, std::size_t minKeyLength);
  std::int32_t firstMatchByOwnKey(std::string_view number, std::size_t minKeyLength) const;
  std::int32_t firstMatchByNumberKey(std::string_view number, std::size_t minKeyLength);
  // One substring of a contact's number: its hash, the contact and where it starts.
  struct Substring {
    std::uint64_t hash;
    std::int32_t contact;
    std::uint32_t start;
  };
  const std::vector<Substring>& substringsOfLength(std::size_t length);
  // The remembered answer for `phone` and `minKeyLength`.
  std::int32_t cachedMatch(const std::string& phone, std::size_t minKeyLength);
  // False when no contact can match `number` (normalised) with a key of at least
  // `minKeyLength`: neither a contact's own key nor the number's key passes its bitset. True
  // says only that firstMatch() must be asked.
  bool mayMatch(std::string_view number, std::size_t minKeyLength) const;

  // Answers remembered by the asked text as it came (before it is normalised): one probe of
  // an open-addressed table and one comparison of the text's bytes answer a number asked
  // before. The carvers ask for tens of thousands of numbers, most of them only a few times.
  class RememberedAnswers {
   public:
    // The answer remembered for `text`, or nullptr.
    const std::int32_t* find(std::string_view text) const;
    // Remembers `answer` for `text`, which find() did not know.
    void remember(std::string_view text, std::int32_t answer);

   private:
    static constexpr std::size_t kInlineText = 16;
    static constexpr std::uint32_t kEmpty = UINT32_MAX;
    // A text of up to kInlineText bytes is kept in the slot, zero-padded, so that comparing
    // it is two word compares; a longer one is kept in texts_ and the slot holds where.
    struct Slot {
      std::uint64_t hash;
      std::uint32_t length;  // kEmpty: an empty slot
      std::int32_t answer;
      std::uint64_t words[2];  // the text, or words[0] its start in texts_
    };
    // The text's first kInlineText bytes as two zero-padded words, and its hash.
    static std::uint64_t keyOf(std::string_view text, std::uint64_t words[2]);
    bool holds(const Slot& slot, std::string_view text, const std::uint64_t words[2]) const;
    void grow();

    std::vector<Slot> slots_;  // a power of two in size, at most half used
    std::size_t used_ = 0;
    std::string texts_;  // the remembered longer texts, one after the other
  };

  ContactList contacts_;
  // Per contact: its numbers normalised and in lower case ("" for a contact without numbers,
  // which never matches).
  std::vector<std::string> numbers_;
  // Each contact's own key (the middle of its numbers) -> the contacts with that key, in
  // list order. Used when the contact's text is shorter than the asked number.
  std::unordered_map<std::string_view, std::vector<std::int32_t>> byOwnKey_;
  // One bit per (key length, first four characters) that some own key has, hashed: most
  // pieces of an asked number are ruled out here without a lookup in byOwnKey_.
  static constexpr std::size_t kOwnKeyHeadBits = 1u << 16;
  static std::size_t ownKeyHead(std::string_view key);
  std::vector<std::uint64_t> ownKeyHeads_ = std::vector<std::uint64_t>(kOwnKeyHeadBits / 64);
  // The lengths of those keys, each with the shortest contact text that has one.
  std::map<std::size_t, std::size_t> shortestTextByKeyLength_;
  // One bit per substring of the contacts' numbers of up to kMostHashedSubstring characters,
  // hashed: a number whose key has its bit clear is in no contact's number. Most numbers a
  // carver asks for match nobody and are answered here, without being remembered.
  static constexpr std::size_t kSubstringBits = 1u << 18;
  static constexpr std::size_t kMostHashedSubstring = 64;
  static constexpr std::size_t kMostHashedText = 4096;
  bool hashedEveryNumber_ = true;
  static std::size_t substringBit(std::string_view text);
  std::vector<std::uint64_t> substringBits_ = std::vector<std::uint64_t>(kSubstringBits / 64);
  std::size_t longestNumber_ = 0;
  // Per length: every substring of that length of the contacts' numbers, sorted by its hash
  // and then by the contact's place in the list, so that the contacts whose numbers contain
  // a text are found by one search, in list order. Made on first need: a sorted list is made
  // at a fraction of the cost of a table of lists, one per substring.
  std::unordered_map<std::size_t, std::vector<Substring>> bySubstring_;
  // Answers by asked text, for key lengths of at least 1 and of at least 6.
  RememberedAnswers plainAnswers_;
  RememberedAnswers pictureAnswers_;
};

// The scan's lookup over lists.contactArray, made on first use and made again when the
// contact list has changed in length since (kept in lists.nameLookup).
NameLookup& nameLookupOf(ScanLists& lists);
