#include "extract/bookmarks_scanner.h"

#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <algorithm>

#include "backup_builder.h"
#include "base/log.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/stored_file.h"
#include "extract/device_databases.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using TitleAndUrl = std::pair<std::string, std::string>;

struct BookmarksRun {
  std::vector<TitleAndUrl> posted;
  std::vector<std::string> kinds;  // of each posted record
  std::vector<RecordOrigin> origins;
  std::vector<std::string> logged;
  int progressPosts = 0;
};

BookmarksRun runBookmarksStep(const std::string& folder, bool readIndex = false) {
  BookmarksRun r;
  StepHarness step(folder);
  if (readIndex) step.readIndex();
  step.center.addObserver("scanBookMarkInfo", [&](const std::any& o) {
    auto bookmark = std::any_cast<std::shared_ptr<MzBookMarkNode>>(o);
    r.posted.emplace_back(bookmark->bookMarkTitle, bookmark->bookMarkURL);
    r.kinds.push_back(bookmark->kind);
    r.origins.push_back(bookmark->origin);
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any&) { ++r.progressPosts; });
  step.run(scanBookMarkThread);
  r.logged = step.logged;
  return r;
}

void makeBookmarksDatabase(const std::string& path, const std::string& rows) {
  const std::string sql =
      "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, special_id INTEGER DEFAULT 0, parent "
      "INTEGER, type INTEGER, title TEXT, url TEXT COLLATE NOCASE, num_children INTEGER "
      "DEFAULT 0);"
      "INSERT INTO bookmarks(id, parent, type, title) VALUES(0, NULL, 1, 'Root'),"
      "(1, 0, 1, 'com.apple.ReadingList');" +
      rows;
  writeSqlDatabase(path, sql);
}

// Writes a binary History.plist whose "WebHistoryDates" holds `entries` (title, url; an
// empty title is left out of its dictionary).
void writeHistory(const TempDir& backup, const std::string& name,
                  const std::vector<TitleAndUrl>& entries) {
  plist_t root = plist_new_dict();
  plist_t dates = plist_new_array();
  for (const auto& [title, url] : entries) {
    plist_t item = plist_new_dict();
    plist_dict_set_item(item, "", plist_new_string(url.c_str()));
    if (!title.empty()) plist_dict_set_item(item, "title", plist_new_string(title.c_str()));
    plist_array_append_item(dates, item);
  }
  plist_array_append_item(dates, plist_new_string("not a dictionary"));
  plist_dict_set_item(root, "WebHistoryDates", dates);
  char* data = nullptr;
  uint32_t size = 0;
  plist_to_bin(root, &data, &size);
  backup.writeFile(name, std::string(data, size));
  free(data);
  plist_free(root);
}

std::vector<TitleAndUrl> defaults() {
  std::vector<TitleAndUrl> out;
  for (const auto& d : defaultBookmarks()) out.emplace_back(d.title, d.url);
  return out;
}

