#include "extract/media_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/stored_file.h"
#include "extract/camera_roll.h"
#include "extract/database_preparation.h"
#include "extract/item_records.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using fixtures::BackupWriter;
using fixtures::ManifestLayout;
using fixtures::MbdbEntry;
using fixtures::StoredLayout;

// What the classification posted, in posting order.
struct MediaPosts {
  std::vector<std::shared_ptr<MzPhotoAndVideoNode>> cameraRoll;  // "ScanPhotoAndVideo"
  std::vector<std::shared_ptr<MzPhotoAndVideoNode>> app;         // "ScanAppPhotoAndVideo"
  std::vector<std::shared_ptr<MzFaceTwitterNode>> social;        // "scanFaceTwitterInfo"
};

void observe(NotificationCenter& center, MediaPosts& posts) {
  center.addObserver("ScanPhotoAndVideo", [&](const std::any& o) {
    posts.cameraRoll.push_back(std::any_cast<std::shared_ptr<MzPhotoAndVideoNode>>(o));
  });
  center.addObserver("ScanAppPhotoAndVideo", [&](const std::any& o) {
    posts.app.push_back(std::any_cast<std::shared_ptr<MzPhotoAndVideoNode>>(o));
  });
  center.addObserver("scanFaceTwitterInfo", [&](const std::any& o) {
    posts.social.push_back(std::any_cast<std::shared_ptr<MzFaceTwitterNode>>(o));
  });
}

// Reads the folder's manifest and classifies every record as the scan does.
MediaPosts classifyBackup(const std::string& folder, FileIndex* indexOut = nullptr) {
  MediaPosts posts;
  NotificationCenter center;
  observe(center, posts);
  FileIndex index;
  ManifestReadOptions options;
  options.nc = &center;
  options.GetMediaFileByNode = [&center](const std::shared_ptr<MzTreeDirNode>& node) {
    GetMediaFileByNode(node, center);
  };
  scanDirAnalyThread(folder, index, options);
  if (indexOut) *indexOut = index;
  return posts;
}

std::vector<std::uint8_t> bytesOf(std::size_t size) {
  std::vector<std::uint8_t> out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return out;
}

struct Expected {
  std::string domain;
  std::string path;
  std::size_t size;
  bool bmov;
};

void expectMediaRecords(const std::vector<std::shared_ptr<MzPhotoAndVideoNode>>& posted,
                        const std::vector<Expected>& expected, const std::string& folder) {
  ASSERT_EQ(posted.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    const MzPhotoAndVideoNode& r = *posted[i];
    const std::string stored = storedFilePath(folder, fileKeyFor(e.domain, e.path));
    EXPECT_EQ(r.filePath, stored) << e.path;
    EXPECT_EQ(r.fileNodeName, fs::path(e.path).filename().string()) << e.path;
    EXPECT_EQ(r.fileSizeNumber, e.size) << e.path;
    EXPECT_EQ(r.fileNodeSize, sizeText(e.size)) << e.path;
    EXPECT_EQ(r.bmov, e.bmov) << e.path;
    EXPECT_FALSE(r.bSelected);
  }
}

class MixedIndex : public ::testing::TestWithParam<std::pair<ManifestLayout, StoredLayout>> {};

