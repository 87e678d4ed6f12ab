// The manifest reader on Manifest.mbdb (older backups) and Manifest.db (current backups).
#include "catalogue/manifest_reader.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <any>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "backup_writer.h"
#include "base/log.h"
#include "base/notification_center.h"
#include "catalogue/stored_file.h"
#include "support/folder_hash.h"
#include "support/temp_dir.h"

namespace {

using fixtures::MbdbEntry;

MbdbEntry entry(std::optional<std::string> domain, std::optional<std::string> path) {
  MbdbEntry e;
  e.domain = std::move(domain);
  e.path = std::move(path);
  return e;
}

// Everything a read posts, logs and hands over, in order.
struct Recorder {
  NotificationCenter center;
  std::vector<std::string> events;  // "find <path>", "progress <n>", "media <path>"
  std::vector<std::int32_t> progress;
  std::vector<std::string> logged;
  FileIndex index;
  ManifestReadOptions options;

  Recorder() {
    center.addObserver("FindBackUpDirFileInfo", [this](const std::any& o) {
      auto record = std::any_cast<std::shared_ptr<MzTreeDirNode>>(o);
      events.push_back("find " + record->filePath + " @" + std::to_string(index.size()));
    });
    center.addObserver("ScanProgressInfo", [this](const std::any& o) {
      progress.push_back(std::any_cast<std::int32_t>(o));
      events.push_back("progress " + std::to_string(progress.back()));
    });
    options.nc = &center;
    options.GetMediaFileByNode = [this](const std::shared_ptr<MzTreeDirNode>& r) {
      events.push_back("media " + r->filePath);
    };
    applog::setSink([this](const std::string& l) { logged.push_back(l); });
  }
  ~Recorder() { applog::setSink({}); }

  ManifestReadResult readBytes(const std::vector<std::uint8_t>& bytes,
                               const std::string& folder = "/backup") {
    return readManifestMbdbBytes(bytes.data(), bytes.size(), folder, index, options);
  }
};

std::string writeMbdb(const TempDir& tmp, const std::vector<std::uint8_t>& bytes) {
  tmp.writeFile("b/Manifest.mbdb", std::string(bytes.begin(), bytes.end()));
  return tmp.sub("b");
}

TEST(ManifestMbdb, RecordsKeysNotificationsAndHandOffInOrder) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'d', 'b'});
  writer.addDirectory("CameraRollDomain", "Media/DCIM");
  ASSERT_TRUE(writer.write());

  Recorder r;
  ManifestReadResult result = scanDirAnalyThread(writer.folder(), r.index, r.options);
  EXPECT_EQ(result.status, ManifestStatus::Read);
  EXPECT_EQ(result.entries, 2u);
  EXPECT_EQ(result.manifestName, "Manifest.mbdb");
  ASSERT_EQ(r.index.size(), 2u);
  EXPECT_EQ(r.index[0]->fileDomain, "HomeDomain");
  EXPECT_EQ(r.index[0]->filePath, "Library/SMS/sms.db");
  EXPECT_EQ(r.index[0]->fileKey, writer.folder() + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(r.index[1]->fileKey,
            writer.folder() + "/" + fileKeyFor("CameraRollDomain", "Media/DCIM"));

  // Announced, progress, media, then appended (the index is one shorter while announced).
  ASSERT_EQ(r.events.size(), 6u);
  EXPECT_EQ(r.events[0], "find Library/SMS/sms.db @0");
  EXPECT_EQ(r.events[1].rfind("progress ", 0), 0u);
  EXPECT_EQ(r.events[2], "media Library/SMS/sms.db");
  EXPECT_EQ(r.events[3], "find Media/DCIM @1");
  EXPECT_EQ(r.events[5], "media Media/DCIM");

  EXPECT_EQ(r.progress.size(), 2u);
  EXPECT_EQ(r.progress.back(), 20);  // the last entry ends at the end of the file
  EXPECT_TRUE(r.logged.empty());
}

