#include "results/media_signature.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <string_view>

namespace {

using Head = std::span<const std::uint8_t>;

bool startsWith(Head head, std::size_t offset, std::string_view bytes) {
  if (offset > head.size() || head.size() - offset < bytes.size()) return false;
  return std::memcmp(head.data() + offset, bytes.data(), bytes.size()) == 0;
}

std::uint32_t readBig32(Head head, std::size_t offset) {
  return (std::uint32_t{head[offset]} << 24) | (std::uint32_t{head[offset + 1]} << 16) |
         (std::uint32_t{head[offset + 2]} << 8) | std::uint32_t{head[offset + 3]};
}

std::uint32_t readLittle32(Head head, std::size_t offset) {
  return std::uint32_t{head[offset]} | (std::uint32_t{head[offset + 1]} << 8) |
         (std::uint32_t{head[offset + 2]} << 16) | (std::uint32_t{head[offset + 3]} << 24);
}

constexpr std::array<std::string_view, 7> kImageBrands = {"heic", "heix", "hevc", "hevx",
                                                          "mif1", "msf1", "avif"};
constexpr std::array<std::string_view, 14> kMovieBrands = {"qt  ", "isom", "iso2", "iso4", "iso5",
                                                           "iso6", "mp41", "mp42", "avc1", "M4V ",
                                                           "M4VH", "M4VP", "MSNV", "f4v "};

MediaKind kindOfBrand(Head head, std::size_t offset) {
  for (auto b : kImageBrands) {
    if (startsWith(head, offset, b)) return MediaKind::Image;
  }
  for (auto b : kMovieBrands) {
    if (startsWith(head, offset, b)) return MediaKind::Movie;
  }
  if (startsWith(head, offset, "3gp") || startsWith(head, offset, "3g2")) return MediaKind::Movie;
  return MediaKind::None;
}

// An ISO-media "ftyp" box: size (big-endian, at least 16), "ftyp", major brand, minor
// version, compatible brands. The major brand decides; an unknown one defers to the first
// known compatible brand inside the box (and inside the bytes at hand).
MediaKind kindOfFileTypeBox(Head head) {
  if (!startsWith(head, 4, "ftyp") || head.size() < 12) return MediaKind::None;
  MediaKind major = kindOfBrand(head, 8);
  if (major != MediaKind::None) return major;
  std::uint32_t boxSize = readBig32(head, 0);
  std::size_t end = std::min<std::size_t>(boxSize, head.size());
  for (std::size_t at = 16; at + 4 <= end; at += 4) {
    MediaKind k = kindOfBrand(head, at);
    if (k != MediaKind::None) return k;
  }
  return MediaKind::None;
}

bool isBitmap(Head head) {
  if (!startsWith(head, 0, "BM") || head.size() < 18) return false;
  switch (readLittle32(head, 14)) {  // the size of the header that follows the file header
    case 12:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
      return true;
    default:
      return false;
  }
}

bool isImage(Head head) {
  return startsWith(head, 0, "\xFF\xD8\xFF") || startsWith(head, 0, "\x89PNG\r\n\x1A\n") ||
         startsWith(head, 0, "GIF87a") || startsWith(head, 0, "GIF89a") ||
         startsWith(head, 0, std::string_view("II*\0", 4)) ||
         startsWith(head, 0, std::string_view("MM\0*", 4)) || isBitmap(head);
}

bool isMovie(Head head) {
  if (startsWith(head, 4, "moov") || startsWith(head, 4, "mdat") || startsWith(head, 4, "wide")) {
    return true;
  }
  return startsWith(head, 0, "RIFF") && startsWith(head, 8, "AVI ");
}

}  // namespace

MediaKind mediaKindOfSignature(std::span<const std::uint8_t> head) {
  if (head.size() > kMediaSignatureBytes) head = head.first(kMediaSignatureBytes);
  if (isImage(head)) return MediaKind::Image;
  MediaKind boxed = kindOfFileTypeBox(head);
  if (boxed != MediaKind::None) return boxed;
  return isMovie(head) ? MediaKind::Movie : MediaKind::None;
}

MediaKind mediaKindOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return MediaKind::None;
  std::array<std::uint8_t, kMediaSignatureBytes> buffer{};
  in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  std::streamsize got = in.gcount();
  if (got <= 0) return MediaKind::None;
  return mediaKindOfSignature(
      std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
}
