// The arena the carver's rows take their values from: pieces that do not overlap across its
// blocks, rows that keep it alive after the carver is gone, and copies that do not.
#include "carve/value_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "carve/record_format.h"
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

  // A text decoded into the row keeps its bytes in the arena; one made apart, on the heap.
  const std::string stored = "Meet me at the station";
  SqlValues row(2, ArenaAllocator<SqlValue>(arena));
  carve::decodeValueInto(13 + 2 * static_cast<std::int64_t>(stored.size()),
                         reinterpret_cast<const std::uint8_t*>(stored.data()), row[0], arena.get());
  row[1] = SqlValue::ofBlob("\x01\x02");
  const SqlValues copy = row;
  EXPECT_FALSE(copy.get_allocator().arena());  // a copy lives on the heap
  std::weak_ptr<ValueArena> watch = arena;
  arena.reset();
  ASSERT_FALSE(watch.expired());  // the row keeps its arena
  EXPECT_EQ(row[0].bytes(), stored);
  SqlValue moved = std::move(row[1]);
  row = SqlValues();
  EXPECT_TRUE(watch.expired());  // its blocks are gone: the copy's bytes are its own
  EXPECT_EQ(copy[0].kind, SqlValue::Kind::Text);
  EXPECT_EQ(copy[0].bytes(), stored);
  EXPECT_EQ(copy[1], SqlValue::ofBlob("\x01\x02"));
  EXPECT_EQ(moved.bytes(), "\x01\x02");
  moved.setBytes(SqlValue::Kind::Text, moved.bytes().substr(1), nullptr);  // from its own bytes
  EXPECT_EQ(moved, SqlValue::ofText("\x02"));
}

}  // namespace
