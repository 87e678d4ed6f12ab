#include "extract/contacts_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "backup_builder.h"
#include "base/log.h"
#include "catalogue/sha1.h"
#include "catalogue/stored_file.h"
#include "extract/device_databases.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct ScanResult {
  std::vector<std::shared_ptr<MzContactNode>> posted;
  std::vector<std::int32_t> progress;
  ScanLists lists;
};

ScanResult runContactsStep(const std::string& folder) {
  ScanResult r;
  NotificationCenter center;
  center.addObserver("ScanContactInfo", [&](const std::any& o) {
    r.posted.push_back(std::any_cast<std::shared_ptr<MzContactNode>>(o));
  });
  center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    r.progress.push_back(std::any_cast<std::int32_t>(o));
  });
  DatabasePreparer databases(folder);
  ScanContext context{folder, center, r.lists, databases};
  scanContactThread(context);
  return r;
}

// The contact a live person of the truth file should give.
std::string joinedWithBlanks(const json& values) {
  std::string out;
  for (const auto& v : values) out += " " + v.get<std::string>();
  return out;
}

std::string expectedName(const json& c) {
  std::string name = c.value("first", "");
  if (c.contains("middle")) name += " " + c["middle"].get<std::string>();
  if (c.contains("last")) name += " " + c["last"].get<std::string>();
  return name;
}

std::string expectedCompany(const json& c) {
  std::string company = c.value("department", "");
  if (c.contains("job_title")) company += " " + c["job_title"].get<std::string>();
  if (c.contains("organization")) company += " " + c["organization"].get<std::string>();
  return company;
}

class ContactsOfEveryGeneration : public testing::TestWithParam<int> {};

// 8 stands for an iOS 7 backup whose address book has the iOS 8 layout.
TEST_P(ContactsOfEveryGeneration, EveryLivePersonWithItsFieldsAndNoDeletedOne) {
  TempDir tmp;
  fixtures::BackupBuildOptions options;
  if (GetParam() == 17) options = fixtures::currentDeviceBackup();
  options.generation = GetParam() == 8 ? 7 : GetParam();
  json description = fixtures::sampleDescription();
  if (GetParam() == 8) {
    description["databases"]["contacts"] = {{"schema", "ios8/AddressBook.sqlitedb"}};
  }
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(description, tmp.sub("Backup/b"), options, &built, &error))
      << error;

  ScanResult r = runContactsStep(built.backupFolder);
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{40});
  EXPECT_EQ(r.lists.contactArray.size(), r.posted.size());

  std::size_t live = 0;
  std::set<std::string> pictureSources;
  for (const json& truth : built.truth["contacts"]) {
    if (!truth.value("deleted", false)) pictureSources.insert(truth.value("picture_source", ""));
    if (truth.value("deleted", false)) {
      for (const auto& c : r.posted) EXPECT_NE(c->contactName, expectedName(truth));
      continue;
    }
    ++live;
    auto it = std::find_if(r.posted.begin(), r.posted.end(),
                           [&](const auto& c) { return c->rowid == truth["rowid"].get<int>(); });
    ASSERT_NE(it, r.posted.end()) << truth.dump();
    const MzContactNode& c = **it;
    EXPECT_EQ(c.contactName, expectedName(truth));
    EXPECT_EQ(c.origin, RecordOrigin::live("AddressBook.sqlitedb", "ABPerson", truth["rowid"]));
    EXPECT_EQ(c.contactPhone, joinedWithBlanks(truth["phones"]));
    EXPECT_EQ(c.contactEmail, joinedWithBlanks(truth["emails"]));
    EXPECT_EQ(c.contactHomepage, joinedWithBlanks(truth["urls"]));
    EXPECT_EQ(c.contactCompany, expectedCompany(truth));
    EXPECT_EQ(c.contactNote, truth.value("note", ""));
    EXPECT_EQ(c.contactBirthday, truth.value("birthday", ""));
    EXPECT_EQ(c.contactJobtitle, "");
    // Each value with its label; addresses from their parts, as one line each.
    json values = json::array();
    std::string addresses;
    for (const auto& v : c.values) {
      static const char* const kKinds[] = {"phone", "email", "url", "address"};
      values.push_back(
          {{"kind", kKinds[static_cast<int>(v.kind)]}, {"label", v.label}, {"value", v.value}});
    }
    for (const auto& v : truth["values"]) {
      if (v["kind"] == "address") addresses += " " + v["value"].get<std::string>();
    }
    EXPECT_EQ(values, truth["values"]) << c.contactName;
    EXPECT_EQ(c.contactAdress, addresses);
    EXPECT_EQ(c.firstName, truth.value("first", ""));
    EXPECT_EQ(c.lastName, truth.value("last", ""));
    EXPECT_EQ(c.middleName, truth.value("middle", ""));
    EXPECT_EQ(c.namePrefix, truth.value("prefix", ""));
    EXPECT_EQ(c.nameSuffix, truth.value("suffix", ""));
    if (truth["picture_bytes"].get<int>() > 0) {
      ASSERT_TRUE(c.imageData) << c.contactName;
      EXPECT_EQ(SHAH::hexDigest(std::string_view(reinterpret_cast<const char*>(c.imageData->data()),
                                                 c.imageData->size())),
                truth["picture_sha1"]);
    } else {
      EXPECT_FALSE(c.imageData) << c.contactName;
    }
  }
  EXPECT_EQ(r.posted.size(), live);
  EXPECT_GT(live, 3u);
  // A current device's sample has a person pictured by a thumbnail alone beside one with a
  // full-size picture; older ones show only full-size pictures.
  if (GetParam() >= 8) {
    EXPECT_TRUE(pictureSources.contains("thumbnail"));
  } else {
    EXPECT_FALSE(pictureSources.contains("thumbnail"));
  }
  EXPECT_TRUE(pictureSources.contains("full_size"));
  // The sample has a postal address, and labels of both kinds.
  const auto johan = std::find_if(r.posted.begin(), r.posted.end(), [](const auto& c) {
    return c->contactName == "Johan Lindqvist";
  });
  ASSERT_NE(johan, r.posted.end());
  EXPECT_EQ((*johan)->contactAdress, " Sankt Eriksgatan 61, 113 34 Stockholm, Sweden");
  ASSERT_EQ((*johan)->values.size(), 4u);
  EXPECT_EQ((*johan)->values[0].label, "Mobile");
  EXPECT_EQ((*johan)->values[3].city, "Stockholm");
  EXPECT_EQ((*johan)->values[3].postcode, "113 34");
}