// A file index with every kind of entry the classification meets on a device.
TEST_P(MixedIndex, ClassifiesEveryFileByExtensionAndDomain) {
  TempDir dir;
  const std::string folder = dir.sub("0123456789abcdef0123456789abcdef01234567");
  BackupWriter writer(folder);
  writer.setManifestLayout(GetParam().first);
  writer.setStoredLayout(GetParam().second);
  auto file = [&](const std::string& domain, const std::string& path, std::size_t size) {
    writer.addFile(domain, path, bytesOf(size));
  };
  auto entryWithoutStoredFile = [&](const std::string& domain, const std::string& path,
                                    std::uint16_t mode, std::optional<std::string> target) {
    MbdbEntry entry;
    entry.domain = domain;
    entry.path = path;
    entry.mode = mode;
    entry.linkTarget = std::move(target);
    entry.fileLength = 25000;
    writer.addEntry(entry);
  };
  const std::string roll = "CameraRollDomain";
  writer.addDirectory(roll, "Media/DCIM");
  writer.addDirectory(roll, "Media/DCIM/100APPLE");
  file(roll, "Media/DCIM/100APPLE/IMG_0001.JPG", 25000);
  file(roll, "Media/DCIM/100APPLE/IMG_0002.jpg", 1200);
  file(roll, "Media/DCIM/100APPLE/IMG_0003.MOV", 40000);
  file(roll, "Media/DCIM/100APPLE/IMG_0004.Mov", 700);
  file(roll, "Media/DCIM/100APPLE/IMG_0005.", 900);   // ends in a dot
  file(roll, "Media/DCIM/.MISC/Info.plist", 300);     // not media
  file(roll, "Media/DCIM/100APPLE/IMG_0008.JPG", 0);  // an empty stored file
  entryWithoutStoredFile(roll, "Media/DCIM/100APPLE/IMG_0006.JPG", 0120755,
                         std::string("IMG_0001.JPG"));  // a link
  entryWithoutStoredFile(roll, "Media/DCIM/100APPLE/IMG_0007.JPG", 0100644,
                         std::nullopt);  // stored file missing
  // The device's thumbnail folders are named like the photos they belong to.
  const std::string media = "MediaDomain";
  writer.addDirectory(media, "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_0001.JPG");
  file(media, "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_0001.JPG/5005.JPG", 3000);
  file(media, "Media/Recordings/20130601 101010.m4a", 9000);
  file(media, "Library/SMS/Attachments/0a/10/IMG_0042.jpeg", 5000);
  file(media, "Media/iTunes_Control/Music/F00/ABCD", 8000);  // music is kept without extension
  const std::string home = "HomeDomain";
  file(home, "Library/Caches/Snapshots/com.apple.mobilesafari/Default-Portrait@2x.png", 7000);
  file(home, "Library/Preferences/com.apple.springboard.plist", 400);
  const std::string instagram = "AppDomain-com.burbn.instagram";
  file(instagram, "Documents/Instagram-2013-06-02.jpg", 6000);
  file(instagram, "Library/Caches/clip.mp4", 30000);
  file(instagram, "Library/Preferences/com.burbn.instagram.plist", 600);
  const std::string messenger = "AppDomain-com.facebook.Messenger";
  file(messenger, "Library/Caches/image_cache/photo.jpg", 4000);
  const std::string facebook = "AppDomain-com.facebook.Facebook";
  writer.addDirectory(facebook, "Library/Caches");
  file(facebook, "Library/Preferences/com.facebook.Facebook.plist", 500);
  entryWithoutStoredFile(facebook, "Library/Caches/gone.jpg", 0100644, std::nullopt);
  const std::string twitter = "AppDomain-com.atebits.Tweetie2";
  file(twitter, "Library/Caches/avatar.PNG", 2500);
  std::string error;
  ASSERT_TRUE(writer.write(&error)) << error;

  std::vector<std::string> logged;
  applog::setSink([&](const std::string& line) { logged.push_back(line); });
  const auto before = folderFingerprint(folder);
  FileIndex index;
  const MediaPosts posts = classifyBackup(folder, &index);
  applog::setSink({});
  EXPECT_EQ(folderFingerprint(folder), before);

  expectMediaRecords(
      posts.cameraRoll,
      {{roll, "Media/DCIM/100APPLE/IMG_0001.JPG", 25000, false},
       {roll, "Media/DCIM/100APPLE/IMG_0002.jpg", 1200, false},
       {roll, "Media/DCIM/100APPLE/IMG_0003.MOV", 40000, true},
       {roll, "Media/DCIM/100APPLE/IMG_0004.Mov", 700, true},
       {roll, "Media/DCIM/100APPLE/IMG_0008.JPG", 0, false},
       {media, "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_0001.JPG/5005.JPG", 3000, false},
       {media, "Media/Recordings/20130601 101010.m4a", 9000, true},
       {media, "Library/SMS/Attachments/0a/10/IMG_0042.jpeg", 5000, false},
       {home, "Library/Caches/Snapshots/com.apple.mobilesafari/Default-Portrait@2x.png", 7000,
        false}},
      folder);
  expectMediaRecords(posts.app,
                     {{instagram, "Documents/Instagram-2013-06-02.jpg", 6000, false},
                      {instagram, "Library/Caches/clip.mp4", 30000, true},
                      {messenger, "Library/Caches/image_cache/photo.jpg", 4000, false},
                      {twitter, "Library/Caches/avatar.PNG", 2500, false}},
                     folder);

  // Every file of the three social applications, media or not, and only files.
  struct Social {
    std::string domain, path;
    std::size_t size;
  };
  const std::vector<Social> social = {
      {messenger, "Library/Caches/image_cache/photo.jpg", 4000},
      {facebook, "Library/Preferences/com.facebook.Facebook.plist", 500},
      {twitter, "Library/Caches/avatar.PNG", 2500}};
  ASSERT_EQ(posts.social.size(), social.size());
  for (std::size_t i = 0; i < social.size(); ++i) {
    const MzFaceTwitterNode& r = *posts.social[i];
    EXPECT_EQ(r.faceTwitterFilePath,
              storedFilePath(folder, fileKeyFor(social[i].domain, social[i].path)));
    EXPECT_EQ(r.faceTwitterFileName, fs::path(social[i].path).filename().string());
    EXPECT_EQ(r.fileSize, sizeText(social[i].size));
    EXPECT_EQ(r.FileSizeNumber, social[i].size);
    EXPECT_FALSE(r.bSelected);
  }

  // The two media files without a stored file are named in the log; the link is not.
  std::vector<std::string> missing;
  for (const auto& line : logged) {
    if (line.find("is not stored in the backup") != std::string::npos) missing.push_back(line);
  }
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_NE(missing[0].find("CameraRollDomain-Media/DCIM/100APPLE/IMG_0007.JPG"),
            std::string::npos);
  EXPECT_NE(missing[1].find("AppDomain-com.facebook.Facebook-Library/Caches/gone.jpg"),
            std::string::npos);

  // The index keeps every entry, folders and links included, for the backup browser.
  EXPECT_EQ(index.size(), 26u);
  std::size_t folders = 0;
  for (const auto& record : index) folders += record->isFolder ? 1 : 0;
  EXPECT_EQ(folders, 4u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MixedIndex,
                         ::testing::Values(std::make_pair(ManifestLayout::Mbdb, StoredLayout::Flat),
                                           std::make_pair(ManifestLayout::Db,
                                                          StoredLayout::TwoDigitFolders)));

// The folder and link flags decide on their own, even where a file lies at the record's key.
TEST(MediaClassification, PassesOverFoldersLinksAndRecordsWithoutAFile) {
  TempDir dir;
  const std::string stored = dir.writeFile("stored", std::string(3000, 'x'));
  MediaPosts posts;
  NotificationCenter center;
  observe(center, posts);
  auto record = [&](const std::string& domain, const std::string& path) {
    auto node = std::make_shared<MzTreeDirNode>();
    node->fileDomain = domain;
    node->filePath = path;
    node->fileKey = stored;
    return node;
  };
  auto folder = record("AppDomain-com.facebook.Facebook", "Library/Caches/IMG_0001.JPG");
  folder->isFolder = true;
  GetMediaFileByNode(folder, center);
  auto link = record("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG");
  link->isLink = true;
  GetMediaFileByNode(link, center);
  auto noDigest = record("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0002.JPG");
  noDigest->fileKey = "";
  GetMediaFileByNode(noDigest, center);
  auto keyIsAFolder = record("AppDomain-com.atebits.Tweetie2", "Documents/a.png");
  keyIsAFolder->fileKey = dir.path();
  GetMediaFileByNode(keyIsAFolder, center);
  GetMediaFileByNode(nullptr, center);
  EXPECT_TRUE(posts.cameraRoll.empty());
  EXPECT_TRUE(posts.app.empty());
  EXPECT_TRUE(posts.social.empty());

  // The domains are compared exactly.
  GetMediaFileByNode(record("cameraRollDomain", "a.jpg"), center);
  GetMediaFileByNode(record("AppDomain-com.facebook.facebook", "a.jpg"), center);
  GetMediaFileByNode(record("", "a.jpg"), center);
  EXPECT_TRUE(posts.cameraRoll.empty());
  EXPECT_EQ(posts.app.size(), 3u);
  EXPECT_TRUE(posts.social.empty());
  // "3dm" stands first in the image list and classifies as an image.
  GetMediaFileByNode(record("HomeDomain", "Documents/model.3dm"), center);
  ASSERT_EQ(posts.cameraRoll.size(), 1u);
  EXPECT_FALSE(posts.cameraRoll[0]->bmov);
}

// The sample backup of each generation: every photo, video and application photo that the
// builder stored comes back with its stored file and size.
TEST(MediaClassification, SampleBackupsGiveTheBuildersMedia) {
  for (int generation : {5, 6, 7}) {
    SCOPED_TRACE("generation " + std::to_string(generation));
    TempDir dir;
    const std::string folder = dir.sub(fixtures::sampleBackupFolderName());
    fixtures::BackupBuildOptions options;
    options.generation = generation;
    fixtures::BackupBuildResult built;
    std::string error;
    ASSERT_TRUE(fixtures::buildSampleBackup(folder, options, &built, &error)) << error;
    const MediaPosts posts = classifyBackup(folder);
    const auto& truth = built.truth;

    std::map<std::string, std::shared_ptr<MzPhotoAndVideoNode>> cameraRoll, app;
    for (const auto& r : posts.cameraRoll) cameraRoll[r->filePath] = r;
    for (const auto& r : posts.app) app[r->filePath] = r;
    auto check = [&](const auto& records, const nlohmann::json& item) {
      const std::string stored = storedFilePath(folder, item["file_key"].get<std::string>());
      auto found = records.find(stored);
      ASSERT_NE(found, records.end()) << item["path"];
      const MzPhotoAndVideoNode& r = *found->second;
      EXPECT_EQ(r.fileNodeName, fs::path(item["path"].get<std::string>()).filename().string());
      EXPECT_EQ(r.fileSizeNumber, item["bytes"].get<std::uint64_t>());
      EXPECT_EQ(r.fileNodeSize, sizeText(item["bytes"].get<std::uint64_t>()));
      EXPECT_EQ(r.bmov, item["kind"] == "video");
    };
    ASSERT_FALSE(truth["photos"].empty());
    for (const auto& photo : truth["photos"]) check(cameraRoll, photo);
    for (const auto& media : truth["app_media"]) check(app, media);
    EXPECT_EQ(app.size(), truth["app_media"].size());

    // Camera-roll records beyond the photos are the stored media of the device's own
    // domains (message attachments); each is a stored file of the truth.
    std::set<std::string> storedFiles;
    std::size_t socialFiles = 0;
    for (const auto& f : truth["files"]) {
      storedFiles.insert(storedFilePath(folder, f["file_key"].get<std::string>()));
      const std::string domain = f["domain"];
      socialFiles += domain == "AppDomain-com.facebook.Facebook" ||
                     domain == "AppDomain-com.atebits.Tweetie2" ||
                     domain == "AppDomain-com.facebook.Messenger";
    }
    for (const auto& [path, r] : cameraRoll) EXPECT_TRUE(storedFiles.count(path)) << path;
    EXPECT_EQ(posts.social.size(), socialFiles);
    EXPECT_GE(socialFiles, 1u);
  }
}

// ---- the camera roll of a current backup

// What the scan does: the current reading chosen before the walk, its records posted after.
MediaPosts classifyCurrentBackup(const std::string& folder, ScanProblems* problems = nullptr) {
  MediaPosts posts;
  NotificationCenter center;
  observe(center, posts);
  DatabasePreparer databases(folder);
  std::optional<CurrentCameraRoll> roll = currentCameraRollOf(folder, databases);
  EXPECT_TRUE(roll.has_value());
  FileIndex index;
  ManifestReadOptions options;
  options.nc = &center;
  options.GetMediaFileByNode = [&](const std::shared_ptr<MzTreeDirNode>& node) {
    GetMediaFileByNode(node, center, problems, roll ? &*roll : nullptr);
  };
  scanDirAnalyThread(folder, index, options);
  if (roll) roll->post(center, problems);
  return posts;
}

struct CurrentBackup {
  TempDir dir;
  std::string folder;
  nlohmann::json truth;
};

// The sample as a current iPhone keeps it, with `library` as its "photo_library" options.
void buildCurrent(CurrentBackup& backup, const nlohmann::json& library) {
  nlohmann::json description = fixtures::sampleDescription();
  if (!library.is_null()) description["photo_library"] = library;
  backup.folder = backup.dir.sub(fixtures::sampleBackupFolderName());
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(description, backup.folder, fixtures::currentDeviceBackup(),
                                    &built, &error))
      << error;
  backup.truth = built.truth;
}

