#include "extract/bookmarks_scanner.h"

#include <memory>
#include <string>
#include <unordered_set>

#include "base/conversions.h"
#include "base/log.h"
#include "base/sqlite_reader.h"
#include "catalogue/plist_file.h"
#include "catalogue/stored_file.h"
#include "catalogue/stored_plaintext.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/step_database.h"

namespace {

constexpr const char* kBookmarksQuery = "select TITLE,URL,id, parent,type from bookmarks";
// The folder whose children are the reading list.
constexpr const char* kReadingListFolder = "com.apple.ReadingList";
constexpr const char* kReadingListFolderQuery =
    "select id from bookmarks where title = 'com.apple.ReadingList'";

constexpr int kTitleColumn = 0;
constexpr int kUrlColumn = 1;
constexpr int kIdColumn = 2;  // the row id (id is the table's integer primary key)
constexpr int kParentColumn = 3;

constexpr const char* kSafariDomain = "HomeDomain";
// From iOS 8 on Safari keeps History.db in its application's own domain.
constexpr const char* kSafariAppDomain = "AppDomain-com.apple.mobilesafari";
constexpr const char* kBookmarksPlistPath = "Library/Safari/Bookmarks.plist";
constexpr const char* kHistoryPath = "Library/Safari/History.plist";
constexpr const char* kHistoryDatabasePath = "Library/Safari/History.db";

// Each address once, with the title and time of its latest visit (SQLite takes the bare
// columns of the row whose visit_time is the largest), the latest first; the item's row id
// last, for the records' origins.
constexpr const char* kHistoryDatabaseQuery =
    "select i.url, v.title, max(v.visit_time), i.visit_count, i.id from history_items i left "
    "join history_visits v on v.history_item = i.id group by i.id order by max(v.visit_time) "
    "desc, i.id";

std::vector<DatabaseCandidate> bookmarksCandidates() {
  return {{devicedb::kBookmarksKey, devicedb::kBookmarks.domain, devicedb::kBookmarks.path},
          {devicedb::kBookmarksSecondKey, kSafariDomain, kBookmarksPlistPath}};
}

std::vector<DatabaseCandidate> historyCandidates() {
  return {{devicedb::kHistoryKey, kSafariDomain, kHistoryPath}};
}

void postBookmark(ScanContext& scan, std::string title, std::string url, std::string kind = {},
                  RecordOrigin origin = {}) {
  auto bookmark = std::make_shared<MzBookMarkNode>();
  bookmark->bookMarkTitle = std::move(title);
  bookmark->bookMarkURL = std::move(url);
  bookmark->kind = std::move(kind);
  bookmark->origin = std::move(origin);
  scan.nc.post("scanBookMarkInfo", std::move(bookmark));
}

// The ids of the reading-list folder rows (one in every file seen).
std::unordered_set<std::int64_t> readingListFolders(const SqliteDatabase& db) {
  std::unordered_set<std::int64_t> ids;
  SqliteStatement rows = db.prepare(kReadingListFolderQuery);
  while (rows.step()) ids.insert(rows.columnInt(0));
  return ids;
}

// The rows of the bookmarks table but the two top folders; the children of the reading-list
// folder are marked as reading-list entries.
void postDatabaseRows(ScanContext& scan, StepDatabase& database) {
  if (!database.isOpen()) return;
  const auto readingList = readingListFolders(database.db());
  SqliteStatement rows = database.db().prepare(kBookmarksQuery);
  const std::string fileName = database.fileName();
  while (rows.step()) {
    std::string title = rows.columnNonEmptyText(kTitleColumn).value_or("");
    if (title == "Root" || title == kReadingListFolder) continue;
    const bool readingListEntry =
        !rows.columnIsNull(kParentColumn) && readingList.contains(rows.columnInt(kParentColumn));
    postBookmark(scan, std::move(title), rows.columnNonEmptyText(kUrlColumn).value_or(""),
                 readingListEntry ? "Reading list" : "",
                 RecordOrigin::live(fileName, "bookmarks", rows.columnInt(kIdColumn)));
  }
  database.checkRead(rows);
}

std::string textOrEmpty(const PlistDict& entry, const std::string& key) {
  return plistString(entry, key).value_or("");
}

// One record per dictionary of the history's "WebHistoryDates": the address under the
// empty key, the title under "title".
void postHistory(ScanContext& scan) {
  auto location = locateDatabase(scan.backupFolder, historyCandidates(), scan.lists.treeFileArray);
  if (!location) {
    applog::line("bookMarkPlistPath not find");
    return;
  }
  std::string why;
  const auto plain = plaintextPath(scan.backupFolder, location->storedFile, &why);
  if (!plain) {
    scan.databases.report(location->deviceFile(),
                          "cannot decrypt the history (" + why + ")");
    return;
  }
  auto history = readPlistFile(*plain);
  const PlistDict* root = history ? history->asDict() : nullptr;
  if (!root) return;
  auto dates = root->find("WebHistoryDates");
  const PlistArray* entries = dates != root->end() ? dates->second.asArray() : nullptr;
  if (!entries) return;
  // Entries of a property list, not rows of a table: the file alone says where they are.
  const RecordOrigin origin = RecordOrigin::live(location->fileName(), "", -1);
  for (const PlistValue& value : *entries) {
    const PlistDict* entry = value.asDict();
    if (!entry) continue;
    postBookmark(scan, textOrEmpty(*entry, "title"), textOrEmpty(*entry, ""), {}, origin);
  }
}

// The history of current devices: History.db, one record per address, marked "History".
// Safari's application domain first, HomeDomain after it. Returns the outcome of reading it;
// a backup without it reads as done.
StepOutcome postHistoryDatabase(ScanContext& scan) {
  StepDatabase database(
      scan,
      {{fileKeyFor(kSafariAppDomain, kHistoryDatabasePath), kSafariAppDomain, kHistoryDatabasePath},
       {fileKeyFor(kSafariDomain, kHistoryDatabasePath), kSafariDomain, kHistoryDatabasePath}});
  if (!database.location()) return StepOutcome{};
  if (!database.open()) return database.outcome();
  SqliteStatement rows = database.db().prepare(kHistoryDatabaseQuery);
  if (!rows.valid()) {
    // A damaged file, or one without the history tables: named, never an empty history.
    database.noteFailedRead("no readable history tables");
    return database.outcome();
  }
  DateTexts dates;
  const std::string fileName = database.fileName();
  while (rows.step()) {
    auto entry = std::make_shared<MzBookMarkNode>();
    entry->bookMarkURL = rows.columnText(0).value_or("");
    entry->bookMarkTitle = rows.columnText(1).value_or("");
    entry->kind = "History";
    if (!rows.columnIsNull(2)) {
      // Seconds since 2001, with a fraction.
      entry->lastVisit = dates.text(rows.columnInt(2), 1);
    }
    entry->visitCount = static_cast<std::int32_t>(rows.columnInt(3));
    entry->origin = RecordOrigin::live(fileName, "history_items", rows.columnInt(4));
    scan.nc.post("scanBookMarkInfo", std::move(entry));
  }
  database.checkRead(rows);
  return database.outcome();
}

}  // namespace

const std::vector<DefaultBookmark>& defaultBookmarks() {
  static const std::vector<DefaultBookmark> kDefaults = {
      {"Apple", "https://www.apple.com/iphone/"},
      {"Yahoo", "https://www.yahoo.com/"},
      {"Google", "https://www.google.com/"},
      {"iPhone User Guide", "https://help.apple.com/iphone/"},
      {"iPhone Web Applications", "https://www.apple.com/webapps/"},
  };
  return kDefaults;
}

StepOutcome scanBookMarkThread(ScanContext& scan) {
  StepDatabase database(scan, bookmarksCandidates());
  if (!database.location()) return database.outcome();
  // Bookmarks.plist, the file of the older devices, holds no table; it is not a damaged
  // database, so it is not copied as one.
  if (database.location()->path != kBookmarksPlistPath) database.open();
  postDatabaseRows(scan, database);
  for (const auto& bookmark : defaultBookmarks()) postBookmark(scan, bookmark.title, bookmark.url);
  postHistory(scan);
  const StepOutcome history = postHistoryDatabase(scan);
  return database.outcome().end == StepEnd::Done ? history : database.outcome();
}