TEST(ManifestMbdb, ProgressValuesFollowTheFilePosition) {
  // Four equal entries: positions after each are 6 + k·n of 6 + 4n bytes.
  std::vector<MbdbEntry> entries(4, entry("HomeDomain", "Library/Notes/notes.sqlite"));
  auto bytes = fixtures::encodeMbdb(entries);
  const std::size_t n = (bytes.size() - 6) / 4;
  Recorder r;
  r.readBytes(bytes);
  ASSERT_EQ(r.progress.size(), 4u);
  for (std::size_t k = 1; k <= 4; ++k) {
    EXPECT_EQ(r.progress[k - 1], static_cast<std::int32_t>((6 + k * n) * 20 / bytes.size()));
  }
}

TEST(ManifestMbdb, RecoveryModePostsNoProgressButStillAnnounces) {
  auto bytes = fixtures::encodeMbdb({entry("HomeDomain", "a"), entry("HomeDomain", "b")});
  Recorder r;
  r.options.bIOSRecoveryMode = true;
  EXPECT_EQ(r.readBytes(bytes).entries, 2u);
  EXPECT_TRUE(r.progress.empty());
  EXPECT_EQ(r.events, (std::vector<std::string>{"find a @0", "media a", "find b @1", "media b"}));
}

TEST(ManifestMbdb, HeaderMustBeMbdbVersionFiveZero) {
  TempDir tmp;
  Recorder r;
  // A missing manifest.
  EXPECT_EQ(readManifestMbdb(tmp.path(), r.index, r.options).status, ManifestStatus::Missing);
  EXPECT_EQ(scanDirAnalyThread(tmp.path(), r.index, r.options).status, ManifestStatus::Missing);

  auto good = fixtures::encodeMbdb({entry("HomeDomain", "Library/SMS/sms.db")});
  for (auto header : {std::vector<std::uint8_t>{'m', 'b', 'd', 'b', 4, 0},
                      std::vector<std::uint8_t>{'m', 'b', 'd', 'b', 5, 1},
                      std::vector<std::uint8_t>{'M', 'B', 'D', 'B', 5, 0},
                      std::vector<std::uint8_t>{'m', 'b', 'd', 'x', 5, 0}}) {
    auto bytes = good;
    std::copy(header.begin(), header.end(), bytes.begin());
    EXPECT_EQ(r.readBytes(bytes).status, ManifestStatus::BadHeader);
  }
  EXPECT_EQ(r.readBytes({}).status, ManifestStatus::BadHeader);
  EXPECT_EQ(r.readBytes({'m', 'b', 'd', 'b', 5}).status, ManifestStatus::BadHeader);
  EXPECT_EQ(readManifestMbdb(writeMbdb(tmp, {}), r.index, r.options).status,
            ManifestStatus::BadHeader);
  EXPECT_TRUE(r.index.empty());
  EXPECT_TRUE(r.events.empty());

  // The header alone is a manifest without entries.
  ManifestReadResult alone = r.readBytes({'m', 'b', 'd', 'b', 5, 0});
  EXPECT_EQ(alone.status, ManifestStatus::Read);
  EXPECT_EQ(alone.entries, 0u);
  EXPECT_TRUE(r.events.empty());
}

