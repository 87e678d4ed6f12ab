// The scan of a current iPhone's backup: an iOS 17 backup made by the fixture builder with
// 5,000 contacts, 20,000 calls, 2,000 notes and 50,000 camera-roll photos (a tenth of them
// Live Photos), scanned by `retrievo scan` as a user runs it.
//
// Reference, measured in the same run: the sqlite3 shell running the live reading's queries on
// the same files (the manifest, the address book and its pictures, the call store, the Notes
// store, the photo library and the small databases), plus the inflation of every note body
// with zlib, plus one sequential read of every database file (the deleted-record scanners
// read each file's pages once). Target: the scan within 2x of that.
#include <sqlite3.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "backup_builder.h"
#include "catalogue/stored_file.h"
#include "contacts_volume.h"
#include "read_reference.h"

namespace {

using bench::seconds;
using nlohmann::json;

constexpr int kContacts = 5000;
constexpr int kCalls = 20000;
constexpr int kNotes = 2000;
constexpr int kPhotos = 50000;
constexpr int kRuns = 3;

std::string iso(std::int64_t unix) {
  char text[32];
  const std::time_t t = static_cast<std::time_t>(unix);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

json description() {
  json d = fixtures::contactsDescription(17, kContacts, 0.0, 20261209);
  d["device"]["name"] = "Bench iPhone";
  std::vector<std::string> numbers;
  for (const auto& c : d["contacts"]) {
    for (const auto& phone : c.value("phones", json::array())) {
      if (phone.is_object()) numbers.push_back(phone.value("value", ""));
      if (phone.is_string()) numbers.push_back(phone.get<std::string>());
    }
  }
  if (numbers.empty()) numbers.push_back("+46705550000");
  const char* kinds[] = {"phone", "phone", "phone", "facetime_audio", "facetime_video"};
  json calls = json::array();
  for (int i = 0; i < kCalls; ++i) {
    calls.push_back(
        {{"address", i % 7 == 6 ? "+4676" + std::to_string(5550000 + i)
                                : numbers[static_cast<std::size_t>(i) % numbers.size()]},
         {"date", iso(1600000000 + i * 1800)},
         {"duration", i % 5 == 0 ? 0 : 30 + i % 600},
         {"direction", i % 2 ? "incoming" : "outgoing"},
         {"kind", kinds[i % 5]},
         {"address_blob", i % 11 == 0}});
  }
  d["calls"] = std::move(calls);
  json notes = json::array();
  for (int i = 0; i < kNotes; ++i) {
    std::string body = "Note " + std::to_string(i);
    for (int line = 0; line < 4 + i % 20; ++line) {
      body +=
          "<div>Line " + std::to_string(line) + " of a note about errands, trips and ideas</div>";
    }
    notes.push_back({{"body", body},
                     {"created", iso(1550000000 + i * 3600)},
                     {"modified", iso(1550000000 + i * 3600 + 600)},
                     {"folder", i % 3 == 0 ? "Notes" : "Folder " + std::to_string(i % 7)},
                     {"deleted", i % 50 == 0}});
  }
  d["notes"] = std::move(notes);
  json roll = json::array();
  for (int i = 0; i < kPhotos; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.HEIC", i % 10000);
    const std::string path =
        "Media/DCIM/" + std::to_string(100 + i / 1000) + "APPLE/" + std::string(name);
    roll.push_back({{"path", path},
                    {"taken", iso(1500000000 + i * 900)},
                    {"original_name",
                     i % 20 == 0 ? "Imported " + std::to_string(i) + ".heic" : std::string(name)},
                    {"live", i % 10 == 0},
                    {"bytes", 600},
                    {"movie_bytes", 700}});
  }
  d["camera_roll"] = std::move(roll);
  // The library's own caches, but no thumbnail per photo: 50,000 photos are 55,000 files.
  d["photo_library"] = {{"thumbnails", false}};
  return d;
}

std::string stored(const fixtures::BackupBuildResult& built, const char* key) {
  const json& db = built.truth["databases"][key];
  return storedFilePath(built.backupFolder, db.value("file_key", ""));
}

bool runShell(const std::string& db, const std::string& script, const std::string& sql) {
  std::ofstream(script) << sql;
  const std::string command = "sqlite3 -readonly '" + db + "' < '" + script + "' > /dev/null";
  return std::system(command.c_str()) == 0;
}

// Inflates every note body of the store as zcat would; returns the bytes produced.
std::size_t inflateNoteBodies(const std::string& path) {
  sqlite3* db = nullptr;
  std::size_t total = 0;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return 0;
  sqlite3_stmt* rows = nullptr;
  sqlite3_prepare_v2(db, "SELECT ZDATA FROM ZICNOTEDATA", -1, &rows, nullptr);
  std::vector<unsigned char> out(1 << 20);
  while (rows != nullptr && sqlite3_step(rows) == SQLITE_ROW) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) continue;
    z.next_in = static_cast<Bytef*>(const_cast<void*>(sqlite3_column_blob(rows, 0)));
    z.avail_in = static_cast<uInt>(sqlite3_column_bytes(rows, 0));
    int status = Z_OK;
    while (status == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = inflate(&z, Z_NO_FLUSH);
      total += out.size() - z.avail_out;
    }
    inflateEnd(&z);
  }
  sqlite3_finalize(rows);
  sqlite3_close(db);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root =
      (std::filesystem::temp_directory_path() / "retrievo-current-device-bench").string();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  const std::string folder = root + "/Backup/" + std::string(40, 'e');
  std::cerr << "building the backup...\n";
  auto t0 = std::chrono::steady_clock::now();
  fixtures::BackupBuildResult built;
  std::string error;
  if (!fixtures::buildBackup(description(), folder, fixtures::currentDeviceBackup(), &built,
                             &error)) {
    std::cerr << "cannot build the backup: " << error << "\n";
    return 1;
  }
  std::cerr << "built in " << seconds(std::chrono::steady_clock::now() - t0) << " s\n";