INSTANTIATE_TEST_SUITE_P(Generations, ContactsOfEveryGeneration, testing::Values(5, 6, 7, 8, 17));

// A small contacts database with only the columns the queries read.
void makeMinimalAddressBook(const std::string& path, const std::vector<std::string>& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* schema =
      "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
      "Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization "
      "TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT, Nickname "
      "TEXT, Prefix TEXT, Suffix TEXT, FirstSort TEXT, LastSort TEXT, CreationDate INTEGER, "
      "ModificationDate INTEGER, CompositeNameFallback TEXT, DisplayName TEXT);"
      "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
      "INTEGER, identifier INTEGER, label INTEGER, value TEXT);";
  ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK);
  for (const auto& s : statements) {
    ASSERT_EQ(sqlite3_exec(db, s.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << s;
  }
  sqlite3_close(db);
}

void makePictureDatabase(const std::string& path, const char* table,
                         const std::vector<std::pair<int, std::string>>& rows) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               (std::string("CREATE TABLE ") + table + " (record_id INTEGER, data BLOB)").c_str(),
               nullptr, nullptr, nullptr);
  for (const auto& [id, bytes] : rows) {
    sqlite3_exec(db,
                 (std::string("INSERT INTO ") + table + " VALUES(" + std::to_string(id) + ", X'" +
                  bytes + "')")
                     .c_str(),
                 nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
}

TEST(ContactsStep, FieldRulesRowIdZeroAndPicturesFromTheMddataFile) {
  TempDir backup;
  makeMinimalAddressBook(
      backup.sub(devicedb::kContactsKey),
      {"INSERT INTO ABPerson(ROWID, Last, JobTitle) VALUES(0, 'Zero', 'Pilot')",
       "INSERT INTO ABPerson(ROWID, First, Middle, Last, Department, Organization) "
       "VALUES(5, 'Ann', 'Marie', 'Holm', 'Radiology', 'Sahlgrenska')",
       "INSERT INTO ABPerson(ROWID, First) VALUES(6, '')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(0, 3, '+46 1')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(-1, 4, 'zero@example.se')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 3, '070-111')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 3, '070-222')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 4, 'ann@example.se')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 22, 'https://ann.example')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 5, NULL)",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 3, '')",
       "INSERT INTO ABMultiValue(record_id, property, value) VALUES(5, 16, 'other kind')"});
  makePictureDatabase(backup.sub(std::string(devicedb::kContactPicturesKey) + ".mddata"), "ABImage",
                      {{5, "AA"}, {5, "BBCC"}, {0, "DD"}});

  ScanResult r = runContactsStep(backup.path());
  ASSERT_EQ(r.posted.size(), 3u);
  const MzContactNode& zero = *r.posted[0];
  EXPECT_EQ(zero.rowid, -1);  // a row id of 0 reads as unknown
  EXPECT_EQ(zero.contactName, " Zero");
  EXPECT_EQ(zero.contactCompany, " Pilot");
  // The multi-value query runs with -1, which a row of record_id -1 answers.
  EXPECT_EQ(zero.contactPhone, "");
  EXPECT_EQ(zero.contactEmail, " zero@example.se");
  EXPECT_FALSE(zero.imageData);

  const MzContactNode& ann = *r.posted[1];
  EXPECT_EQ(ann.contactName, "Ann Marie Holm");
  EXPECT_EQ(ann.contactCompany, "Radiology Sahlgrenska");
  EXPECT_EQ(ann.contactPhone, " 070-111 070-222");
  EXPECT_EQ(ann.contactEmail, " ann@example.se");
  EXPECT_EQ(ann.contactHomepage, " https://ann.example");
  EXPECT_EQ(ann.contactAdress, "");
  ASSERT_TRUE(ann.imageData);  // the later picture of a row id wins
  EXPECT_EQ(*ann.imageData, (std::vector<std::uint8_t>{0xBB, 0xCC}));

  EXPECT_EQ(r.posted[2]->contactName, "");
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{40});
}

