#include "extract/calls_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "catalogue/manifest_reader.h"
#include "extract/contacts_scanner.h"
#include "extract/device_databases.h"
#include "fixture_support.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/run_command.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct CallsRun {
  std::vector<std::shared_ptr<MzCallHistoryNode>> posted;
  std::vector<std::int32_t> progress;
  StepOutcome outcome;
};

// Reads the index and the contacts first, as the scan does, then runs the calls step.
CallsRun runCallsStep(const std::string& folder, ScanLists lists = {}) {
  CallsRun r;
  StepHarness step(folder);
  step.lists = std::move(lists);
  step.readIndex();
  step.readContacts();
  step.center.addObserver("ScanCallHistoryInfo", [&](const std::any& o) {
    r.posted.push_back(std::any_cast<std::shared_ptr<MzCallHistoryNode>>(o));
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    r.progress.push_back(std::any_cast<std::int32_t>(o));
  });
  r.outcome = step.run(scanCallHistoryThread);
  return r;
}

void makeCallDatabase(const std::string& path, const std::string& rows) {
  const std::string sql =
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
      "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT, network_code "
      "TEXT, read INTEGER, assisted INTEGER, face_time_data BLOB, originalAddress TEXT);" +
      rows;
  writeSqlDatabase(path, sql);
}

std::string expectedName(const json& contact) {
  std::string name = contact.value("first", "");
  if (contact.contains("middle")) name += " " + contact["middle"].get<std::string>();
  if (contact.contains("last")) name += " " + contact["last"].get<std::string>();
  return name;
}

// The fields every call record has, against the builder's truth.
void expectNumberDateAndDirection(const MzCallHistoryNode& call, const nlohmann::json& truth) {
  EXPECT_EQ(call.callPhone, truth["address"]);
  EXPECT_EQ(call.callDate, fixtures::formatUtcDateText(truth["date_unix"].get<double>()));
  EXPECT_EQ(call.callTime, truth["duration"].get<int>());
  EXPECT_EQ(call.callType, truth["direction"] == "outgoing" ? "Outgoing" : "Incoming");
}

TEST(CallDuration, OnlyTheLargestUnitIsShown) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {1, "1 second"},     {59, "59 seconds"},
      {60, "1 minute"},    {119, "1 minute"},
      {120, "2 minutes"},  {3599, "59 minutes"},
      {3600, "1 hour"},    {7199, "1 hour"},
      {7200, "2 hours"},   {3725, "1 hour"},
      {2, "2 seconds"},    {0, "0 second"},
      {86400, "24 hours"}, {-1, ""}};
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(getCallHistoryDuration(seconds), text) << seconds;
}

TEST(CallsStep, DirectionZeroSecondCallsAndUnreadCells) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  makeCallDatabase(backup.sub(devicedb::kCallsKey),
                   "INSERT INTO call(address, date, duration, flags) VALUES"
                   "('555-1234', 1262304000, 0, 5),"  // outgoing, not answered
                   "('555 1234', 1262304060, 0, 4),"  // incoming, not answered
                   "('0700', 1262304120, 3725, 5),"
                   "('0701', 1262390400, 61, 1),"
                   "(NULL, NULL, NULL, NULL);");
  CallsRun r = runCallsStep(backup.path());
  ASSERT_EQ(r.posted.size(), 5u);
  EXPECT_EQ(r.posted[0]->callType, "Outgoing");
  EXPECT_EQ(r.posted[0]->callTime, 0);
  EXPECT_EQ(r.posted[0]->callDuration, "Cancelled");
  EXPECT_EQ(r.posted[0]->callDate, "01-01-2010 00:00");
  EXPECT_EQ(r.posted[1]->callType, "Incoming");
  EXPECT_EQ(r.posted[1]->callDuration, "Missed");
  EXPECT_EQ(r.posted[2]->callDuration, "1 hour");
  EXPECT_EQ(r.posted[3]->callType, "Incoming");  // only flags 5 is outgoing
  EXPECT_EQ(r.posted[3]->callDate, "01-02-2010 00:00");
  EXPECT_EQ(r.posted[3]->callDuration, "1 minute");
  // A row without values: no number, date or duration, and no name.
  const MzCallHistoryNode& empty = *r.posted[4];
  EXPECT_EQ(empty.callPhone, "");
  EXPECT_EQ(empty.callDate, "");
  EXPECT_EQ(empty.callTime, -1);
  EXPECT_EQ(empty.callDuration, "");
  EXPECT_EQ(empty.callType, "Incoming");
  EXPECT_FALSE(empty.callName.has_value());
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{60});
}