// Compares the camera-roll records with the builder's truth: every photo, video, render and
// library original once, with its name, size, kind and device path; the Live Photo's movie
// only inside its still's record; no thumbnail, preview or cache. `withLibrary` says
// whether the dates (and, with `withNames`, the original names) are expected.
void expectCameraRoll(const CurrentBackup& backup, const MediaPosts& posts, bool withLibrary,
                      bool withNames) {
  std::map<std::string, std::shared_ptr<MzPhotoAndVideoNode>> byStored;
  for (const auto& r : posts.cameraRoll) {
    if (!r->devicePath.empty()) byStored[r->filePath] = r;
  }
  std::size_t expected = 0;
  std::size_t livePhotos = 0;
  for (const auto& item : backup.truth["photos"]) {
    if (!item.contains("device_path")) continue;
    ++expected;
    SCOPED_TRACE(item["device_path"].get<std::string>());
    auto found = byStored.find(storedFilePath(backup.folder, item["file_key"].get<std::string>()));
    ASSERT_NE(found, byStored.end());
    const MzPhotoAndVideoNode& r = *found->second;
    EXPECT_EQ(r.devicePath, item["device_path"]);
    EXPECT_EQ(r.fileNodeName, item["listed_name"]);
    EXPECT_EQ(r.fileSizeNumber, item["bytes"].get<std::uint64_t>());
    EXPECT_EQ(r.bmov, item["kind"] == "video");
    EXPECT_EQ(r.renderOf, item.value("render_of", ""));
    const auto seconds = static_cast<std::int64_t>(std::floor(item["capture_2001"].get<double>()));
    EXPECT_EQ(r.captureDate, withLibrary ? dateText(seconds, 1) : "");
    EXPECT_EQ(r.originalFileName, withLibrary && withNames ? item.value("original_name", "") : "");
    EXPECT_EQ(r.bLivePhoto, item.contains("live_movie"));
    if (item.contains("live_movie")) {
      ++livePhotos;
      const auto& movie = item["live_movie"];
      EXPECT_EQ(r.livePhotoMoviePath,
                storedFilePath(backup.folder, movie["file_key"].get<std::string>()));
      EXPECT_EQ(r.livePhotoMovieSize, movie["bytes"].get<std::uint64_t>());
      EXPECT_EQ(r.livePhotoMovieName,
                fs::path(movie["path"].get<std::string>()).filename().string());
    }
  }
  EXPECT_EQ(byStored.size(), expected);
  EXPECT_EQ(livePhotos, 1u);
  ASSERT_GE(backup.truth["photo_caches"].size(), 5u);
  std::set<std::string> posted;
  for (const auto& r : posts.cameraRoll) posted.insert(r->filePath);
  for (const auto& cache : backup.truth["photo_caches"]) {
    EXPECT_FALSE(posted.count(storedFilePath(backup.folder, cache["file_key"].get<std::string>())))
        << cache["path"];
  }
}