  const std::string self = std::filesystem::absolute(argv[0]).parent_path().string();
  const std::string retrievo = argc > 1 ? argv[1] : self + "/retrievo";
  const std::string scan = "'" + retrievo + "' scan '" + folder + "' --json '" + root +
                           "/doc.json' --quiet > '" + root + "/counts.txt'";
  const std::string script = root + "/queries.sql";
  const std::vector<std::pair<std::string, std::string>> queries = {
      {folder + "/Manifest.db", "SELECT fileID, domain, relativePath, flags, file FROM Files;"},
      {stored(built, "contacts"),
       "SELECT * FROM ABPerson; SELECT * FROM ABMultiValue; SELECT * FROM ABMultiValueEntry;"
       " SELECT * FROM ABMultiValueLabel; SELECT * FROM ABMultiValueEntryKey;"},
      {stored(built, "contact_images"),
       "SELECT record_id, data FROM ABFullSizeImage; SELECT record_id, format, data FROM "
       "ABThumbnailImage;"},
      {stored(built, "calls"), "SELECT * FROM ZCALLRECORD;"},
      {stored(built, "notes"),
       "SELECT * FROM ZICCLOUDSYNCINGOBJECT; SELECT Z_PK, ZNOTE, ZDATA FROM ZICNOTEDATA;"},
      {stored(built, "photos"),
       "SELECT a.*, x.ZORIGINALFILENAME FROM ZASSET a LEFT JOIN ZADDITIONALASSETATTRIBUTES x ON "
       "x.ZASSET = a.Z_PK;"},
      {stored(built, "sms"), "SELECT * FROM message; SELECT * FROM chat; SELECT * FROM handle;"},
      {stored(built, "calendar"), "SELECT * FROM CalendarItem;"},
      {stored(built, "bookmarks"), "SELECT * FROM bookmarks;"},
  };
  std::vector<std::string> databases;
  for (const auto& [db, sql] : queries) databases.push_back(db);

  double best = 1e9, reference = 1e9, shellOnly = 1e9;
  std::size_t inflated = 0;
  for (int run = 0; run < kRuns; ++run) {
    t0 = std::chrono::steady_clock::now();
    for (const auto& [db, sql] : queries) {
      if (!runShell(db, script, sql)) {
        std::cerr << "the sqlite3 shell failed on " << db << "\n";
        return 1;
      }
    }
    const double shell = seconds(std::chrono::steady_clock::now() - t0);
    auto t1 = std::chrono::steady_clock::now();
    inflated = inflateNoteBodies(stored(built, "notes"));
    for (const auto& db : databases) {
      std::size_t bytes = 0;
      bench::sequentialRead(db, &bytes);
    }
    const double rest = seconds(std::chrono::steady_clock::now() - t1);
    shellOnly = std::min(shellOnly, shell);
    reference = std::min(reference, shell + rest);

    t1 = std::chrono::steady_clock::now();
    if (std::system(scan.c_str()) != 0) {
      std::cerr << "the scan failed: " << scan << "\n";
      return 1;
    }
    best = std::min(best, seconds(std::chrono::steady_clock::now() - t1));
  }
  std::ifstream counts(root + "/counts.txt");
  std::cout << counts.rdbuf();
  std::printf(
      "current iPhone backup: %d contacts, %d calls, %d notes (%zu bytes inflated), %d "
      "photos\n",
      kContacts, kCalls, kNotes, inflated, kPhotos);
  std::printf("  retrievo scan (best of %d): %.3f s\n", kRuns, best);
  std::printf("  reference (sqlite3 shell %.3f s + zlib + one read of each database): %.3f s\n",
              shellOnly, reference);
  std::printf("  ratio scan / reference: %.2f (target <= 2)\n", best / reference);
  // RETRIEVO_BENCH_KEEP=1 leaves the backup in place for a profiler.
  if (std::getenv("RETRIEVO_BENCH_KEEP") == nullptr) std::filesystem::remove_all(root, ec);
  return 0;
}