TEST(ManifestMbdb, PropertiesAbsentAndEmptyStringsAreSkipped) {
  MbdbEntry none = entry(std::nullopt, "Media/Recordings/1.m4a");
  MbdbEntry many = entry("MediaDomain", std::string());  // an empty path
  many.linkTarget = "target";
  many.dataHash = std::string(20, '\x7f');
  many.encryptionKey = std::string(40, 'k');
  for (int i = 0; i < 255; ++i) {
    many.properties.push_back({"com.apple.key" + std::to_string(i), std::string(i % 7, 'v')});
  }
  many.properties[3].first.clear();  // an empty property name
  MbdbEntry last = entry("HomeDomain", std::nullopt);
  last.properties = {{"a", "b"}};
  auto bytes = fixtures::encodeMbdb({none, many, last, entry("HomeDomain", "end")});

  Recorder r;
  ManifestReadResult result = r.readBytes(bytes, "/f");
  EXPECT_EQ(result.status, ManifestStatus::Read);
  ASSERT_EQ(r.index.size(), 4u);
  EXPECT_EQ(r.index[0]->fileDomain, "");
  EXPECT_EQ(r.index[0]->filePath, "Media/Recordings/1.m4a");
  EXPECT_EQ(r.index[0]->fileKey, "/f/" + fileKeyFor("", "Media/Recordings/1.m4a"));
  EXPECT_EQ(r.index[1]->fileDomain, "MediaDomain");
  EXPECT_EQ(r.index[1]->filePath, "");
  EXPECT_EQ(r.index[1]->fileKey, "/f/" + fileKeyFor("MediaDomain", ""));
  EXPECT_EQ(r.index[2]->filePath, "");
  EXPECT_EQ(r.index[3]->fileDomain, "HomeDomain");
  EXPECT_EQ(r.index[3]->filePath, "end");
}

TEST(ManifestMbdb, LatestRecordOfAPathWins) {
  auto bytes = fixtures::encodeMbdb({entry("HomeDomain", "Library/Preferences/x.plist"),
                                     entry("AppDomain-com.example.app", "Documents/a.jpg"),
                                     entry("MediaDomain", "Library/Preferences/x.plist")});
  Recorder r;
  EXPECT_EQ(getFileKeyBytheFilepath(r.index, "Library/Preferences/x.plist"), std::nullopt);
  r.readBytes(bytes, "/f");
  EXPECT_EQ(getFileKeyBytheFilepath(r.index, "Library/Preferences/x.plist"),
            "/f/" + fileKeyFor("MediaDomain", "Library/Preferences/x.plist"));
  EXPECT_EQ(getFileKeyBytheFilepath(r.index, "Documents/a.jpg"),
            "/f/" + fileKeyFor("AppDomain-com.example.app", "Documents/a.jpg"));
  EXPECT_EQ(getFileKeyBytheFilepath(r.index, "documents/a.jpg"), std::nullopt);
  EXPECT_EQ(getFileKeyBytheFilepath(r.index, "Documents/a"), std::nullopt);
}

TEST(ManifestMbdb, LongStringsAreCutTo259BytesAndLongKeyTextsFormedWhole) {
  const std::string longPath = "Library/" + std::string(292, 'p');  // 300 bytes
  const std::string domain = "AppDomain-" + std::string(240, 'd');
  const std::string path = "Documents/" + std::string(240, 'q');  // 250 bytes, kept whole
  auto bytes = fixtures::encodeMbdb(
      {entry("HomeDomain", longPath), entry(domain, path), entry("HomeDomain", "next")});
  Recorder r;
  EXPECT_EQ(r.readBytes(bytes, "/f").status, ManifestStatus::Read);
  ASSERT_EQ(r.index.size(), 3u);
  EXPECT_EQ(r.index[0]->filePath, longPath.substr(0, 259));
  EXPECT_EQ(r.index[0]->fileKey, "/f/" + fileKeyFor("HomeDomain", longPath.substr(0, 259)));
  EXPECT_EQ(r.index[1]->fileDomain, domain);
  EXPECT_EQ(r.index[1]->fileKey, "/f/" + fileKeyFor(domain, path));  // 501-byte key text
  EXPECT_EQ(r.index[2]->filePath, "next");  // the dropped bytes did not shift the walk
}

