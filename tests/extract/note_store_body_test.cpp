#include "extract/note_store_body.h"

#include <gtest/gtest.h>

#include "device_builders.h"

namespace {

using fixtures::gzipped;
using fixtures::noteStoreProtobuf;

NoteStoreBody readBody(const std::vector<std::uint8_t>& blob,
                       std::size_t limit = kNoteBodyInflateLimit) {
  return readNoteStoreBody(blob, limit);
}

TEST(NoteStoreBody, TheTextOfAGzippedBodyAndNothingForDamagedOnes) {
  const auto body = gzipped(noteStoreProtobuf("Shopping\nMilk\nEggs x2"));
  const NoteStoreBody good = readBody(body);
  EXPECT_EQ(good.read, NoteBodyRead::Text);
  EXPECT_EQ(good.text, "Shopping\nMilk\nEggs x2");

  // Not gzip: the bare protobuf, nothing at all, a gzip magic alone.
  EXPECT_EQ(readBody(noteStoreProtobuf("Milk")).read, NoteBodyRead::Unreadable);
  EXPECT_EQ(readBody({}).read, NoteBodyRead::Unreadable);
  EXPECT_EQ(readBody({0x1f, 0x8b}).read, NoteBodyRead::Unreadable);
  // A stream cut short, in its data and in its trailer; a damaged checksum.
  EXPECT_EQ(readBody({body.begin(), body.begin() + 14}).read, NoteBodyRead::Unreadable);
  EXPECT_EQ(readBody({body.begin(), body.end() - 3}).read, NoteBodyRead::Unreadable);
  auto damaged = body;
  damaged[damaged.size() - 6] ^= 0x55;
  EXPECT_EQ(readBody(damaged).read, NoteBodyRead::Unreadable);

  // Good gzip of a protobuf cut short, and of bytes that are no note message.
  auto proto = noteStoreProtobuf("Milk and eggs");
  proto.resize(proto.size() - 4);
  EXPECT_EQ(readBody(gzipped(proto)).read, NoteBodyRead::Unreadable);
  const std::string words = "hello, not a note";
  EXPECT_EQ(readBody(gzipped({words.begin(), words.end()})).read, NoteBodyRead::Unreadable);

  // Text that is not UTF-8 keeps its good characters.
  EXPECT_EQ(readBody(gzipped(noteStoreProtobuf("Caf\xC3\xA9 \xFF!"))).text,
            "Caf\xC3\xA9 \xEF\xBF\xBD!");
}

TEST(NoteStoreBody, ABodyOverTheInflateLimitIsRefused) {
  // 17 MiB of blanks in the note: a few kilobytes stored, more than the limit inflated.
  const auto bomb = gzipped(noteStoreProtobuf(std::string((17u << 20), ' ')));
  ASSERT_LT(bomb.size(), 64u * 1024);
  const NoteStoreBody refused = readBody(bomb);
  EXPECT_EQ(refused.read, NoteBodyRead::TooLarge);
  EXPECT_TRUE(refused.text.empty());

  // At the limit exactly the body is read; one byte over, refused.
  const auto proto = noteStoreProtobuf("Milk");
  const auto body = gzipped(proto);
  EXPECT_EQ(readBody(body, proto.size()).text, "Milk");
  EXPECT_EQ(readBody(body, proto.size() - 1).read, NoteBodyRead::TooLarge);
}

}  // namespace
