#include "extract/media_types.h"

#include <gtest/gtest.h>

namespace {

TEST(MediaTypes, PositionsInTheFixedLists) {
  EXPECT_EQ(GetImageType("jpg"), GetImageType("JPG"));
  EXPECT_EQ(GetImageType("JpG"), 63);
  EXPECT_EQ(GetImageType("3DM"), 0);
  EXPECT_EQ(GetViedoType("3G2"), 0);
  EXPECT_EQ(GetAudioType("RAM"), 0);
  EXPECT_EQ(GetImageType("CDR"), 14);  // the first of the two entries
  EXPECT_EQ(GetImageType("XPS"), 137);
  EXPECT_EQ(GetViedoType("YUV"), 54);
  EXPECT_EQ(GetAudioType("PTF"), 37);
  EXPECT_EQ(GetImageType(""), -1);
  EXPECT_EQ(GetImageType(nullptr), -1);
  EXPECT_EQ(GetImageType("JP"), -1);
  EXPECT_EQ(GetImageType("JPGX"), -1);
  EXPECT_GE(GetViedoType("mov"), 0);
  EXPECT_EQ(GetImageType("MOV"), -1);
  EXPECT_EQ(GetAudioType("MOV"), -1);
  EXPECT_GE(GetAudioType("aiff"), 0);
  EXPECT_EQ(GetImageType("AIFF"), -1);
  EXPECT_EQ(GetViedoType("AIFF"), -1);
}

}  // namespace