TEST(ManifestMbdb, TruncatedEntryKeepsTheRecordsBeforeIt) {
  auto full = fixtures::encodeMbdb(
      {entry("HomeDomain", "one"), entry("HomeDomain", "two"), entry("HomeDomain", "three")});
  const std::size_t third =
      fixtures::encodeMbdb({entry("HomeDomain", "one"), entry("HomeDomain", "two")}).size();
  // Cut inside the third entry's path string, then inside its fixed-size fields, then
  // just before its property count.
  for (std::size_t cut : {third + 2 + 10 + 3, third + 27, full.size() - 1}) {
    Recorder r;
    std::vector<std::uint8_t> bytes(full.begin(), full.begin() + static_cast<long>(cut));
    ManifestReadResult result = r.readBytes(bytes);
    EXPECT_EQ(result.status, ManifestStatus::Truncated) << cut;
    EXPECT_EQ(result.entries, 2u) << cut;
    ASSERT_EQ(r.index.size(), 2u);
    EXPECT_EQ(r.index[1]->filePath, "two");
    EXPECT_EQ(r.logged.size(), 1u) << cut;
  }
  // A string length that runs past the end of the file.
  auto bytes = full;
  bytes[third] = 0x7F;
  Recorder r;
  EXPECT_EQ(r.readBytes(bytes).status, ManifestStatus::Truncated);
  EXPECT_EQ(r.index.size(), 2u);
  EXPECT_EQ(r.logged.size(), 1u);
}

TEST(ManifestMbdb, EveryCutOfAValidManifestKeepsTheWholeEntriesBeforeIt) {
  MbdbEntry withProperties = entry("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG");
  withProperties.dataHash = std::string(20, '\x11');
  withProperties.properties = {{"com.apple.assetsd.UUID", "6B4E"}};
  const std::vector<MbdbEntry> entries = {withProperties, entry(std::nullopt, "x"),
                                          entry("HomeDomain", "Library/SMS/sms.db")};
  const auto full = fixtures::encodeMbdb(entries);
  std::vector<std::size_t> ends;  // where each entry ends
  for (std::size_t n = 1; n <= entries.size(); ++n) {
    ends.push_back(fixtures::encodeMbdb({entries.begin(), entries.begin() + long(n)}).size());
  }
  for (std::size_t cut = 6; cut <= full.size(); ++cut) {
    Recorder r;
    std::vector<std::uint8_t> bytes(full.begin(), full.begin() + static_cast<long>(cut));
    ManifestReadResult result = r.readBytes(bytes);
    const std::size_t whole = static_cast<std::size_t>(
        std::count_if(ends.begin(), ends.end(), [cut](std::size_t e) { return e <= cut; }));
    const bool atBoundary = cut == 6 || std::find(ends.begin(), ends.end(), cut) != ends.end();
    EXPECT_EQ(r.index.size(), whole) << cut;
    EXPECT_EQ(result.status, atBoundary ? ManifestStatus::Read : ManifestStatus::Truncated) << cut;
    EXPECT_EQ(r.logged.size(), atBoundary ? 0u : 1u) << cut;
    for (std::int32_t p : r.progress) {
      EXPECT_GE(p, 0);
      EXPECT_LE(p, 20);
    }
    if (whole > 0) {
      EXPECT_EQ(r.index[0]->filePath, "Media/DCIM/100APPLE/IMG_0001.JPG");
    }
  }
}

