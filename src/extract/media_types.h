// The media type lists: which file-name extensions make a file an image, a video or an
// audio file, and the path helpers that find a device path's extension and file name.
//
// Each list is a fixed, ordered list of upper-case extensions; a lookup answers with the
// 0-based position of the first entry equal to its argument, ignoring ASCII case, or -1.
// The order is part of the answer, so the lists keep their duplicates ("CDR" and "DCR"
// stand twice in the image list; a lookup finds the first). A file is an image, a video or
// an audio file when the lookup of that list finds its extension (a result of 0 or more);
// which list a caller asks first is the caller's choice.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The lists in their order: the written 138 image, 55 video and 38 audio extensions, then
// the formats of current cameras after the image list (HEIC, HEIF, AVIF, HEICS) and the
// video list (HEVC).
std::span<const std::string_view> imageTypeList();
std::span<const std::string_view> videoTypeList();
std::span<const std::string_view> audioTypeList();

// Position of `ext` (an extension without its dot) in the image, video or audio list, or -1
// for a null or empty argument or an extension that is not in the list. The C-string forms
// read up to the terminating zero.
std::int32_t GetImageType(const char* ext);
std::int32_t GetViedoType(const char* ext);
std::int32_t GetAudioType(const char* ext);
std::int32_t GetImageType(std::string_view ext);
std::int32_t GetViedoType(std::string_view ext);
std::int32_t GetAudioType(std::string_view ext);

// The last component of `path`, trailing "/" ignored ("a/b.JPG" and "a/b.JPG/" give
// "b.JPG"; "" gives ""; "/" gives "/").
std::string_view lastPathComponent(std::string_view path);

// The extension of `path`'s last component: the text after its last ".", without the dot.
// Empty when the component has no ".", ends in ".", or begins with its only "." (a hidden
// file such as ".jpg" has no extension).
std::string_view pathExtension(std::string_view path);
