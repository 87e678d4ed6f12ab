// The arena the carver's rows take their values from: pieces that do not overlap across its
// blocks, rows that keep it alive after the carver is gone, and copies that do not.
#include "carve/value_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "carve/sqlite_values.h"

namespace {

using carve::ArenaAllocator;
using carve::SqlValue;
using carve::SqlValues;
using carve::ValueArena;

TEST(ValueArenaTest, PiecesAreAlignedApartAndOutliveTheirMaker) {
  auto arena = std::make_shared<ValueArena>();
  std::map<std::uintptr_t, std::uintptr_t> pieces;  // start -> end
  for (int i = 0; i < 4000; ++i) {  // several blocks' worth, a large piece among them
    const std::size_t size = i == 100 ? (std::size_t{9} << 20) : 40 + i % 3000;
    auto* piece = static_cast<std::uint8_t*>(arena->take(size));
    const auto start = reinterpret_cast<std::uintptr_t>(piece);
    EXPECT_EQ(start % alignof(std::max_align_t), 0u);
    const auto after = pieces.lower_bound(start);
    EXPECT_TRUE(after == pieces.end() || after->first >= start + size);
    EXPECT_TRUE(after == pieces.begin() || std::prev(after)->second <= start);
    pieces.emplace(start, start + size);
    piece[0] = piece[size - 1] = 0xAB;  // writable to its end
  }

  SqlValues row{ArenaAllocator<SqlValue>(arena)};
  row.push_back(SqlValue::ofText("Meet me at the station", 57));
  const SqlValues copy = row;
  EXPECT_FALSE(copy.get_allocator().arena());  // a copy lives on the heap
  std::weak_ptr<ValueArena> watch = arena;
  arena.reset();
  ASSERT_FALSE(watch.expired());  // the row keeps its arena
  EXPECT_EQ(row[0].bytes, "Meet me at the station");
  row = SqlValues();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(copy[0].bytes, "Meet me at the station");
}

}  // namespace