template <typename T>
std::vector<T> joined(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(DefaultBookmarks, FiveTitlesInTheirOrderEachWithAWebAddress) {
  const std::vector<std::string> titles = {"Apple", "Yahoo", "Google", "iPhone User Guide",
                                           "iPhone Web Applications"};
  ASSERT_EQ(defaultBookmarks().size(), titles.size());
  for (std::size_t i = 0; i < titles.size(); ++i) {
    EXPECT_EQ(defaultBookmarks()[i].title, titles[i]);
    EXPECT_EQ(std::string(defaultBookmarks()[i].url).rfind("https://", 0), 0u);
  }
}

TEST(BookmarksStep, TheTopFoldersAreLeftOutFoldersAndReadingListEntriesAreNot) {
  TempDir backup;
  makeBookmarksDatabase(backup.sub(devicedb::kBookmarksKey),
                        "INSERT INTO bookmarks(id, parent, type, title, url) VALUES"
                        "(2, 0, 1, 'Travel', NULL),"
                        "(3, 2, 0, 'SJ', 'http://www.sj.se/'),"
                        "(4, 1, 0, 'Later', 'http://example.com/later'),"
                        "(5, 0, 0, NULL, 'http://untitled.example/');");
  writeHistory(backup, devicedb::kHistoryKey,
               {{"SVT", "http://www.svt.se/"}, {"", "http://notitle.example/"}});
  BookmarksRun r = runBookmarksStep(backup.path());
  const std::vector<TitleAndUrl> rows = {{"Travel", ""},
                                         {"SJ", "http://www.sj.se/"},
                                         {"Later", "http://example.com/later"},
                                         {"", "http://untitled.example/"}};
  // A history entry without "title" has no title; an entry that is no dictionary is skipped.
  const std::vector<TitleAndUrl> history = {{"SVT", "http://www.svt.se/"},
                                            {"", "http://notitle.example/"}};
  EXPECT_EQ(r.posted, joined(joined(rows, defaults()), history));
  // Rows by their id, the built-in defaults from nowhere, history entries by their file.
  ASSERT_EQ(r.origins.size(), r.posted.size());
  EXPECT_EQ(r.origins[1], RecordOrigin::live("Bookmarks.db", "bookmarks", 3));
  EXPECT_EQ(r.origins[3], RecordOrigin::live("Bookmarks.db", "bookmarks", 5));
  EXPECT_FALSE(r.origins[rows.size()].known());
  EXPECT_EQ(r.origins.back(), RecordOrigin::live("History.plist", "", -1));
  EXPECT_TRUE(r.logged.empty());
  EXPECT_EQ(r.progressPosts, 0);
}

// The history of current devices: History.db (the device's tables), one record per
// address with the title and time of its latest visit, latest first, marked as history.
TEST(BookmarksStep, TheHistoryDatabaseOfCurrentDevices) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  makeBookmarksDatabase(backup.sub(devicedb::kBookmarksKey), "");
  writeSqlDatabase(
      backup.sub(fileKeyFor("HomeDomain", "Library/Safari/History.db")),
      "CREATE TABLE history_items (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT NOT NULL "
      "UNIQUE, domain_expansion TEXT NULL, visit_count INTEGER NOT NULL, daily_visit_counts "
      "BLOB NOT NULL, weekly_visit_counts BLOB NULL, autocomplete_triggers BLOB NULL, "
      "should_recompute_derived_visit_counts INTEGER NOT NULL);"
      "CREATE TABLE history_visits (id INTEGER PRIMARY KEY AUTOINCREMENT, history_item INTEGER "
      "NOT NULL, visit_time REAL NOT NULL, title TEXT NULL, load_successful BOOLEAN NOT NULL "
      "DEFAULT 1);"
      "INSERT INTO history_items VALUES (1, 'https://www.sj.se/', 'sj', 2, X'', NULL, NULL, 0),"
      "(2, 'https://www.svt.se/', 'svt', 1, X'', NULL, NULL, 0);"
      // 2023-06-01 12:00:00.5 UTC and a day earlier; the SJ page's title changed.
      "INSERT INTO history_visits VALUES (1, 1, 707227200.5, 'SJ old', 1),"
      "(2, 2, 707270400.25, 'SVT Nyheter', 1), (3, 1, 707313600.5, 'SJ - Biljetter', 1);");
  StepHarness step(backup.path());
  std::vector<std::shared_ptr<MzBookMarkNode>> history;
  step.center.addObserver("scanBookMarkInfo", [&](const std::any& o) {
    auto entry = std::any_cast<std::shared_ptr<MzBookMarkNode>>(o);
    if (!entry->kind.empty()) history.push_back(entry);
  });
  EXPECT_TRUE(step.run(scanBookMarkThread).done());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0]->bookMarkTitle, "SJ - Biljetter");
  EXPECT_EQ(history[0]->bookMarkURL, "https://www.sj.se/");
  EXPECT_EQ(history[0]->kind, "History");
  EXPECT_EQ(history[0]->lastVisit, "06-01-2023 12:00");
  EXPECT_EQ(history[0]->visitCount, 2);
  EXPECT_EQ(history[0]->origin, RecordOrigin::live("History.db", "history_items", 1));
  EXPECT_EQ(history[1]->bookMarkTitle, "SVT Nyheter");

  // A damaged history is named, not shown as an empty one.
  backup.writeFile(fileKeyFor("HomeDomain", "Library/Safari/History.db"),
                   std::string("SQLite format 3\0", 16) + std::string(4000, 'x'));
  StepHarness again(backup.path());  // a harness of its own: the first kept its copy
  EXPECT_FALSE(again.run(scanBookMarkThread).done());
}

TEST(BookmarksStep, DefaultsComeWheneverABookmarksFileExists) {
  TempDir backup;
  // Only the two top folders: the defaults alone, and the missing history is logged.
  makeBookmarksDatabase(backup.sub(devicedb::kBookmarksKey), "");
  BookmarksRun onlyFolders = runBookmarksStep(backup.path());
  EXPECT_EQ(onlyFolders.posted, defaults());
  EXPECT_EQ(onlyFolders.logged, std::vector<std::string>{"bookMarkPlistPath not find"});

  // The older Bookmarks.plist under the second key is no database: defaults all the same.
  std::filesystem::remove(backup.sub(devicedb::kBookmarksKey));
  backup.writeFile(devicedb::kBookmarksSecondKey, "bplist00 not really");
  EXPECT_EQ(runBookmarksStep(backup.path()).posted, defaults());

  // No bookmarks file at all: nothing, not even the history, and no log line.
  std::filesystem::remove(backup.sub(devicedb::kBookmarksSecondKey));
  writeHistory(backup, devicedb::kHistoryKey, {{"SVT", "http://www.svt.se/"}});
  BookmarksRun none = runBookmarksStep(backup.path());
  EXPECT_TRUE(none.posted.empty());
  EXPECT_TRUE(none.logged.empty());
}