TEST(CallsStep, NamesComeFromTheContactsAndTheSecondKeyIsRead) {
  TempDir backup;
  makeCallDatabase(backup.sub(devicedb::kCallsSecondKey),
                   "INSERT INTO call(address, duration, flags) VALUES('555-1234', 10, 5),"
                   "('+46 8 000', 10, 5);");
  ScanLists lists;
  auto ann = std::make_shared<MzContactNode>();
  ann->contactName = "Ann Holm";
  ann->contactPhone = " 5551234 5559999";
  lists.contactArray.push_back(ann);
  CallsRun r = runCallsStep(backup.path(), std::move(lists));
  ASSERT_EQ(r.posted.size(), 2u);
  EXPECT_EQ(r.posted[0]->callName, std::optional<std::string>("Ann Holm"));
  EXPECT_FALSE(r.posted[1]->callName.has_value());
}

TEST(CallsStep, MissingAndUnreadableDatabases) {
  TempDir backup;
  const std::string device = "WirelessDomain-Library/CallHistory/call_history.db";
  CallsRun missing = runCallsStep(backup.path());
  EXPECT_TRUE(missing.posted.empty());
  EXPECT_TRUE(missing.progress.empty());  // silently, without progress
  EXPECT_EQ(missing.outcome.end, StepEnd::DatabaseMissing);
  EXPECT_EQ(missing.outcome.database, device);

  backup.writeFile(devicedb::kCallsKey, std::string(4096, 'c'));
  CallsRun junk = runCallsStep(backup.path());
  EXPECT_TRUE(junk.posted.empty());
  EXPECT_EQ(junk.progress, std::vector<std::int32_t>{60});
  EXPECT_EQ(junk.outcome.end, StepEnd::Unreadable);
  EXPECT_EQ(junk.outcome.reason, "cannot read the database (not a SQLite database)");

  // 400 calls over a dozen pages.
  std::string rows = "PRAGMA page_size=1024;";
  for (int i = 0; i < 400; ++i) {
    rows += "INSERT INTO call(address,date,duration,flags) VALUES('+4670555" +
            std::to_string(1000 + i) + "',1300000000,60,4);";
  }
  const std::string stored = backup.sub(devicedb::kCallsKey);
  std::filesystem::remove(stored);
  makeCallDatabase(stored, rows);
  CallsRun whole = runCallsStep(backup.path());
  EXPECT_EQ(whole.posted.size(), 400u);
  EXPECT_TRUE(whole.outcome.done());
  const std::uintmax_t size = std::filesystem::file_size(stored);
  ASSERT_GT(size, 8u * 1024);

  // A page of the table overwritten: the rows before it are read, the step is unreadable.
  const std::string original = slurp(stored);
  std::string bytes = original;
  std::fill(bytes.begin() + 4 * 1024, bytes.begin() + 5 * 1024, '\xFF');
  backup.writeFile(devicedb::kCallsKey, bytes);
  CallsRun damaged = runCallsStep(backup.path());
  EXPECT_LT(damaged.posted.size(), 400u);
  EXPECT_EQ(damaged.outcome.end, StepEnd::Unreadable);
  EXPECT_EQ(damaged.outcome.reason, "cannot read the database (database disk image is malformed)");

  // Cut short after a few pages: truncated, whatever the reading met.
  backup.writeFile(devicedb::kCallsKey, original.substr(0, 6 * 1024));
  CallsRun cut = runCallsStep(backup.path());
  EXPECT_EQ(cut.outcome.end, StepEnd::Truncated);
  EXPECT_EQ(cut.outcome.reason.rfind("the database is cut short (6144 of ", 0), 0u);
}

