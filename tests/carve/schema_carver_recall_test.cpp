// How many of the builder's deleted messages the schema-aware carver brings back from an
// sms.db of the iOS 5, iOS 6 and current message tables, and how many of its rows are false.
//
// The ceiling is what any carver could do: the deleted messages whose record bytes the file
// still holds (a balance of the b-tree rewrites pages and overwrites some); a record is held
// when its guid and its text, which are stored side by side, are (on iOS 5: its address, date
// and text). A deleted message is recovered when a carved message row has its guid (iOS 5:
// its date) and its text. A carved row of any table
// is false when it matches no row the database holds or the builder deleted: every value it
// has must equal that row's (blobs by length). The floors hold for the default seed;
// RETRIEVO_RECALL_SEED measures another, RETRIEVO_RECALL_VERBOSE=1 lists what was carved,
// missed and false.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "carve/schema_carver.h"
#include "device_builders.h"
#include "fixture_support.h"
#include "messages_volume.h"
#include "sample_backup.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct Figures {
  std::size_t deleted = 0, ceiling = 0, recovered = 0, carved = 0, falseRows = 0;
};

// The live rows of every table of the database at `path`, as the truth file writes rows.
std::map<std::string, std::vector<json>> liveRows(const std::string& path) {
  std::map<std::string, std::vector<json>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return rows;
  std::vector<std::string> tables;
  sqlite3_stmt* list = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &list, nullptr);
  while (list != nullptr && sqlite3_step(list) == SQLITE_ROW) {
    tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list, 0)));
  }
  sqlite3_finalize(list);
  for (const auto& table : tables) {
    sqlite3_stmt* select = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\"").c_str(), -1, &select, nullptr) !=
        SQLITE_OK) {
      continue;
    }
    while (sqlite3_step(select) == SQLITE_ROW) {
      json row = json::object();
      for (int c = 0; c < sqlite3_column_count(select); ++c) {
        const std::string name = sqlite3_column_name(select, c);
        switch (sqlite3_column_type(select, c)) {
          case SQLITE_INTEGER:
            row[name] = sqlite3_column_int64(select, c);
            break;
          case SQLITE_FLOAT:
            row[name] = sqlite3_column_double(select, c);
            break;
          case SQLITE_TEXT:
            row[name] = std::string(reinterpret_cast<const char*>(sqlite3_column_text(select, c)),
                                    static_cast<std::size_t>(sqlite3_column_bytes(select, c)));
            break;
          case SQLITE_BLOB:
            row[name] = {{"blob_bytes", sqlite3_column_bytes(select, c)}};
            break;
          default:
            row[name] = nullptr;
        }
      }
      rows[table].push_back(std::move(row));
    }
    sqlite3_finalize(select);
  }
  sqlite3_close(db);
  return rows;
}

bool valueMatches(const carve::SqlValue& carved, const json& truth) {
  switch (carved.kind) {
    case carve::SqlValue::Kind::Null:
      return true;  // a column the record did not keep, or NULL in both
    case carve::SqlValue::Kind::Integer:
      return (truth.is_number_integer() && truth.get<std::int64_t>() == carved.integer) ||
             (truth.is_number_float() &&
              truth.get<double>() == static_cast<double>(carved.integer));
    case carve::SqlValue::Kind::Real:
      return truth.is_number() && truth.get<double>() == carved.real;
    case carve::SqlValue::Kind::Text:
      return truth.is_string() && truth.get<std::string>() == carved.bytes();
    case carve::SqlValue::Kind::Blob:
      return truth.is_object() &&
             truth.value("blob_bytes", -1) == static_cast<std::int64_t>(carved.bytes().size());
  }
  return false;
}

bool rowMatches(const carve::CarvedRow& carved, const carve::TableDefinition& table,
                const json& truth) {
  for (std::size_t c = 0; c < table.columns.size() && c < carved.values.size(); ++c) {
    if (table.columns[c].rowidAlias) continue;
    const auto found = truth.find(table.columns[c].name);
    if (found == truth.end()) continue;
    if (!carved.values[c].isNull() && !valueMatches(carved.values[c], *found)) return false;
  }
  return true;
}