TEST(CurrentCameraRoll, RecordsAreTheBuildersWithDatesNamesAndOneLivePhoto) {
  CurrentBackup backup;
  buildCurrent(backup, nullptr);
  const MediaPosts posts = classifyCurrentBackup(backup.folder);
  expectCameraRoll(backup, posts, true, true);
}

TEST(CurrentCameraRoll, LibraryWithoutNamesGivesDatesAndADamagedOneGivesPlainRecords) {
  {
    SCOPED_TRACE("no table of original names");
    CurrentBackup backup;
    buildCurrent(backup, {{"attributes", false}});
    expectCameraRoll(backup, classifyCurrentBackup(backup.folder), true, false);
  }
  {
    SCOPED_TRACE("damaged library");
    CurrentBackup backup;
    buildCurrent(backup, {{"damaged", true}});
    expectCameraRoll(backup, classifyCurrentBackup(backup.folder), false, false);
  }
}

// A camera-roll file whose stored file is gone, or that a symbolic link stands in for, gives
// no record; the rest of the roll is posted as usual.
TEST(CurrentCameraRoll, StoredFilesThatAreNotRegularFilesGiveNoRecord) {
  CurrentBackup backup;
  buildCurrent(backup, nullptr);
  std::vector<std::string> stills;
  for (const auto& item : backup.truth["photos"]) {
    const std::string path = item.value("device_path", "");
    if (path.rfind("Media/DCIM/", 0) == 0 && !item.contains("live_movie") &&
        item["kind"] != "video")
      stills.push_back(storedFilePath(backup.folder, item["file_key"].get<std::string>()));
  }
  ASSERT_GE(stills.size(), 3u);
  fs::remove(stills[0]);
  fs::remove(stills[1]);
  fs::create_symlink(backup.dir.sub("elsewhere.jpg"), stills[1]);
  ScanProblems problems;
  const MediaPosts posts = classifyCurrentBackup(backup.folder, &problems);
  std::set<std::string> posted;
  for (const auto& r : posts.cameraRoll) posted.insert(r->filePath);
  EXPECT_FALSE(posted.count(stills[0]));
  EXPECT_FALSE(posted.count(stills[1]));
  EXPECT_TRUE(posted.count(stills[2]));
}

