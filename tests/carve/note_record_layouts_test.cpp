#include "carve/note_record_layouts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(DeletedNotesProbes, BodyMarkAndLayoutProbes) {
  auto image = [](std::vector<std::uint8_t> bytes) {
    bytes.insert(bytes.begin(), 16, 0xEE);  // keep the probes away from offset 0
    return DatabaseImage(std::move(bytes));
  };
  // The body mark: the content's serial type (byte 3) at least 0x10, a NULL column at 4 or 5.
  EXPECT_TRUE(CheckNoteBodyMark(image({1, 1, 1, 0x10, 0x00, 0x07}), 16));
  EXPECT_TRUE(CheckNoteBodyMark(image({1, 1, 1, 0x85, 0x2B, 0x00}), 16));
  EXPECT_FALSE(CheckNoteBodyMark(image({1, 1, 1, 0x0F, 0x00, 0x00}), 16));
  EXPECT_FALSE(CheckNoteBodyMark(image({1, 1, 1, 0x85, 0x2B, 0x01}), 16));

  const DatabaseImage probes = image({0x00, 0x03, 0x05, 0x07, 0x03, 0x79, 0x88, 0x89, 0x78});
  EXPECT_EQ(CheckTitlePostion(probes, 16), 19);
  EXPECT_EQ(CheckTitlePostion(probes, 17), 15);
  EXPECT_EQ(bIsAlterbleDBFileVersion(probes, 17, 1), 0);  // the byte itself is 0x03
  EXPECT_EQ(bIsAlterbleDBFileVersion(probes, 18, 1), 2);  // next 0x03 two bytes on
  EXPECT_EQ(bIsAlterbleDBFileVersion(probes, 16, 0), 0);
  EXPECT_EQ(bIsAlterbleDBFileVersion(probes, 18, 2), 0);
  EXPECT_EQ(CheckAlterSummary(probes, 18, 0), 2);
  EXPECT_EQ(CheckAlterSummary(probes, 18, 1), 0);
  EXPECT_EQ(checkTitleAlterable(probes, 18, 15), 7);  // the end of the file reads as zero
  EXPECT_EQ(checkTitleAlterable(image(std::vector<std::uint8_t>(200, 0x05)), 20, 15),
            kProbeReach + 1);  // no zero byte within reach
  EXPECT_EQ(checkTitleAlterable(probes, 16, 15), 0);
  EXPECT_EQ(checkTitleAlterable(probes, 18, 19), 1);  // 0x05 then 0x07
  EXPECT_EQ(checkTitleAlterable(probes, 17, 19), 0);  // 0x03
  EXPECT_EQ(bIsbSummeryChanged(probes, 21), 1);       // 121
  EXPECT_EQ(bIsbTitleChanged(probes, 22), 1);         // 136
  EXPECT_EQ(bIsbTitleChanged(probes, 23), 0);         // 137
  EXPECT_EQ(bIsbSummeryChanged(probes, 24), 0);       // 120
}

}  // namespace
