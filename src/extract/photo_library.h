// What the camera roll's photo library database (CameraRollDomain
// Media/PhotoData/Photos.sqlite) says about each photo and video: when it was taken, the name
// it was taken or imported under, and whether it is a Live Photo.
//
// The asset table is ZASSET (iOS 14 and later) or ZGENERICASSET (iOS 8 to 13); each row
// names its file by ZDIRECTORY ("DCIM/100APPLE") and ZFILENAME ("IMG_0001.HEIC"). The
// columns are found by the table's own column list, not by a list per iOS version: a
// missing capture date, kind or original-name column (the ZADDITIONALASSETATTRIBUTES
// table, joined by its ZASSET column or the asset's ZADDITIONALATTRIBUTES) only means that
// field stays empty. A database without either asset table, or one that cannot be read,
// gives an empty library; rows read before a failing step are kept.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/sqlite_reader.h"

struct PhotoAsset {
  std::string captureDate;           // as other dates are shown ("MM-DD-YYYY HH:MM", local time)
  std::string originalFileName;      // "" when the library does not say
  std::optional<std::int64_t> kind;  // 0 photo, 1 video
  bool livePhoto = false;            // ZKINDSUBTYPE 2: a still with its movie
};

class PhotoLibrary {
 public:
  // Whether `db` holds a photo library of a current device: ZASSET, or ZGENERICASSET beside
  // the ZADDITIONALASSETATTRIBUTES table (the libraries of iOS 5 to 7 have ZGENERICASSET
  // alone), with file names.
  static bool isCurrentLibrary(const SqliteDatabase& db);
  // Reads every asset row of `db`; an empty library when there is none.
  static PhotoLibrary read(const SqliteDatabase& db);

  // The asset whose file is `directory`/`fileName` (as the rows name them, compared without
  // regard to case), or none.
  const PhotoAsset* find(const std::string& directory, const std::string& fileName) const;
  std::size_t size() const { return assets_.size(); }
  bool empty() const { return assets_.empty(); }

 private:
  std::map<std::string, PhotoAsset> assets_;  // "directory/filename" in upper case
};
