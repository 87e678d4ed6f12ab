#include "results/media_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

MediaKind kindOf(const std::string& bytes) {
  return mediaKindOfSignature(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string box(const std::string& brand, const std::string& compatible = "") {
  std::string b = std::string("\0\0\0", 3) + static_cast<char>(16 + compatible.size()) + "ftyp" +
                  brand + std::string(4, '\0') + compatible;
  return b;
}

TEST(MediaSignature, ImagesAndMovies) {
  EXPECT_EQ(kindOf("\xFF\xD8\xFF\xE1rest"), MediaKind::Image);
  EXPECT_EQ(kindOf("\x89PNG\r\n\x1A\n...."), MediaKind::Image);
  EXPECT_EQ(kindOf("GIF89a"), MediaKind::Image);
  EXPECT_EQ(kindOf(std::string("II*\0", 4)), MediaKind::Image);
  EXPECT_EQ(kindOf(std::string("BM") + std::string(12, '\0') + std::string("\x28\0\0\0", 4)),
            MediaKind::Image);
  EXPECT_EQ(kindOf("BM is not enough"), MediaKind::None);
  EXPECT_EQ(kindOf(box("heic")), MediaKind::Image);
  EXPECT_EQ(kindOf(box("mif1")), MediaKind::Image);
  EXPECT_EQ(kindOf(box("qt  ")), MediaKind::Movie);
  EXPECT_EQ(kindOf(box("isom")), MediaKind::Movie);
  EXPECT_EQ(kindOf(box("mp42")), MediaKind::Movie);
  EXPECT_EQ(kindOf(box("3gp5")), MediaKind::Movie);
  EXPECT_EQ(kindOf(box("zzzz", "mp41")), MediaKind::Movie);  // a known compatible brand
  EXPECT_EQ(kindOf(box("zzzz")), MediaKind::None);
  EXPECT_EQ(kindOf(std::string("\0\0\0\x08", 4) + "moov"), MediaKind::Movie);
  EXPECT_EQ(kindOf(std::string("\0\0\0\x08", 4) + "mdat"), MediaKind::Movie);
  EXPECT_EQ(kindOf(std::string("RIFF\x10\0\0\0AVI LIST", 16)), MediaKind::Movie);
  EXPECT_EQ(kindOf(std::string("RIFF\x10\0\0\0WAVEfmt ", 16)), MediaKind::None);
  EXPECT_EQ(kindOf(""), MediaKind::None);
  EXPECT_EQ(kindOf("\xFF\xD8"), MediaKind::None);  // cut short
}

TEST(MediaSignature, Files) {
  TempDir dir;
  EXPECT_EQ(mediaKindOfFile(dir.writeFile("a.bin", "\xFF\xD8\xFF\xDB")), MediaKind::Image);
  EXPECT_EQ(mediaKindOfFile(dir.writeFile("empty", "")), MediaKind::None);
  EXPECT_EQ(mediaKindOfFile(dir.sub("missing")), MediaKind::None);
  EXPECT_EQ(mediaKindOfFile(dir.path()), MediaKind::None);
}

}  // namespace
