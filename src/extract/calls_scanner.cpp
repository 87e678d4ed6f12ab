#include "extract/calls_scanner.h"

#include <cctype>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "base/conversions.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/name_lookup.h"
#include "extract/step_database.h"

namespace {

// The row id comes last, for the records' origins.
constexpr const char* kCallsQuery = "select address,date,duration,flags,ROWID from call";

constexpr int kAddressColumn = 0;
constexpr int kDateColumn = 1;
constexpr int kDurationColumn = 2;
constexpr int kFlagsColumn = 3;
constexpr int kRowIdColumn = 4;

// The flags value of a call the owner made.
constexpr std::int64_t kOutgoingFlags = 5;

// ZCALLRECORD's columns that the current reading uses, in the order it selects them.
constexpr const char* kRecordColumns[] = {
    "ZADDRESS", "ZDATE", "ZDURATION", "ZORIGINATED", "ZANSWERED", "ZCALLTYPE", "ZSERVICE_PROVIDER"};
// The row id follows them.
enum RecordColumn {
  kAddress,
  kDate,
  kDuration,
  kOriginated,
  kAnswered,
  kCallType,
  kProvider,
  kRecordRowId
};

// ZCALLTYPE values.
constexpr std::int64_t kPhoneCall = 1;
constexpr std::int64_t kFaceTimeVideo = 8;
constexpr std::int64_t kFaceTimeAudio = 16;

std::vector<DatabaseCandidate> callStoreCandidates() {
  return {{devicedb::kCallStoreKey, devicedb::kCallStore.domain, devicedb::kCallStore.path}};
}

std::vector<DatabaseCandidate> callsCandidates() {
  return {{devicedb::kCallsKey, devicedb::kCalls.domain, devicedb::kCalls.path},
          {devicedb::kCallsSecondKey, devicedb::kCallsSecond.domain, devicedb::kCallsSecond.path}};
}

std::string formatCount(const char* format, std::int32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A duration cell as seconds, held within the record's 32-bit range.
std::int32_t secondsOf(std::int64_t value) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value > kMax ? kMax : value < kMin ? kMin : value);
}

std::shared_ptr<MzCallHistoryNode> callFromRow(const SqliteStatement& row, NameLookup& names) {
  auto call = std::make_shared<MzCallHistoryNode>();
  if (auto address = row.columnNonEmptyText(kAddressColumn)) call->callPhone = *address;
  if (row.columnNonEmptyText(kDateColumn)) call->callDate = dateText(row.columnInt(kDateColumn), 0);
  if (row.columnNonEmptyText(kDurationColumn))
    call->callTime = secondsOf(row.columnInt(kDurationColumn));
  const bool outgoing =
      row.columnNonEmptyText(kFlagsColumn) && row.columnInt(kFlagsColumn) == kOutgoingFlags;
  call->callType = outgoing ? "Outgoing" : "Incoming";
  if (call->callTime != 0) {
    call->callDuration = getCallHistoryDuration(call->callTime);
  } else {
    call->callDuration = outgoing ? "Cancelled" : "Missed";
  }
  call->callName = names.name(call->callPhone);
  return call;
}