TEST(ManifestMbdb, HostileBytesNeverCrashOrHang) {
  MbdbEntry rich = entry("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG");
  rich.properties = {{"com.apple.assetsd.UUID", "6B4E"}, {"com.apple.x", ""}};
  auto good = fixtures::encodeMbdb({rich, entry(std::nullopt, "x"), entry("HomeDomain", "y")});
  // The length 0xFFFF written at every position.
  for (std::size_t at = 0; at + 1 < good.size(); ++at) {
    auto bytes = good;
    bytes[at] = 0xFF;
    bytes[at + 1] = 0xFF;
    Recorder r;
    ManifestReadResult result = r.readBytes(bytes);
    EXPECT_LE(r.index.size(), 4u);  // an absent length makes every field shorter
    EXPECT_EQ(result.entries, r.index.size());
  }
  // Random bytes, with and without a valid header.
  std::mt19937 random(1234);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> bytes(random() % 2000);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    if (round % 2 == 0 && bytes.size() >= 6)
      std::copy(good.begin(), good.begin() + 6, bytes.begin());
    Recorder r;
    ManifestReadResult result = r.readBytes(bytes);
    EXPECT_EQ(result.entries, r.index.size());
    if (result.status == ManifestStatus::Truncated) {
      EXPECT_EQ(r.logged.size(), 1u);
    }
  }
}

TEST(ManifestMbdb, StoredFilesInTwoDigitFolders) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.setStoredLayout(fixtures::StoredLayout::TwoDigitFolders);
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'d', 'b'});
  ASSERT_TRUE(writer.write());
  Recorder r;
  scanDirAnalyThread(writer.folder(), r.index, r.options);
  ASSERT_EQ(r.index.size(), 1u);
  EXPECT_EQ(r.index[0]->fileKey, writer.folder() + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

TEST(ManifestMbdb, StoredPathsAgreeWithTheLookupInMixedFolders) {
  TempDir tmp;
  const std::vector<std::string> paths = {"flat", "nested", "both", "neither", "link"};
  std::vector<MbdbEntry> entries;
  for (const auto& p : paths) entries.push_back(entry("HomeDomain", p));
  const std::string folder = writeMbdb(tmp, fixtures::encodeMbdb(entries));
  auto key = [](const std::string& p) { return fileKeyFor("HomeDomain", p); };
  tmp.writeFile("b/" + key("flat"), "x");
  tmp.writeFile("b/" + key("nested").substr(0, 2) + "/" + key("nested"), "x");
  tmp.writeFile("b/" + key("both"), "x");
  tmp.writeFile("b/" + key("both").substr(0, 2) + "/" + key("both"), "x");
  std::filesystem::create_symlink(tmp.sub("missing"), folder + "/" + key("link"));

  Recorder r;
  ASSERT_EQ(readManifestMbdb(folder, r.index, r.options).entries, paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(r.index[i]->fileKey, storedFilePath(folder, key(paths[i]))) << paths[i];
  }
  EXPECT_EQ(r.index[1]->fileKey, folder + "/" + key("nested").substr(0, 2) + "/" + key("nested"));
  EXPECT_EQ(r.index[2]->fileKey, folder + "/" + key("both"));
}

// Opens a manifest written by the builder to change it the way a test needs.
void execOn(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(ManifestDb, CurrentLayoutInRowOrderWithTwoDigitFolders) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.setManifestLayout(fixtures::ManifestLayout::Db);
  writer.setStoredLayout(fixtures::StoredLayout::TwoDigitFolders);
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'d', 'b'});
  writer.addDirectory("CameraRollDomain", "Media/DCIM");
  writer.addFile("AppDomain-com.example.app", "Documents/a.jpg", {0xFF, 0xD8});
  // In key order the directory (25f3…) would come first and sms.db (3d0d…) second.
  writer.addFile("HomeDomain", "Library/Notes/notes.sqlite", {'n'});
  ASSERT_TRUE(writer.write());
  ASSERT_FALSE(std::filesystem::exists(writer.folder() + "/Manifest.mbdb"));
  const auto before = folderFingerprint(writer.folder());

  Recorder r;
  ManifestReadResult result = scanDirAnalyThread(writer.folder(), r.index, r.options);
  EXPECT_EQ(result.status, ManifestStatus::Read);
  EXPECT_EQ(result.manifestName, "Manifest.db");
  ASSERT_EQ(r.index.size(), 4u);
  EXPECT_EQ(r.index[0]->filePath, "Library/SMS/sms.db");
  EXPECT_EQ(r.index[0]->fileKey, writer.folder() + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(r.index[1]->fileDomain, "CameraRollDomain");
  // A directory has no stored file: the flat path.
  EXPECT_EQ(r.index[1]->fileKey,
            writer.folder() + "/" + fileKeyFor("CameraRollDomain", "Media/DCIM"));
  EXPECT_EQ(r.index[2]->filePath, "Documents/a.jpg");
  EXPECT_EQ(r.index[3]->filePath, "Library/Notes/notes.sqlite");
  EXPECT_EQ(r.progress, (std::vector<std::int32_t>{5, 10, 15, 20}));
  EXPECT_EQ(r.events[0], "find Library/SMS/sms.db @0");
  EXPECT_EQ(r.events[2], "media Library/SMS/sms.db");
  EXPECT_TRUE(r.logged.empty());
  // Read-only: no journal, no shared memory, not a byte changed.
  EXPECT_EQ(folderFingerprint(writer.folder()), before);
}