// The body SQLite stores for an integer: the fewest big-endian bytes of 1, 2, 3, 4, 6 or 8
// that hold it (none for 0 and 1).
std::string storedInteger(const json& value) {
  if (!value.is_number_integer()) return {};
  const std::int64_t v = value.get<std::int64_t>();
  if (v == 0 || v == 1) return {};
  int width = 8;
  for (const int w : {1, 2, 3, 4, 6}) {
    const std::int64_t limit = std::int64_t{1} << (8 * w - 1);
    if (v >= -limit && v < limit) {
      width = w;
      break;
    }
  }
  std::string bytes;
  for (int i = width - 1; i >= 0; --i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
  return bytes;
}

Figures measure(int generation, std::uint64_t seed) {
  TempDir temp;
  fixtures::MessagesVolumeOptions volume = generation >= 17
                                               ? fixtures::currentMessagesVolume(24, 18)
                                               : fixtures::MessagesVolumeOptions{};
  volume.conversations = 24;
  volume.messagesPerConversation = 18;
  volume.seed = seed;
  const json description = fixtures::withMessagesVolume(fixtures::sampleDescription(), volume);
  std::vector<fixtures::DeviceFile> files;
  json truth;
  std::string error;
  EXPECT_TRUE(fixtures::buildDeviceFiles(description, generation, &files, &truth, &error)) << error;
  std::vector<std::uint8_t> bytes;
  for (const auto& file : files) {
    if (file.path == "Library/SMS/sms.db") bytes = file.content;
  }
  const std::string path = temp.sub("sms.db");
  EXPECT_TRUE(fixtures::writeFileBytes(path, bytes));
  auto truthRows = liveRows(path);
  if (std::getenv("RETRIEVO_RECALL_VERBOSE") != nullptr) {
    fixtures::writeFileBytes("/tmp/schema-recall-" + std::to_string(generation) + ".db", bytes);
  }
  const json& tables = truth["databases"]["sms"]["tables"];
  for (auto it = tables.begin(); it != tables.end(); ++it) {
    for (const json& row : it.value().value("deleted", json::array())) {
      truthRows[it.key()].push_back(row);
    }
  }

  const DatabaseImage image(bytes);
  const auto sources = carve::CarveSources::read("sms.db", image);
  const carve::TableSchema schema = carve::readTableSchema(sources.latest());
  const auto rows = carve::carveTables(sources, schema);

  Figures f;
  f.carved = rows.size();
  const std::string_view file(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // A message is told by its guid and text; iOS 5 rows have no guid in front of the text,
  // and are told by their date and text.
  const carve::TableDefinition* message = schema.table("message");
  EXPECT_NE(message, nullptr);
  if (message == nullptr) return f;
  std::size_t textColumn = 0, keyColumn = 0;
  const std::string keyName = generation >= 6 ? "guid" : "date";
  for (std::size_t c = 0; c < message->columns.size(); ++c) {
    if (message->columns[c].name == "text") textColumn = c;
    if (message->columns[c].name == keyName) keyColumn = c;
  }
  auto keyOf = [&](const carve::SqlValue& value) {
    return value.kind == carve::SqlValue::Kind::Integer ? std::to_string(value.integer)
                                                        : std::string(value.bytes());
  };
  std::set<std::pair<std::string, std::string>> carvedMessages;  // (guid or date, text)
  for (const auto& row : rows) {
    const carve::TableDefinition* table = schema.table(row.table);
    if (row.table == "message") {
      carvedMessages.emplace(keyOf(row.values[keyColumn]), row.values[textColumn].bytes());
    }
    bool matched = false;
    for (const json& truthRow : truthRows[row.table]) {
      if (rowMatches(row, *table, truthRow)) {
        matched = true;
        break;
      }
    }
    if (!matched) {
      ++f.falseRows;
      if (std::getenv("RETRIEVO_RECALL_VERBOSE") != nullptr) {
        std::printf("  false: %s page %lld place %d rebuilt %d:", row.table.c_str(),
                    static_cast<long long>(row.page), row.place, row.headerRebuilt);
        for (const auto& v : row.values) {
          if (v.kind == carve::SqlValue::Kind::Integer) {
            std::printf(" %lld", static_cast<long long>(v.integer));
          } else if (v.kind == carve::SqlValue::Kind::Text) {
            std::printf(" '%.20s'", std::string(v.bytes()).c_str());
          } else {
            std::printf(" %c", v.isNull() ? 'N' : 'B');
          }
        }
        std::printf("\n");
      }
    }
  }
  for (const json& row : tables["message"].value("deleted", json::array())) {
    const std::string text =
        row.value("text", json()).is_string() ? row["text"].get<std::string>() : std::string();
    if (text.empty()) continue;
    ++f.deleted;
    // The record's own bytes: from iOS 6 on its guid's body and its text's body lie side by
    // side (columns 1 and 2), so the pair found in the file is this row's record and not a text
    // quoted by another message; on iOS 5 the address, the date and the text lie side by side.
    const std::string key = row[keyName].is_string() ? row[keyName].get<std::string>()
                            : row[keyName].is_number_integer()
                                ? std::to_string(row[keyName].get<std::int64_t>())
                                : std::string();
    const std::string guidAndText =
        generation >= 6 ? key + text
                        : (row["address"].is_string() ? row["address"].get<std::string>() : "") +
                              storedInteger(row["date"]) + text;
    if (file.find(guidAndText) == std::string_view::npos) continue;
    ++f.ceiling;
    const std::size_t found = carvedMessages.count({key, text});
    f.recovered += found;
    if (found == 0 && std::getenv("RETRIEVO_RECALL_VERBOSE") != nullptr) {
      const std::size_t at = file.find(guidAndText);
      const std::size_t pageSize = 4096;
      std::printf("  missed: page %zu (kind %02x) at %zu, text of %zu bytes\n", at / pageSize + 1,
                  bytes[at / pageSize * pageSize], at % pageSize, text.size());
    }
  }
  std::printf(
      "[schema carver recall] iOS %d seed %llu: deleted %zu, ceiling %zu, recovered %zu (%.1f%% "
      "of the ceiling), carved %zu, false %zu (%.2f%%)\n",
      generation, static_cast<unsigned long long>(seed), f.deleted, f.ceiling, f.recovered,
      f.ceiling ? 100.0 * f.recovered / f.ceiling : 0.0, f.carved, f.falseRows,
      f.carved ? 100.0 * f.falseRows / f.carved : 0.0);
  return f;
}

TEST(SchemaCarverRecallTest, MessageTablesOfIos5And6AndOfACurrentDevice) {
  // Floors at the figures reached (percent of the ceiling).
  for (const auto& [generation, floor] :
       {std::pair{5, 97u}, std::pair{6, 97u}, std::pair{17, 97u}}) {
    const Figures f =
        measure(generation, std::getenv("RETRIEVO_RECALL_SEED")
                                ? std::strtoull(std::getenv("RETRIEVO_RECALL_SEED"), nullptr, 10)
                                : 5);
    EXPECT_GT(f.ceiling, 50u);
    EXPECT_GE(f.recovered * 100, f.ceiling * floor) << generation;
    EXPECT_LE(f.falseRows * 200, f.carved) << generation;  // at most 0.5 %
  }
}

}  // namespace
