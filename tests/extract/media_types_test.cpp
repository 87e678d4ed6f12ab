#include "extract/media_types.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

TEST(MediaTypes, ListsHaveTheirLengthsEndsAndOnlyTheKnownDuplicates) {
  // The written 138 image types, then the formats of current cameras.
  ASSERT_EQ(imageTypeList().size(), 142u);
  ASSERT_EQ(videoTypeList().size(), 56u);
  ASSERT_EQ(audioTypeList().size(), 38u);
  EXPECT_EQ(imageTypeList()[137], "XPS");
  EXPECT_EQ(GetImageType("heic"), 138);
  EXPECT_EQ(GetImageType("heics"), 141);
  EXPECT_EQ(videoTypeList()[54], "YUV");
  EXPECT_EQ(GetViedoType("hevc"), 55);
  EXPECT_EQ(audioTypeList().back(), "PTF");

  std::map<std::string, int> seen;
  for (auto list : {imageTypeList(), videoTypeList(), audioTypeList()}) {
    for (std::string_view entry : list) {
      for (char c : entry) EXPECT_FALSE(c >= 'a' && c <= 'z') << entry;
      ++seen[std::string(entry)];
    }
  }
  // Only "CDR" and "DCR" stand twice, both in the image list; no extension is in two lists.
  std::set<std::string> twice;
  for (const auto& [name, count] : seen) {
    if (count > 1) twice.insert(name);
  }
  EXPECT_EQ(twice, (std::set<std::string>{"CDR", "DCR"}));
}

TEST(MediaTypes, LookupsAnswerWithThePositionIgnoringCase) {
  for (const char* jpg : {"jpg", "JPG", "Jpg", "jPg"}) EXPECT_EQ(GetImageType(jpg), 63) << jpg;
  EXPECT_EQ(GetImageType("jpeg"), 62);
  EXPECT_EQ(GetImageType("png"), 94);
  EXPECT_EQ(GetImageType("PictClipping"), 93);
  // The first entry of each list is position 0, which still counts as found.
  EXPECT_EQ(GetImageType("3DM"), 0);
  EXPECT_EQ(GetImageType("3dm"), 0);
  EXPECT_EQ(GetViedoType("3G2"), 0);
  EXPECT_EQ(GetAudioType("RAM"), 0);
  EXPECT_EQ(GetImageType("XPS"), 137);
  EXPECT_EQ(GetViedoType("yuv"), 54);
  EXPECT_EQ(GetAudioType("ptf"), 37);
  // Duplicates answer with their first position.
  EXPECT_EQ(GetImageType("CDR"), 14);
  EXPECT_EQ(GetImageType("dcr"), 28);
  EXPECT_EQ(GetViedoType("dvr-ms"), 14);
  // Each extension is found in its own list only.
  EXPECT_EQ(GetViedoType("MOV"), 28);
  EXPECT_EQ(GetViedoType("mov"), 28);
  EXPECT_EQ(GetImageType("MOV"), -1);
  EXPECT_EQ(GetAudioType("MOV"), -1);
  EXPECT_EQ(GetAudioType("AIFF"), 15);
  EXPECT_EQ(GetViedoType("AIFF"), -1);
  EXPECT_EQ(GetAudioType("m4a"), 30);
  EXPECT_EQ(GetImageType(std::string("Png")), 94);
}

TEST(MediaTypes, LookupsFindWholeExtensionsOnly) {
  const char* none = nullptr;
  EXPECT_EQ(GetImageType(none), -1);
  EXPECT_EQ(GetViedoType(none), -1);
  EXPECT_EQ(GetAudioType(none), -1);
  EXPECT_EQ(GetImageType(""), -1);
  EXPECT_EQ(GetViedoType(std::string_view()), -1);
  EXPECT_EQ(GetAudioType(""), -1);
  // No prefix or suffix matches, no blanks or dots tolerated.
  EXPECT_EQ(GetImageType("JP"), -1);
  EXPECT_EQ(GetImageType("JPGX"), -1);
  EXPECT_EQ(GetImageType("3D"), -1);
  EXPECT_EQ(GetImageType("jpg "), -1);
  EXPECT_EQ(GetImageType(".jpg"), -1);
  EXPECT_EQ(GetImageType("JPG\xC3\x89"), -1);
  // The C-string form reads up to the terminating zero.
  const char withZero[] = "png\0xyz";
  EXPECT_EQ(GetImageType(withZero), 94);
  EXPECT_EQ(GetImageType(std::string_view(withZero, 7)), -1);
}

TEST(MediaTypes, PathExtensionAndLastComponent) {
  EXPECT_EQ(pathExtension("Media/DCIM/100APPLE/IMG_0001.JPG"), "JPG");
  EXPECT_EQ(pathExtension("Media/DCIM/100APPLE/IMG_0001.JPG/"), "JPG");
  EXPECT_EQ(pathExtension("Library/Caches/archive.tar.gz"), "gz");
  EXPECT_EQ(pathExtension("Media/DCIM/.MISC/Info"), "");
  EXPECT_EQ(pathExtension("Media/DCIM/100APPLE/IMG_0003."), "");
  EXPECT_EQ(pathExtension("Media/.jpg"), "");
  EXPECT_EQ(pathExtension("Media/..jpg"), "jpg");
  EXPECT_EQ(pathExtension("Media/photos.jpg/Info"), "");
  EXPECT_EQ(pathExtension("photo.png"), "png");
  EXPECT_EQ(pathExtension(""), "");

  EXPECT_EQ(lastPathComponent("Media/DCIM/100APPLE/IMG_0001.JPG"), "IMG_0001.JPG");
  EXPECT_EQ(lastPathComponent("Media/DCIM/100APPLE/"), "100APPLE");
  EXPECT_EQ(lastPathComponent("IMG_0001.JPG"), "IMG_0001.JPG");
  EXPECT_EQ(lastPathComponent("/"), "/");
  EXPECT_EQ(lastPathComponent(""), "");
}

}  // namespace