// iOS 11 to 13 name the asset table ZGENERICASSET and join the original names through the
// asset's ZADDITIONALATTRIBUTES; a library without a date column still gives the names.
TEST(CurrentCameraRoll, OlderAssetTableAndAttributesJoinedFromTheAsset) {
  TempDir dir;
  const std::string path = dir.sub("Photos.sqlite");
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(raw,
                   "CREATE TABLE ZGENERICASSET (Z_PK INTEGER PRIMARY KEY, ZKIND INTEGER,"
                   " ZKINDSUBTYPE INTEGER, ZADDITIONALATTRIBUTES INTEGER,"
                   " ZDIRECTORY VARCHAR, ZFILENAME VARCHAR);"
                   "CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY,"
                   " ZORIGINALFILENAME VARCHAR);"
                   "INSERT INTO ZGENERICASSET VALUES (1, 0, 2, 7, 'DCIM/101APPLE', 'IMG_2001.JPG');"
                   "INSERT INTO ZADDITIONALASSETATTRIBUTES VALUES (7, 'Beach.jpg');",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(raw);
  const SqliteDatabase db = SqliteDatabase::openReadOnly(path);
  ASSERT_TRUE(PhotoLibrary::isCurrentLibrary(db));
  const PhotoLibrary library = PhotoLibrary::read(db);
  const PhotoAsset* asset = library.find("dcim/101apple", "img_2001.jpg");
  ASSERT_NE(asset, nullptr);
  EXPECT_EQ(asset->originalFileName, "Beach.jpg");
  EXPECT_TRUE(asset->livePhoto);
  EXPECT_EQ(asset->captureDate, "");
  EXPECT_EQ(library.find("DCIM/101APPLE", "IMG_2002.JPG"), nullptr);
}

// Older backups keep their reading: the library of iOS 5 to 7 (ZGENERICASSET alone), or none,
// chooses none.
TEST(CurrentCameraRoll, OlderBackupsAreNotReadThisWay) {
  {
    TempDir dir;
    const std::string path = dir.sub("Photos.sqlite");
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TABLE ZGENERICASSET (Z_PK INTEGER PRIMARY KEY, ZKIND INTEGER,"
                           " ZDIRECTORY VARCHAR, ZFILENAME VARCHAR);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    EXPECT_FALSE(PhotoLibrary::isCurrentLibrary(SqliteDatabase::openReadOnly(path)));
  }
  TempDir dir;
  const std::string folder = dir.sub(fixtures::sampleBackupFolderName());
  fixtures::BackupBuildOptions options;
  options.generation = 7;
  ASSERT_TRUE(fixtures::buildSampleBackup(folder, options));
  DatabasePreparer databases(folder);
  EXPECT_FALSE(currentCameraRollOf(folder, databases).has_value());
}

// ---- the cloud folder scan

struct CloudPosts {
  std::vector<std::int32_t> progress;
  std::vector<std::string> media;
  std::vector<std::string> events;  // "p<value>" and "m<name>" in posting order
};

CloudPosts scanCloudFolder(const std::string& folder) {
  CloudPosts posts;
  NotificationCenter center;
  center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    posts.progress.push_back(std::any_cast<std::int32_t>(o));
    posts.events.push_back("p" + std::to_string(posts.progress.back()));
  });
  center.addObserver("ScanPhotoAndVideoInfo", [&](const std::any& o) {
    posts.media.push_back(std::any_cast<std::string>(o));
    posts.events.push_back("m" + fs::path(posts.media.back()).filename().string());
  });
  scanPhotoAndVideoThread(folder, center);
  return posts;
}

