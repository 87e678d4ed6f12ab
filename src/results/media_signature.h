// Telling photos from movies by the first bytes of a file.
//
// Images: JPEG (FF D8 FF), PNG, GIF87a/GIF89a, BMP ("BM" with a known header size), TIFF
// (both byte orders), and ISO-media files whose brand is a still-image brand (HEIC, HEIF,
// AVIF). Movies: ISO-media and QuickTime files with a movie brand ("qt  ", "isom", "mp41",
// "mp42", "M4V ", "3gp…", …), QuickTime files that begin with a "moov", "mdat" or "wide"
// atom, and AVI (RIFF … "AVI ").
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

enum class MediaKind { None, Image, Movie };

// How many leading bytes mediaKindOfSignature looks at, at most.
inline constexpr std::size_t kMediaSignatureBytes = 64;

// The kind of media whose file begins with `head` (any length; only what is there is read).
MediaKind mediaKindOfSignature(std::span<const std::uint8_t> head);

// Reads the first bytes of the file at `path`; an unreadable file is None.
MediaKind mediaKindOfFile(const std::string& path);