TEST(ManifestDb, FileIdThatDiffersFromTheComputedKeyIsUsedAndLogged) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.setManifestLayout(fixtures::ManifestLayout::Db);
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'d', 'b'});
  writer.addFile("HomeDomain", "Library/Notes/notes.sqlite", {'n'});
  ASSERT_TRUE(writer.write());
  const std::string stored = std::string(40, 'a');
  execOn(writer.folder() + "/Manifest.db",
         "UPDATE Files SET fileID = '" + stored + "' WHERE relativePath = 'Library/SMS/sms.db'");
  // A fileID that is not a key would lead out of the backup folder: the computed key stays.
  execOn(writer.folder() + "/Manifest.db",
         "UPDATE Files SET fileID = '../../etc/passwd' WHERE relativePath = "
         "'Library/Notes/notes.sqlite'");

  Recorder r;
  r.options.bIOSRecoveryMode = true;
  readManifestDb(writer.folder(), r.index, r.options);
  ASSERT_EQ(r.index.size(), 2u);
  EXPECT_EQ(r.index[0]->fileKey, writer.folder() + "/" + stored);
  EXPECT_EQ(r.index[1]->fileKey,
            writer.folder() + "/" + fileKeyFor("HomeDomain", "Library/Notes/notes.sqlite"));
  EXPECT_EQ(r.logged.size(), 2u);  // one line per differing entry
  EXPECT_TRUE(r.progress.empty());
}

TEST(ManifestDb, FileIdThatIsNotAKeyIsNotFollowed) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.setManifestLayout(fixtures::ManifestLayout::Db);
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'d', 'b'});
  writer.addFile("HomeDomain", "Library/Notes/notes.sqlite", {'n'});
  ASSERT_TRUE(writer.write());
  // A fileID is a path component of the stored file: one that climbs out of the folder
  // must not become the record's file.
  execOn(writer.folder() + "/Manifest.db",
         "UPDATE Files SET fileID = '../../etc/passwd' WHERE relativePath = 'Library/SMS/sms.db';"
         "UPDATE Files SET fileID = '" +
             std::string(39, 'a') + "/' WHERE relativePath = 'Library/Notes/notes.sqlite'");
  Recorder r;
  readManifestDb(writer.folder(), r.index, r.options);
  ASSERT_EQ(r.index.size(), 2u);
  EXPECT_EQ(r.index[0]->fileKey, writer.folder() + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(r.index[1]->fileKey,
            writer.folder() + "/" + fileKeyFor("HomeDomain", "Library/Notes/notes.sqlite"));
  EXPECT_EQ(r.logged.size(), 2u);
}

