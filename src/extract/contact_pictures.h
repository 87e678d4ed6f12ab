// The contact pictures of a backup, read into the scan's contactImageArray before the persons
// are built.
//
// The picture database is AddressBookImages.sqlitedb (ABFullSizeImage rows), or the older
// ".mddata" file (ABImage rows). Every row of those tables is taken as it stands, and the
// later row of a person wins when the pictures are matched to the persons.
//
// Address books of iOS 8 and later often hold no full-size picture for a person but only
// thumbnails (ABThumbnailImage, one row per format), some of which are pixel buffers rather
// than image files. With `thumbnailFallback` set, a full-size row counts only when its bytes
// are an image file, and a person without one gets the thumbnail of the largest format
// whose bytes are an image file. Nothing empty and nothing but image files is taken then.
#pragma once

#include <cstdint>
#include <span>

#include "extract/scan_context.h"

// True when `bytes` begin as a JPEG, PNG or HEIF/HEIC image file does.
bool isContactImageData(std::span<const std::uint8_t> bytes);

// Appends one MzContactImageNode per picture found to scan.lists.contactImageArray. A
// missing or unreadable picture database adds nothing.
void readContactPictures(ScanContext& scan, bool thumbnailFallback);