class CallsOfEveryGeneration : public testing::TestWithParam<int> {};

TEST_P(CallsOfEveryGeneration, EveryLiveCallWithItsFieldsAndTheBackupUntouched) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::BackupBuildOptions options;
  options.generation = GetParam();
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(tmp.sub("Backup/b"), options, &built, &error)) << error;
  const auto before = folderFingerprint(built.backupFolder);

  CallsRun r = runCallsStep(built.backupFolder);
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{60});

  std::vector<json> live;
  for (const json& call : built.truth["calls"]) {
    if (!call["deleted"].get<bool>()) live.push_back(call);
  }
  ASSERT_EQ(r.posted.size(), live.size());
  for (std::size_t i = 0; i < live.size(); ++i) {
    const json& truth = live[i];
    const MzCallHistoryNode& call = *r.posted[i];
    SCOPED_TRACE(truth.dump());
    expectNumberDateAndDirection(call, truth);
    EXPECT_EQ(call.origin, RecordOrigin::live("call_history.db", "call", truth["rowid"]));
    const bool outgoing = truth["direction"] == "outgoing";
    if (truth["duration"].get<int>() == 0) {
      EXPECT_EQ(call.callDuration, outgoing ? "Cancelled" : "Missed");
    } else {
      EXPECT_EQ(call.callDuration, getCallHistoryDuration(truth["duration"].get<int>()));
    }
    // The builder links a call to the person whose number it is.
    const int contactRow = truth["contact_rowid"].get<int>();
    const auto& contacts = built.truth["contacts"];
    auto person = std::find_if(contacts.begin(), contacts.end(),
                               [&](const json& c) { return c["rowid"].get<int>() == contactRow; });
    if (person == contacts.end()) {
      EXPECT_FALSE(call.callName.has_value());
    } else {
      EXPECT_EQ(call.callName, std::optional<std::string>(expectedName(*person)));
    }
    EXPECT_FALSE(call.bDeleted);
  }
  EXPECT_GE(live.size(), 4u);
  EXPECT_EQ(folderFingerprint(built.backupFolder), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, CallsOfEveryGeneration, testing::Values(5, 6, 7));

// A current device's store: every live call with its number (text or blob), date, direction,
// duration or missed mark, name and kind, and the older database's texts for the same facts.
TEST(CurrentCalls, EveryLiveCallOfTheStoreWithItsKind) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentCallsDescription(), tmp.sub("Backup/b"),
                                    fixtures::currentDeviceBackup(), &built, &error))
      << error;
  CallsRun r = runCallsStep(built.backupFolder);
  EXPECT_TRUE(r.outcome.done()) << r.outcome.reason;
  EXPECT_EQ(r.outcome.database, "HomeDomain-Library/CallHistoryDB/CallHistory.storedata");
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{60});

  std::vector<json> live;
  for (const json& call : built.truth["calls"]) {
    if (!call["deleted"].get<bool>()) live.push_back(call);
  }
  ASSERT_EQ(r.posted.size(), live.size());
  std::set<std::string> seen;
  for (std::size_t i = 0; i < live.size(); ++i) {
    const json& truth = live[i];
    const MzCallHistoryNode& call = *r.posted[i];
    SCOPED_TRACE(truth.dump());
    expectNumberDateAndDirection(call, truth);
    const bool outgoing = truth["direction"] == "outgoing";
    const bool missed = !outgoing && !truth["answered"].get<bool>();
    if (missed) {
      EXPECT_EQ(call.callDuration, "Missed");
      seen.insert("missed");
    } else if (truth["duration"].get<int>() == 0) {
      EXPECT_EQ(call.callDuration, "Cancelled");
    } else {
      EXPECT_EQ(call.callDuration, getCallHistoryDuration(truth["duration"].get<int>()));
    }
    EXPECT_EQ(call.callKind, truth["call_kind"]);
    EXPECT_EQ(call.origin,
              RecordOrigin::live("CallHistory.storedata", "ZCALLRECORD", truth["rowid"]));
    seen.insert(call.callKind);
    if (truth["address_blob"].get<bool>()) seen.insert("blob");
    const int contactRow = truth["contact_rowid"].get<int>();
    const auto& contacts = built.truth["contacts"];
    auto person = std::find_if(contacts.begin(), contacts.end(),
                               [&](const json& c) { return c["rowid"].get<int>() == contactRow; });
    if (person == contacts.end()) {
      EXPECT_FALSE(call.callName.has_value());
    } else {
      EXPECT_EQ(call.callName, std::optional<std::string>(expectedName(*person)));
    }
  }
  // The builder stored those addresses as blobs, not as text.
  int blobs = 0;
  for (const json& row : built.truth["databases"]["calls"]["tables"]["ZCALLRECORD"]["inserted"]) {
    blobs += row["ZADDRESS"].is_object() ? 1 : 0;
  }
  EXPECT_EQ(blobs, 2);
  for (const char* wanted :
       {"blob", "missed", "Phone", "FaceTime Video", "FaceTime Audio", "net.whatsapp.WhatsApp"}) {
    EXPECT_TRUE(seen.count(wanted)) << wanted;
  }
}