bool sameName(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

// The select of ZCALLRECORD with the columns it has; a column the table lacks reads as NULL.
// Empty when the table is missing.
std::string recordQuery(const SqliteDatabase& db) {
  const std::vector<std::string> columns = db.columnsOf("ZCALLRECORD");
  if (columns.empty()) return "";
  std::string query = "select ";
  for (const char* wanted : kRecordColumns) {
    bool present = false;
    for (const std::string& column : columns) present = present || sameName(column, wanted);
    if (query.size() > 7) query += ',';
    query += present ? wanted : "NULL";
  }
  return query + ",ROWID from ZCALLRECORD";
}

// ZADDRESS holds the number or address as text, or as a blob of its UTF-8 bytes.
std::string addressOf(const SqliteStatement& row) {
  const std::span<const std::uint8_t> bytes = row.columnRawBlob(kAddress);
  return GetStringFormChar(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string callKindOf(const SqliteStatement& row) {
  const std::string provider = row.columnText(kProvider).value_or("");
  // A call another app placed through the system keeps that app's bundle id.
  if (!provider.empty() && provider.rfind("com.apple.", 0) != 0) return provider;
  if (!row.columnIsNull(kCallType)) {
    switch (row.columnInt(kCallType)) {
      case kPhoneCall:
        return "Phone";
      case kFaceTimeVideo:
        return "FaceTime Video";
      case kFaceTimeAudio:
        return "FaceTime Audio";
      default:
        break;
    }
  }
  if (provider == "com.apple.FaceTime") return "FaceTime";
  if (provider == "com.apple.Telephony") return "Phone";
  return provider;
}

std::shared_ptr<MzCallHistoryNode> callFromRecord(const SqliteStatement& row, NameLookup& names) {
  auto call = std::make_shared<MzCallHistoryNode>();
  call->callPhone = addressOf(row);
  // ZDATE counts seconds from 2001 as a real number; the seconds are kept.
  if (!row.columnIsNull(kDate)) call->callDate = dateText(row.columnInt(kDate), 1);
  if (!row.columnIsNull(kDuration)) call->callTime = secondsOf(row.columnInt(kDuration));
  const bool outgoing = !row.columnIsNull(kOriginated) && row.columnInt(kOriginated) == 1;
  call->callType = outgoing ? "Outgoing" : "Incoming";
  const bool unanswered = !row.columnIsNull(kAnswered) && row.columnInt(kAnswered) == 0;
  if (!outgoing && unanswered) {
    call->callDuration = "Missed";
  } else if (call->callTime != 0) {
    call->callDuration = getCallHistoryDuration(call->callTime);
  } else {
    call->callDuration = outgoing ? "Cancelled" : "Missed";
  }
  call->callKind = callKindOf(row);
  call->callName = names.name(call->callPhone);
  return call;
}

// Reads the current call store when the backup has one with a ZCALLRECORD table. A device
// that moved to it keeps call_history.db only as the leftover of before its upgrade, so the
// current store wins when both are present; call_history.db is read only when the store is
// missing, cannot be opened or has no such table. None when call_history.db is to be read.
std::optional<StepOutcome> readCallStore(ScanContext& scan, bool olderPresent) {
  StepDatabase store(scan, callStoreCandidates());
  if (!store.location()) return std::nullopt;
  const bool open = store.open();
  const std::string query = open ? recordQuery(store.db()) : "";
  if (query.empty()) {
    if (olderPresent) return std::nullopt;
    scan.postProgress(60);
    StepOutcome outcome = store.outcome();
    if (outcome.end == StepEnd::Done) {
      outcome.end = StepEnd::Unreadable;
      outcome.reason = "the database has no call records";
    }
    return outcome;
  }
  SqliteStatement rows = store.db().prepare(query);
  const std::string fileName = store.fileName();
  while (rows.step()) {
    auto call = callFromRecord(rows, nameLookupOf(scan.lists));
    call->origin = RecordOrigin::live(fileName, "ZCALLRECORD", rows.columnInt(kRecordRowId));
    scan.nc.post("ScanCallHistoryInfo", std::move(call));
  }
  store.checkRead(rows);
  scan.postProgress(60);
  return store.outcome();
}

}  // namespace

std::string getCallHistoryDuration(std::int32_t seconds) {
  if (seconds < 0) return "";
  if (seconds >= 7200) return formatCount("%d hours", seconds / 3600);
  if (seconds >= 3600) return formatCount("%d hour", 1);
  const std::int32_t rest = seconds % 3600;
  if (rest >= 120) return formatCount("%d minutes", rest / 60);
  if (rest >= 60) return formatCount("%d minute", 1);
  if (rest <= 1) return formatCount("%d second", rest);
  return formatCount("%d seconds", rest);
}

StepOutcome scanCallHistoryThread(ScanContext& scan) {
  StepDatabase database(scan, callsCandidates());
  if (auto current = readCallStore(scan, database.location().has_value())) return *current;
  if (!database.location()) return database.outcome();
  if (database.open()) {
    SqliteStatement rows = database.db().prepare(kCallsQuery);
    const std::string fileName = database.fileName();
    while (rows.step()) {
      auto call = callFromRow(rows, nameLookupOf(scan.lists));
      call->origin = RecordOrigin::live(fileName, "call", rows.columnInt(kRowIdColumn));
      scan.nc.post("ScanCallHistoryInfo", std::move(call));
    }
    database.checkRead(rows);
  }
  scan.postProgress(60);
  return database.outcome();
}