void execAll(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

// The pictures each person of `r` got, as hex text ("" for none), by row id.
std::map<int, std::string> picturesByRow(const ScanResult& r) {
  std::map<int, std::string> out;
  for (const auto& c : r.posted) {
    std::string hex;
    if (c->imageData) {
      for (std::uint8_t b : *c->imageData) {
        static const char* const kDigits = "0123456789ABCDEF";
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
      }
    }
    out[c->rowid] = hex;
  }
  return out;
}

TEST(ContactsStep, ThumbnailsStandInForMissingFullSizePicturesOfNewerAddressBooks) {
  // Image heads: JPEG, PNG, HEIC; then a pixel buffer and a broken full-size picture.
  const std::string jpeg = "FFD8FFE000104A464946";
  const std::string png = "89504E470D0A1A0A0000";
  const std::string heic = "0000001C667479706865696300000000";
  const std::string pixels = "10203040FF102030";
  const std::string images =
      "CREATE TABLE ABThumbnailImage (ROWID INTEGER PRIMARY KEY, record_id INTEGER, format "
      "INTEGER, derived_from_format INTEGER, data BLOB);"
      "CREATE TABLE ABFullSizeImage (ROWID INTEGER PRIMARY KEY, record_id INTEGER, crop_x "
      "INTEGER, crop_y INTEGER, crop_width INTEGER, data BLOB);"
      // 1: a full-size picture and thumbnails.
      "INSERT INTO ABFullSizeImage(record_id, crop_x, crop_y, crop_width, data) VALUES(1, 10, "
      "10, 80, X'" +
      jpeg +
      "');"
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(1, 0, X'" +
      png +
      "');"
      // 2: thumbnails only; the largest format is a pixel buffer, the next one is empty.
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(2, 0, X'" +
      png +
      "');"
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(2, 2, X'" +
      jpeg +
      "');"
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(2, 4, X'');"
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(2, 5, X'" +
      pixels +
      "');"
      // 3: a full-size row that is no image, and a HEIC thumbnail.
      "INSERT INTO ABFullSizeImage(record_id, data) VALUES(3, X'" +
      pixels +
      "');"
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(3, 0, X'" +
      heic +
      "');"
      // 4: nothing but a pixel buffer and an empty row.
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(4, 5, X'" +
      pixels +
      "');"
      "INSERT INTO ABThumbnailImage(record_id, format, data) VALUES(4, 0, NULL);";
  const std::vector<std::string> persons = {"INSERT INTO ABPerson(ROWID, First) VALUES(1, 'A')",
                                            "INSERT INTO ABPerson(ROWID, First) VALUES(2, 'B')",
                                            "INSERT INTO ABPerson(ROWID, First) VALUES(3, 'C')",
                                            "INSERT INTO ABPerson(ROWID, First) VALUES(4, 'D')"};

  // An address book of iOS 8 or later (ABPerson has MapsData).
  TempDir current;
  std::vector<std::string> currentPersons = {"ALTER TABLE ABPerson ADD COLUMN MapsData TEXT"};
  currentPersons.insert(currentPersons.end(), persons.begin(), persons.end());
  makeMinimalAddressBook(current.sub(devicedb::kContactsKey), currentPersons);
  execAll(current.sub(devicedb::kContactPicturesKey), images);
  EXPECT_EQ(picturesByRow(runContactsStep(current.path())),
            (std::map<int, std::string>{{1, jpeg}, {2, jpeg}, {3, heic}, {4, ""}}));

  // The same pictures beside an older address book: full-size rows alone, as they stand.
  TempDir older;
  makeMinimalAddressBook(older.sub(devicedb::kContactsKey), persons);
  execAll(older.sub(devicedb::kContactPicturesKey), images);
  EXPECT_EQ(picturesByRow(runContactsStep(older.path())),
            (std::map<int, std::string>{{1, jpeg}, {2, ""}, {3, pixels}, {4, ""}}));
}

TEST(ContactsStep, ADamagedPictureDatabaseLeavesTheContactsWithoutPictures) {
  TempDir tmp;
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(tmp.sub("Backup/b"), fixtures::currentDeviceBackup(),
                                          &built, &error))
      << error;
  const std::size_t live = runContactsStep(built.backupFolder).posted.size();
  // Every page after the first (the schema) overwritten.
  const std::string images = storedFilePath(built.backupFolder, devicedb::kContactPicturesKey);
  const auto size = std::filesystem::file_size(images);
  ASSERT_GT(size, 8192u);
  {
    std::fstream file(images, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(8192);
    const std::string junk(size - 8192, '\x5A');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  ScanResult r = runContactsStep(built.backupFolder);
  EXPECT_EQ(r.posted.size(), live);
  for (const auto& c : r.posted) EXPECT_FALSE(c->imageData) << c->contactName;
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{40});
}

TEST(ContactsStep, MissingOrEmptyDatabases) {
  TempDir backup;
  std::vector<std::string> logged;
  applog::setSink([&](const std::string& l) { logged.push_back(l); });
  ScanResult missing = runContactsStep(backup.path());
  applog::setSink({});
  EXPECT_TRUE(missing.posted.empty());
  EXPECT_TRUE(missing.progress.empty());
  EXPECT_EQ(logged, std::vector<std::string>{"contactDB is not exist"});

  // No persons: nothing posted, progress all the same.
  makeMinimalAddressBook(backup.sub(devicedb::kContactsKey), {});
  ScanResult empty = runContactsStep(backup.path());
  EXPECT_TRUE(empty.posted.empty());
  EXPECT_EQ(empty.progress, std::vector<std::int32_t>{40});

  // A file that is not a database: no contacts, the step still ends normally.
  backup.writeFile(devicedb::kContactsKey, std::string(8192, 'z'));
  testing::internal::CaptureStdout();
  ScanResult junk = runContactsStep(backup.path());
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(junk.posted.empty());
  EXPECT_EQ(junk.progress, std::vector<std::int32_t>{40});
}

TEST(ContactsStep, PersonsOnlyInTheWriteAheadLogAreFoundAndTheBackupIsUntouched) {
  TempDir tmp, backup;
  const std::string live = tmp.sub("AddressBook.sqlitedb");
  makeMinimalAddressBook(live, {"INSERT INTO ABPerson(ROWID, First) VALUES(1, 'Old')"});
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(live.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_wal_autocheckpoint(db, 0);
  sqlite3_exec(db,
               "INSERT INTO ABPerson(ROWID, First, Last) VALUES(2, 'Newest', 'Person');"
               "INSERT INTO ABMultiValue(record_id, property, value) VALUES(2, 3, '555 0100')",
               nullptr, nullptr, nullptr);
  std::filesystem::copy_file(live, backup.sub(devicedb::kContactsKey));
  std::filesystem::copy_file(live + "-wal", backup.sub(devicedb::walKeyFor(devicedb::kContacts)));
  sqlite3_close(db);

  const auto before = folderFingerprint(backup.path());
  ScanResult r = runContactsStep(backup.path());
  ASSERT_EQ(r.posted.size(), 2u);
  EXPECT_EQ(r.posted[1]->contactName, "Newest Person");
  EXPECT_EQ(r.posted[1]->contactPhone, " 555 0100");
  EXPECT_EQ(folderFingerprint(backup.path()), before);
}

}  // namespace
