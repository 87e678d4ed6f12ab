#include "extract/calls_scanner.h"

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

constexpr const char* kCallsQuery = "select address,date,duration,flags from call";

constexpr int kAddressColumn = 0;
constexpr int kDateColumn = 1;
constexpr int kDurationColumn = 2;
constexpr int kFlagsColumn = 3;

// The flags value of a call the owner made.
constexpr std::int64_t kOutgoingFlags = 5;

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
  if (!database.location()) return database.outcome();
  if (database.open()) {
    SqliteStatement rows = database.db().prepare(kCallsQuery);
    while (rows.step()) {
      scan.nc.post("ScanCallHistoryInfo", callFromRow(rows, nameLookupOf(scan.lists)));
    }
    database.checkRead(rows);
  }
  scan.postProgress(60);
  return database.outcome();
}
