// The fixed lists of file-name extensions that make a file an image, a video or an audio
// file, for the media scanners and for typing message attachments.
//
// Each lookup answers with the 0-based position of the first entry of its list that equals
// the extension (given without its dot) regardless of ASCII case, or -1 for a missing or
// empty extension and one the list does not hold. A file is an image when GetImageType()
// finds its extension, a video when GetViedoType() does, an audio file when GetAudioType()
// does; which list a caller asks first is the caller's choice.
#pragma once

#include <cstdint>

std::int32_t GetImageType(const char* extension);
std::int32_t GetViedoType(const char* extension);
std::int32_t GetAudioType(const char* extension);
