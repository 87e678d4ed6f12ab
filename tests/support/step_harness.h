// Running one scan step on a backup folder the way the scan runs it, for the step tests.
//
// The harness holds what a step reads and writes: the scan's lists, the private database
// copies and a notification centre the test observes. readIndex() and readContacts() run
// the earlier steps a later one depends on; run() calls the step with the log captured.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <type_traits>
#include <vector>

#include "base/log.h"
#include "base/notification_center.h"
#include "catalogue/manifest_reader.h"
#include "extract/contacts_scanner.h"
#include "extract/scan_context.h"
#include "extract/step_outcome.h"

class StepHarness {
  std::string folder_;  // first: the database copies below are made for it

 public:
  explicit StepHarness(std::string folder) : folder_(std::move(folder)), databases(folder_) {}

  // Fills the file index, announcing to a centre of its own so the test sees nothing.
  void readIndex() {
    NotificationCenter quiet;
    ManifestReadOptions options;
    options.nc = &quiet;
    scanDirAnalyThread(folder_, lists.treeFileArray, options);
  }

  // Runs the contacts step (names are looked up in its list), unobserved.
  void readContacts() {
    NotificationCenter quiet;
    ScanContext context{folder_, quiet, lists, databases};
    scanContactThread(context);
  }

  // Runs `step` with the given OS flags; the lines it logs land in `logged`. Returns how
  // the step ended (done for a step that does not say).
  template <typename Step>
  StepOutcome run(Step step, bool iOS6Layout = false, bool iOS7 = false) {
    applog::setSink([this](const std::string& line) { logged.push_back(line); });
    ScanContext context{folder_, center, lists, databases};
    context.currentNodeIsiOS6Version = iOS6Layout;
    context.bIOS7DeviceNode = iOS7;
    StepOutcome outcome;
    if constexpr (std::is_void_v<decltype(step(context))>) {
      step(context);
    } else {
      outcome = step(context);
    }
    applog::setSink({});
    return outcome;
  }

  NotificationCenter center;
  ScanLists lists;
  DatabasePreparer databases;
  std::vector<std::string> logged;
};

// Creates the database at `path` by running `sql`; a failing statement fails the test.
inline void writeSqlDatabase(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}
