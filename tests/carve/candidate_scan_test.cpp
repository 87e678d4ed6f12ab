#include "carve/candidate_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "carve/database_image.h"
#include "support/temp_dir.h"

namespace {

// Every offset tested one by one, as a carver without the prefilter does.
template <std::size_t T>
std::vector<std::uint32_t> eachOffset(const std::vector<std::uint8_t>& bytes, std::size_t n,
                                      std::size_t readable,
                                      const std::array<carve::ByteTest, T>& tests) {
  std::vector<std::uint32_t> out;
  for (std::size_t k = 0; k < n; ++k) {
    bool all = true;
    for (const auto& test : tests) {
      const std::size_t at = k + test.lane;
      bool any = false;
      for (std::size_t v = 0; v < test.count && at < readable; ++v) {
        any = any || bytes[at] == test.values[v];
      }
      all = all && any;
    }
    if (all) out.push_back(static_cast<std::uint32_t>(k));
  }
  return out;
}

}  // namespace

// The block compares must find exactly the offsets the byte-by-byte test finds, at block
// edges, in the tail shorter than a block and where a test would read past `readable`.
TEST(CandidateScan, FindsExactlyTheOffsetsEveryByteTestFinds) {
  constexpr std::array<carve::ByteTest, 3> kTests = {{
      {0, 2, {0x0f, 0x00}},
      {2, 2, {0x08, 0x04}},
      {6, 3, {0x01, 0x00, 0x13}},
  }};
  std::mt19937 random(7);
  std::vector<std::uint32_t> found;
  for (int round = 0; round < 300; ++round) {
    const std::size_t n = random() % 200;
    const std::size_t readable = n + random() % 9;
    std::vector<std::uint8_t> bytes(readable + 32, 0xAA);  // bytes past `readable` must not count
    // Few distinct values, so that candidates are common.
    const std::uint8_t pool[] = {0x00, 0x01, 0x04, 0x08, 0x0f, 0x13, 0x55};
    for (std::size_t i = 0; i < readable; ++i) bytes[i] = pool[random() % sizeof pool];
    if (round % 3 == 0) std::fill(bytes.begin() + static_cast<long>(readable), bytes.end(), 0x00);
    carve::findCandidates(bytes.data(), n, readable, kTests, found);
    ASSERT_EQ(found, eachOffset(bytes, n, readable, kTests)) << "round " << round << " n " << n;
  }
}

TEST(DatabaseImage, LoadsTheWholeFileAndRefusesWhatIsNotOne) {
  TempDir dir;
  std::string content(200000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + 3);
  const auto image = DatabaseImage::load(dir.writeFile("db.sqlite", content));
  ASSERT_TRUE(image);
  ASSERT_EQ(image->size(), static_cast<std::int64_t>(content.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->data()), content.size()), content);
  EXPECT_EQ(image->at(image->size()), 0);

  const auto empty = DatabaseImage::load(dir.writeFile("empty.sqlite", ""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->size(), 0);
  EXPECT_FALSE(DatabaseImage::load(dir.sub("missing.sqlite")));
  EXPECT_FALSE(DatabaseImage::load(dir.path()));

  // Read into memory: the bytes asked for, no more than the file holds, kept when the file
  // goes away.
  const int fd = open(dir.sub("db.sqlite").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const auto whole = DatabaseImage::read(fd, content.size() + 4096);
  const auto prefix = DatabaseImage::read(fd, 5000);
  close(fd);
  std::filesystem::remove(dir.sub("db.sqlite"));
  ASSERT_TRUE(whole && prefix);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(whole->data()), whole->size()), content);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(prefix->data()), prefix->size()),
            content.substr(0, 5000));
  EXPECT_FALSE(DatabaseImage::read(-1, 100));
}

TEST(DeletedNotesCarving, NoteCandidatesAreThoseOfTheGenericPrefilter) {
  // Bytes drawn mostly from those the signatures are made of, so that runs of them meet the
  // ends of the 16-byte blocks; lengths that are and are not whole blocks.
  const std::uint8_t drawn[] = {0x00, 0x01, 0x01, 0x01, 0x02, 0x08, 0x09, 0x03, 0x05, 0x7F};
  std::uint64_t state = 99;
  std::vector<std::uint32_t> fast;
  std::vector<std::uint32_t> generic;
  for (const std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 47u, 512u, 1021u, 4096u}) {
    for (int round = 0; round < 20; ++round) {
      std::vector<std::uint8_t> bytes(n + 8, 0);
      for (auto& b : bytes) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        b = drawn[(state >> 33) % sizeof drawn];
      }
      for (const bool bodiless : {false, true}) {
        // The third byte takes one of 0x01 to 0x03, and 0x08 or 0x09 with `bodiless`: more
        // values than one generic test holds, so the candidates are those of two.
        const std::uint8_t small = bodiless ? 3 : 1;
        const std::array<carve::ByteTest, 3> lowThird = {
            {{0, 1, {0x01}}, {1, small, {0x01, 0x08, 0x09}}, {2, 3, {0x01, 0x02, 0x03}}}};
        const std::array<carve::ByteTest, 3> bodilessThird = {
            {{0, 1, {0x01}}, {1, small, {0x01, 0x08, 0x09}}, {2, 2, {0x08, 0x09}}}};
        carve::findCandidates(bytes.data(), n, n + 8, lowThird, generic);
        if (bodiless) {
          std::vector<std::uint32_t> more;
          carve::findCandidates(bytes.data(), n, n + 8, bodilessThird, more);
          generic.insert(generic.end(), more.begin(), more.end());
          std::sort(generic.begin(), generic.end());
        }
        fast.assign(3, 7);  // replaced, not appended to
        carve::findNoteCandidates(bytes.data(), n, n + 8, bodiless, fast);
        ASSERT_EQ(fast, generic) << "n " << n << (bodiless ? ", bodiless" : "");
      }
    }
  }
}