// Stores of other make-ups: a table without the optional columns, NULL and blob cells, the
// older database beside the store, and a store without call records.
TEST(CurrentCalls, SparseStoresAndTheOlderDatabaseBeside) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  const std::string store = backup.sub(devicedb::kCallStoreKey);
  writeSqlDatabase(store,
                   "CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, ZDATE TIMESTAMP, "
                   "ZADDRESS BLOB);"
                   "INSERT INTO ZCALLRECORD VALUES(1, 283996800.5, CAST('+4670' AS BLOB)),"
                   "(2, NULL, NULL), (3, 'x', X'FF00');");
  makeCallDatabase(backup.sub(devicedb::kCallsKey),
                   "INSERT INTO call(address, duration, flags) VALUES('0701', 10, 5);");
  CallsRun sparse = runCallsStep(backup.path());
  EXPECT_TRUE(sparse.outcome.done());
  ASSERT_EQ(sparse.posted.size(), 3u);  // the store's rows only
  EXPECT_EQ(sparse.posted[0]->callPhone, "+4670");
  EXPECT_EQ(sparse.posted[0]->callDate, "01-01-2010 00:00");
  EXPECT_EQ(sparse.posted[0]->callType, "Incoming");
  EXPECT_EQ(sparse.posted[0]->callDuration, "");  // no duration known
  for (const auto& call : sparse.posted) EXPECT_EQ(call->callKind, "");
  EXPECT_EQ(sparse.posted[1]->callPhone, "");
  EXPECT_EQ(sparse.posted[1]->callDate, "");
  EXPECT_FALSE(sparse.posted[1]->callName.has_value());
  EXPECT_EQ(sparse.posted[2]->callPhone, "");  // bytes that are not UTF-8

  // A store without ZCALLRECORD: the older database is read; without it, nothing is.
  std::filesystem::remove(store);
  writeSqlDatabase(store, "CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY);");
  CallsRun older = runCallsStep(backup.path());
  ASSERT_EQ(older.posted.size(), 1u);
  EXPECT_EQ(older.posted[0]->callPhone, "0701");
  EXPECT_EQ(older.outcome.database, "WirelessDomain-Library/CallHistory/call_history.db");
  std::filesystem::remove(backup.sub(devicedb::kCallsKey));
  CallsRun none = runCallsStep(backup.path());
  EXPECT_TRUE(none.posted.empty());
  EXPECT_EQ(none.progress, std::vector<std::int32_t>{60});
  EXPECT_EQ(none.outcome.end, StepEnd::Unreadable);
  EXPECT_EQ(none.outcome.reason, "the database has no call records");
}

}  // namespace