TEST(BookmarksStep, AHistoryWithoutEntriesEndsTheStepQuietly) {
  TempDir backup;
  makeBookmarksDatabase(backup.sub(devicedb::kBookmarksKey), "");
  writeHistory(backup, devicedb::kHistoryKey, {});
  EXPECT_EQ(runBookmarksStep(backup.path()).posted, defaults());
  backup.writeFile(devicedb::kHistoryKey, "not a property list");
  BookmarksRun junk = runBookmarksStep(backup.path());
  EXPECT_EQ(junk.posted, defaults());
  EXPECT_TRUE(junk.logged.empty());
}

class BookmarksOfEveryGeneration : public testing::TestWithParam<int> {};

TEST_P(BookmarksOfEveryGeneration, LiveBookmarksDefaultsAndHistoryInOrder) {
  TempDir tmp;
  fixtures::BackupBuildOptions options;
  options.generation = GetParam();
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(tmp.sub("Backup/b"), options, &built, &error)) << error;
  const auto before = folderFingerprint(built.backupFolder);

  BookmarksRun r = runBookmarksStep(built.backupFolder, true);

  std::vector<TitleAndUrl> rows;
  std::vector<std::string> kinds;
  for (const json& b : built.truth["bookmarks"]) {
    if (b["deleted"].get<bool>()) continue;
    rows.emplace_back(b["title"], b.value("url", ""));
    kinds.push_back(b.value("kind", ""));
  }
  std::vector<TitleAndUrl> history;
  for (const json& h : built.truth["history"]) history.emplace_back(h.value("title", ""), h["url"]);
  ASSERT_GE(rows.size(), 4u);
  ASSERT_GE(history.size(), 3u);
  EXPECT_EQ(r.posted, joined(joined(rows, defaults()), history));
  // The reading list's entries are marked; nothing else is.
  ASSERT_GE(r.kinds.size(), kinds.size());
  EXPECT_EQ(std::vector<std::string>(r.kinds.begin(), r.kinds.begin() + kinds.size()), kinds);
  EXPECT_EQ(std::count(r.kinds.begin(), r.kinds.end(), "Reading list"), 2);
  EXPECT_EQ(std::count(r.kinds.begin(), r.kinds.end(), ""), static_cast<long>(r.kinds.size()) - 2);
  EXPECT_EQ(r.progressPosts, 0);
  if (GetParam() >= 7) {
    // The history lives in Safari's application domain; the step says which file it used.
    ASSERT_EQ(r.logged.size(), 1u);
    EXPECT_NE(r.logged[0].find("AppDomain-com.apple.mobilesafari"), std::string::npos);
  } else {
    EXPECT_TRUE(r.logged.empty());
  }
  EXPECT_EQ(folderFingerprint(built.backupFolder), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, BookmarksOfEveryGeneration, testing::Values(5, 6, 7));

// "06-01-2013 09:18" of "2013-06-01T09:18:22Z".
std::string shownUtc(const std::string& iso) {
  return iso.substr(5, 2) + "-" + iso.substr(8, 2) + "-" + iso.substr(0, 4) + " " +
         iso.substr(11, 5);
}

// A current device's History.db (in HomeDomain, or in Safari's application domain where
// iOS 8 kept it) against the builder's truth: every live address once, latest visit first,
// with the title and time of its latest visit and its visit count; the deleted one absent.
TEST(BookmarksStep, ACurrentDevicesHistoryDatabaseInEitherDomain) {
  ScopedEnv tz("TZ", "UTC");
  for (const char* domain : {"HomeDomain", "AppDomain-com.apple.mobilesafari"}) {
    SCOPED_TRACE(domain);
    TempDir tmp;
    json description = fixtures::sampleDescription();
    description["databases"]["history"] = {{"domain", domain}};
    fixtures::BackupBuildResult built;
    std::string error;
    ASSERT_TRUE(fixtures::buildBackup(description, tmp.sub("Backup/b"),
                                      fixtures::currentDeviceBackup(), &built, &error))
        << error;
    EXPECT_EQ(built.truth["databases"]["history"]["domain"], domain);

    StepHarness step(built.backupFolder);
    std::vector<json> history;
    step.center.addObserver("scanBookMarkInfo", [&](const std::any& o) {
      auto e = std::any_cast<std::shared_ptr<MzBookMarkNode>>(o);
      if (e->kind != "History") return;
      history.push_back({{"url", e->bookMarkURL},
                         {"title", e->bookMarkTitle},
                         {"last", e->lastVisit},
                         {"visits", e->visitCount}});
    });
    EXPECT_TRUE(step.run(scanBookMarkThread).done());

    std::vector<json> live;
    for (const json& h : built.truth["history"]) {
      if (!h["deleted"].get<bool>()) live.push_back(h);
    }
    ASSERT_GE(live.size(), 4u);
    ASSERT_LT(live.size(), built.truth["history"].size());  // one deleted entry
    std::stable_sort(live.begin(), live.end(), [](const json& a, const json& b) {
      return a["date"].get<std::string>() > b["date"].get<std::string>();
    });
    std::vector<json> expected;
    for (const json& h : live) {
      expected.push_back({{"url", h["url"]},
                          {"title", h.value("title", "")},
                          {"last", shownUtc(h["date"])},
                          {"visits", h["visits"]}});
    }
    EXPECT_EQ(history, expected);
  }
}

}  // namespace