std::string numbered(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "f%03d", i);
  return name;
}

TEST(CloudMediaScan, ReportsFilesOfAtLeast20000BytesWithProgressOver60Files) {
  TempDir dir;
  const std::map<int, std::size_t> large = {{2, 20000}, {3, 19999}, {10, 20001}, {59, 64000}};
  for (int i = 0; i < 60; ++i) {
    auto size = large.count(i) ? large.at(i) : 100;
    dir.writeFile("merge/" + numbered(i), std::string(size, 'x'));
  }
  const std::string folder = dir.sub("merge");
  const CloudPosts posts = scanCloudFolder(folder);

  std::vector<std::int32_t> oneTo29;
  for (int v = 1; v <= 29; ++v) oneTo29.push_back(v);
  EXPECT_EQ(posts.progress, oneTo29);
  EXPECT_EQ(posts.media,
            (std::vector<std::string>{folder + "/f002", folder + "/f010", folder + "/f059"}));
  // Step k falls on file 2k and is posted before that file is looked at.
  const std::vector<std::string> head = {"p1", "mf002", "p2", "p3", "p4", "p5", "mf010"};
  EXPECT_EQ(std::vector<std::string>(posts.events.begin(), posts.events.begin() + 7), head);
  EXPECT_EQ(posts.events.back(), "mf059");
}