TEST(ManifestDb, EachRecordFindsItsStoredFileInAMixedFolder) {
  // Stored files flat, in two-digit folders, in both places, in neither, and behind links,
  // in one folder: every record must get what the per-file lookup answers.
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.setManifestLayout(fixtures::ManifestLayout::Db);
  std::vector<std::string> paths;
  for (int i = 0; i < 12; ++i) {
    paths.push_back("Library/f" + std::to_string(i));
    writer.addDirectory("HomeDomain", paths.back());
  }
  ASSERT_TRUE(writer.write());
  const std::string folder = writer.folder();
  auto keyOf = [&](int i) { return fileKeyFor("HomeDomain", paths[static_cast<size_t>(i)]); };
  auto nested = [&](int i) { return keyOf(i).substr(0, 2) + "/" + keyOf(i); };
  tmp.writeFile("b/" + keyOf(0), "flat");
  tmp.writeFile("b/" + nested(1), "nested");
  tmp.writeFile("b/" + keyOf(2), "flat");
  tmp.writeFile("b/" + nested(2), "both");
  // 3: neither, but its two-digit folder exists.
  std::filesystem::create_directories(folder + "/" + keyOf(3).substr(0, 2));
  // 4: a dangling flat link with a nested file; 5: a flat link to a file.
  std::filesystem::create_symlink(folder + "/nowhere", folder + "/" + keyOf(4));
  tmp.writeFile("b/" + nested(4), "nested");
  tmp.writeFile("b/target", "t");
  std::filesystem::create_symlink(folder + "/target", folder + "/" + keyOf(5));
  // 6: a nested file whose two-digit folder is a link to a folder.
  tmp.writeFile("elsewhere/" + keyOf(6), "x");
  std::filesystem::create_directory_symlink(tmp.sub("elsewhere"),
                                            folder + "/" + keyOf(6).substr(0, 2));
  // 7: a folder, not a file, under the flat name (present all the same).
  std::filesystem::create_directories(folder + "/" + keyOf(7));

  Recorder r;
  readManifestDb(folder, r.index, r.options);
  ASSERT_EQ(r.index.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(r.index[i]->fileKey, storedFilePath(folder, keyOf(int(i)))) << i;
  }
  EXPECT_EQ(r.index[0]->fileKey, folder + "/" + keyOf(0));
  EXPECT_EQ(r.index[1]->fileKey, folder + "/" + nested(1));
  EXPECT_EQ(r.index[2]->fileKey, folder + "/" + keyOf(2));
  EXPECT_EQ(r.index[3]->fileKey, folder + "/" + keyOf(3));
  EXPECT_EQ(r.index[4]->fileKey, folder + "/" + nested(4));
  EXPECT_EQ(r.index[6]->fileKey, folder + "/" + nested(6));

  // The same answers for the older layout's reader.
  FileIndex mbdb;
  std::vector<MbdbEntry> entries;
  for (const std::string& p : paths) entries.push_back(entry("HomeDomain", p));
  auto bytes = fixtures::encodeMbdb(entries);
  readManifestMbdbBytes(bytes.data(), bytes.size(), folder, mbdb, r.options);
  ASSERT_EQ(mbdb.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(mbdb[i]->fileKey, r.index[i]->fileKey);
}

TEST(ManifestDb, MbdbIsPreferredAndAnUnreadableDbIsNotAnIndex) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.addFile("HomeDomain", "from-mbdb", {'x'});
  ASSERT_TRUE(writer.write());
  tmp.writeFile("b/Manifest.db", "this is not a database");
  Recorder r;
  EXPECT_EQ(scanDirAnalyThread(writer.folder(), r.index, r.options).manifestName, "Manifest.mbdb");
  ASSERT_EQ(r.index.size(), 1u);
  EXPECT_EQ(r.index[0]->filePath, "from-mbdb");

  FileIndex other;
  ManifestReadResult db = readManifestDb(writer.folder(), other, r.options);
  EXPECT_NE(db.status, ManifestStatus::Read);
  EXPECT_TRUE(other.empty());
  EXPECT_EQ(readManifestDb(tmp.path(), other, r.options).status, ManifestStatus::Missing);
}

}  // namespace
