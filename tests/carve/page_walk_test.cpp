#include "carve/page_walk.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "support/temp_dir.h"

namespace {

DatabaseImage headerImage(std::uint8_t sizeHigh, std::uint8_t sizeLow, std::size_t fileSize) {
  std::vector<std::uint8_t> bytes(fileSize, 0);
  if (fileSize > 17) {
    bytes[16] = sizeHigh;
    bytes[17] = sizeLow;
  }
  return DatabaseImage(std::move(bytes));
}

}  // namespace

TEST(PageWalk, PageSizeAndCountGuardTinyAndOddHeaders) {
  CarveDatabase db = CarveDatabase::fromImage(headerImage(0x04, 0x00, 4096));
  EXPECT_EQ(db.pageSize, 1024);
  EXPECT_EQ(db.pageCount, 4);
  EXPECT_EQ(db.pageOffset(3), 3072);

  db = CarveDatabase::fromImage(headerImage(0x10, 0x00, 4095));  // less than one page
  EXPECT_EQ(db.pageCount, 0);
  db = CarveDatabase::fromImage(headerImage(0x00, 0x00, 4096));  // page size 0
  EXPECT_EQ(db.pageSize, 0);
  EXPECT_EQ(db.pageCount, 0);
  db = CarveDatabase::fromImage(headerImage(0x00, 0x01, 4096));  // the file format's 65536
  EXPECT_EQ(db.pageSize, 65536);
  EXPECT_EQ(db.pageCount, 0);
  db = CarveDatabase::fromImage(headerImage(0, 0, 10));  // not even a header
  EXPECT_EQ(db.pageCount, 0);
  db = CarveDatabase::fromImage(DatabaseImage());
  EXPECT_EQ(db.pageCount, 0);
}

TEST(PageWalk, FirstCellIsFoundThroughTheCellPointerEvenOutsideTheFile) {
  std::vector<std::uint8_t> bytes(2048, 0);
  bytes[16] = 0x04;
  bytes[18] = 0x02;
  bytes[1024 + 8] = 0x03;
  bytes[1024 + 9] = 0xF0;
  CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(bytes));
  EXPECT_EQ(db.firstCellOffset(1024), 1024 + 0x3F0);
  EXPECT_TRUE(db.isWalFile());
  EXPECT_EQ(db.firstCellOffset(4096), 4096);  // past the end: pointer reads 0
}

namespace {

TEST(PageWalk, ASparseFileReadsItsDataAndZerosInItsHoles) {
  TempDir tmp;
  const std::string path = tmp.writeFile("sparse.db", "SQLite format 3");
  {
    std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp((64 << 20) + 5);
    out << "tail";
  }
  const auto image = DatabaseImage::load(path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (64 << 20) + 9);
  EXPECT_TRUE(image->matches(0, reinterpret_cast<const std::uint8_t*>("SQLite"), 6));
  EXPECT_TRUE(image->matches((64 << 20) + 5, reinterpret_cast<const std::uint8_t*>("tail"), 4));
  for (std::int64_t at : {std::int64_t{15}, std::int64_t{4096}, std::int64_t{32} << 20,
                          (std::int64_t{64} << 20) + 4}) {
    EXPECT_EQ(image->at(at), 0) << at;
  }
  EXPECT_FALSE(DatabaseImage::load(tmp.sub("missing")));
}

}  // namespace