TEST(CloudMediaScan, ProgressStepsForSmallAndLargeFolders) {
  // For n files: min(n, 29) steps, valued 1, 2, ..., the last at position floor(29n/30).
  for (int n : {1, 2, 7, 29, 30, 31, 45}) {
    SCOPED_TRACE(n);
    TempDir dir;
    for (int i = 0; i < n; ++i) dir.writeFile("merge/" + numbered(i), std::string(20000, 'x'));
    const CloudPosts posts = scanCloudFolder(dir.sub("merge"));
    const int steps = std::min(n, 29);
    ASSERT_EQ(posts.progress.size(), static_cast<std::size_t>(steps));
    for (int v = 0; v < steps; ++v) EXPECT_EQ(posts.progress[v], v + 1);
    EXPECT_EQ(posts.media.size(), static_cast<std::size_t>(n));
    // The last step comes right before the file at floor(29n/30).
    const int last = 29 * n / 30;
    auto lastStep =
        std::find(posts.events.begin(), posts.events.end(), "p" + std::to_string(steps));
    ASSERT_NE(lastStep, posts.events.end());
    ASSERT_NE(lastStep + 1, posts.events.end());
    EXPECT_EQ(*(lastStep + 1), "m" + numbered(last));
  }
  // With 30 files the first file gets no step: the steps fall on files 1 to 29.
  TempDir dir;
  for (int i = 0; i < 30; ++i) dir.writeFile("merge/" + numbered(i), std::string(20000, 'x'));
  const CloudPosts posts = scanCloudFolder(dir.sub("merge"));
  ASSERT_GE(posts.events.size(), 2u);
  EXPECT_EQ(posts.events[0], "mf000");
  EXPECT_EQ(posts.events[1], "p1");
}

TEST(CloudMediaScan, OnlyRegularFilesOfTheFolderItself) {
  TempDir dir;
  const std::string folder = dir.sub("merge");
  dir.writeFile("merge/a.jpg", std::string(30000, 'x'));
  dir.writeFile("merge/sub/deep.jpg", std::string(30000, 'x'));  // not descended into
  dir.writeFile("outside.jpg", std::string(30000, 'x'));
  std::error_code ec;
  fs::create_symlink(dir.sub("outside.jpg"), folder + "/link.jpg", ec);
  ASSERT_FALSE(ec);
  const CloudPosts posts = scanCloudFolder(folder);
  EXPECT_EQ(posts.media, std::vector<std::string>{folder + "/a.jpg"});
  EXPECT_EQ(posts.progress, (std::vector<std::int32_t>{1, 2, 3}));  // three names

  // An empty or missing folder posts nothing.
  fs::create_directories(dir.sub("empty"), ec);
  EXPECT_TRUE(scanCloudFolder(dir.sub("empty")).events.empty());
  EXPECT_TRUE(scanCloudFolder(dir.sub("missing")).events.empty());
  EXPECT_TRUE(scanCloudFolder(dir.sub("outside.jpg")).events.empty());
}

}  // namespace
