// What the deleted-record steps give back now that the schema-aware carver runs beside the
// signature carvers, per category and device generation, on backups the fixture builder makes
// with a share of the items deleted.
//
//   deleted  the builder's deleted items of the category
//   ceiling  the deleted items whose key text (message text after its guid, contact name, note
//            body or title, URL, event title, the call's number) still lies in the database
//            file or its log and is no live item's text too, and those that come back (in
//            another form, a text kept in an archived body, too)
//   found    deleted items a posted record gives back (by its key fields)
//   false    posted records (distinct by key) that match no item, live or deleted
//
// Every record the schema carver posts for a found item must say where it came from. The
// table holds the floors reached; RETRIEVO_RECALL_VERBOSE=1 prints what was missed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "app/carve_steps.h"
#include "app/schema_carve_step.h"
#include "backup_builder.h"
#include "base/conversions.h"
#include "calendar_calls_volume.h"
#include "catalogue/stored_file.h"
#include "contacts_volume.h"
#include "extract/note_body_text.h"
#include "extract/record_origin.h"
#include "fixture_support.h"
#include "messages_volume.h"
#include "notes_volume.h"
#include "sample_backup.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;
using Key = std::pair<std::string, std::string>;

enum class Category { Messages, Contacts, Calls, Notes, Bookmarks, Calendar };

const char* nameOf(Category c) {
  switch (c) {
    case Category::Messages:
      return "messages";
    case Category::Contacts:
      return "contacts";
    case Category::Calls:
      return "calls";
    case Category::Notes:
      return "notes";
    case Category::Bookmarks:
      return "bookmarks";
    case Category::Calendar:
      return "calendar";
  }
  return "";
}

struct Floor {
  Category category;
  int generation;
  int percentOfCeiling;  // found * 100 >= ceiling * this
  int mostFalse = 0;     // posted records of both carvers that match no item
};

struct Figures {
  int deleted = 0, ceiling = 0, found = 0, carved = 0, falseRecords = 0;
  int schemaFound = 0, schemaCarved = 0, schemaFalse = 0;  // the schema carver's records
};

// One truth item: its key, the text whose bytes make the ceiling, and a second key a record
// may match instead (a note by its title when its body is compressed).
struct Item {
  Key key;
  std::vector<std::string> ceilingTexts;  // held when one of them is
  std::optional<Key> otherKey;
  bool deleted = false;
};

json descriptionFor(Category category, int generation) {
  const int base = generation >= 17 ? 7 : generation;
  switch (category) {
    case Category::Messages: {
      fixtures::MessagesVolumeOptions volume = generation >= 17
                                                   ? fixtures::currentMessagesVolume(10, 10)
                                                   : fixtures::MessagesVolumeOptions{};
      volume.conversations = 10;
      volume.messagesPerConversation = 10;
      volume.seed = 7;
      json d = fixtures::withMessagesVolume(fixtures::sampleDescription(), volume);
      d["generation"] = base;
      return d;
    }
    case Category::Contacts:
      return fixtures::contactsDescription(base, 80, 0.3, 7);
    case Category::Calls:
    case Category::Calendar: {
      fixtures::CalendarCallsVolume volume;
      volume.generation = base;
      volume.calls = category == Category::Calls ? 80 : 0;
      volume.events = category == Category::Calendar ? 80 : 0;
      volume.seed = 7;
      return fixtures::calendarCallsDescription(volume);
    }
    case Category::Notes:
    case Category::Bookmarks: {
      fixtures::NotesBookmarksVolume volume;
      volume.generation = base;
      volume.notes = category == Category::Notes ? 60 : 0;
      volume.bookmarks = category == Category::Bookmarks ? 60 : 0;
      volume.seed = 7;
      return fixtures::notesBookmarksDescription(volume);
    }
  }
  return {};
}

std::string text(const json& item, const char* key) {
  return item.contains(key) && item[key].is_string() ? item[key].get<std::string>() : "";
}

std::vector<Item> truthItems(Category category, const json& truth) {
  std::vector<Item> items;
  auto add = [&](const json& list, const std::function<Item(const json&)>& make) {
    for (const json& item : list) {
      Item i = make(item);
      i.deleted = item.value("deleted", false);
      items.push_back(std::move(i));
    }
  };
  switch (category) {
    case Category::Messages:
      add(truth.value("messages", json::array()), [](const json& m) {
        // From iOS 6 on a row's guid lies just before its text: the pair is this row's bytes,
        // not a text another message repeats.
        const std::string guid = text(m, "guid").rfind("iMessage;", 0) == 0 ? "" : text(m, "guid");
        return Item{{text(m, "text"), ""}, {guid + text(m, "text")}, {}, false};
      });
      break;
    case Category::Contacts:
      add(truth.value("contacts", json::array()), [](const json& c) {
        const std::string part = text(c, "first").empty() ? text(c, "last") : text(c, "first");
        return Item{{text(c, "name"), ""}, {part}, {}, false};
      });
      break;
    case Category::Calls:
      add(truth.value("calls", json::array()), [](const json& c) {
        return Item{{text(c, "address"), dateText(c.value("date_unix", std::int64_t{0}), 0)},
                    {text(c, "address")},
                    {},
                    false};
      });
      break;
    case Category::Notes:
      add(truth.value("notes", json::array()), [](const json& n) {
        const std::string body = cleanNoteBody(text(n, "body"));
        // A compressed body's bytes never lie in the file: its title stands for it.
        return Item{{"body", body},
                    {text(n, "body"), text(n, "title")},
                    Key{"title", text(n, "title")},
                    false};
      });
      break;
    case Category::Bookmarks:
      for (const char* list : {"bookmarks", "history"}) {
        add(truth.value(list, json::array()), [](const json& b) {
          return Item{{text(b, "url"), ""}, {text(b, "url")}, {}, false};
        });
      }
      std::erase_if(items, [](const Item& i) { return i.key.first.empty(); });
      break;
    case Category::Calendar:
      add(truth.value("events", json::array()), [](const json& e) {
        return Item{{text(e, "summary"), dateText(e.value("start_unix", std::int64_t{0}), 0)},
                    {text(e, "summary")},
                    {},
                    false};
      });
      break;
  }
  std::erase_if(items, [](const Item& i) { return i.key.first.empty() && i.key.second.empty(); });
  return items;
}

// The posted records, each by its keys, told apart by them as the results tell records apart;
// `schema` for the records that name a place other than "record signature".
struct Posted {
  std::map<std::vector<Key>, bool> records;
  std::map<std::vector<Key>, std::string> origins;  // the last origin posted with the keys
  bool originsComplete = true;
};

template <typename T>
void observe(StepHarness& step, const char* notification, Posted& posted,
             std::function<std::vector<Key>(const T&)> keysOf) {
  step.center.addObserver(notification, [&posted, keysOf](const std::any& o) {
    const auto record = std::any_cast<std::shared_ptr<T>>(o);
    const bool schema = record->origin.place != RecordOrigin::Place::RecordSignature;
    const std::vector<Key> keys = keysOf(*record);
    bool& bySchema = posted.records[keys];
    bySchema = bySchema || schema;
    posted.origins[keys] = originText(record->origin);
    if (schema) {
      const bool complete = record->origin.kind == RecordOrigin::Kind::Carved &&
                            !record->origin.file.empty() && record->origin.page > 0 &&
                            record->origin.offset >= 0;
      if (!complete) posted.originsComplete = false;
    }
  });
}

Posted runStep(Category category, const std::string& folder, int generation) {
  StepHarness step(folder);
  step.readIndex();
  Posted posted;
  const bool six = generation >= 6, seven = generation >= 7;
  switch (category) {
    case Category::Messages:
      observe<MzMessageNode>(step, "ScanDelMessageInfo", posted, [](const MzMessageNode& m) {
        return std::vector<Key>{{m.messageContent, ""}};
      });
      step.run(scanDelMessageThread, six, seven);
      break;
    case Category::Contacts:
      step.readContacts();
      observe<MzContactNode>(step, "ScanDelContactInfo", posted, [](const MzContactNode& c) {
        std::vector<Key> keys{{c.contactName, ""}};
        // The values of a person whose row was not found: they tell the item.
        if (c.contactName == "Unknown") {
          for (const MzContactValue& v : c.values) keys.push_back({"value", v.value});
        }
        return keys;
      });
      step.run(scanDelContactThread, six, seven);
      break;
    case Category::Calls:
      step.readContacts();
      observe<MzCallHistoryNode>(step, "ScanDelCallHistoryInfo", posted,
                                 [](const MzCallHistoryNode& c) {
                                   return std::vector<Key>{{c.callPhone, c.callDate}};
                                 });
      step.run(scanDelCallHistoryThread, six, seven);
      break;
    case Category::Notes:
      observe<MzNoteNode>(step, "ScanDelNoteInfo", posted, [](const MzNoteNode& n) {
        std::vector<Key> keys{{"body", n.noteContent}};
        if (!n.noteTitle.empty()) keys.push_back({"title", n.noteTitle});
        return keys;
      });
      step.run(scanDelNoteThread, six, seven);
      break;
    case Category::Bookmarks:
      observe<MzBookMarkNode>(step, "scanDelBookMarkInfo", posted, [](const MzBookMarkNode& b) {
        return std::vector<Key>{{b.bookMarkURL, ""}};
      });
      step.run(ScanDelBookMarkThread, six, seven);
      break;
    case Category::Calendar:
      observe<MzCalenderNode>(step, "scanDelCalenderInfo", posted, [](const MzCalenderNode& e) {
        return std::vector<Key>{{e.calTitle, e.startDate}};
      });
      step.run(ScanDelCalenderThread, six, seven);
      break;
  }
  return posted;
}

// The bytes of the category's databases and their logs, as the backup stores them.
std::string storedBytes(Category category, const std::string& folder, const json& truth) {
  static const std::map<Category, std::vector<std::string>> kFiles = {
      {Category::Messages, {"sms.db"}},
      {Category::Contacts, {"AddressBook.sqlitedb"}},
      {Category::Calls, {"call_history.db", "CallHistory.storedata"}},
      {Category::Notes, {"notes.sqlite", "notes.db", "NoteStore.sqlite"}},
      {Category::Bookmarks, {"Bookmarks.db", "History.db"}},
      {Category::Calendar, {"Calendar.sqlitedb"}}};
  std::string bytes;
  if (!truth.contains("databases")) return bytes;
  for (const auto& [key, database] : truth.at("databases").items()) {
    const std::string path = text(database, "path");
    const std::string name = path.substr(path.rfind('/') + 1);
    bool wanted = false;
    for (const std::string& file : kFiles.at(category)) wanted = wanted || file == name;
    if (!wanted) continue;
    const DatabaseLocation location{storedFilePath(folder, text(database, "file_key")),
                                    text(database, "domain"), path};
    const auto sources = readStoredCarveSources(folder, location);
    if (!sources) continue;
    for (const DatabaseImage* image : {&sources->database(), &sources->log()}) {
      bytes.append(reinterpret_cast<const char*>(image->data()),
                   static_cast<std::size_t>(image->size()));
    }
  }
  return bytes;
}

Figures measure(Category category, int generation) {
  TempDir root;
  const std::string folder = root.sub("backup");
  fixtures::BackupBuildOptions options;
  if (generation >= 17) options = fixtures::currentDeviceBackup();
  fixtures::BackupBuildResult result;
  std::string error;
  EXPECT_TRUE(
      fixtures::buildBackup(descriptionFor(category, generation), folder, options, &result, &error))
      << error;
  const std::vector<Item> items = truthItems(category, result.truth);
  const std::string bytes = storedBytes(category, folder, result.truth);
  const Posted posted = runStep(category, folder, generation);
  const bool verbose = std::getenv("RETRIEVO_RECALL_VERBOSE") != nullptr;

  Figures f;
  std::set<Key> known;
  for (const Item& item : items) {
    known.insert(item.key);
    if (item.otherKey) known.insert(*item.otherKey);
  }
  for (const json& contact : result.truth.value("contacts", json::array())) {
    for (const char* list : {"phones", "emails", "urls"}) {
      for (const json& value : contact.value(list, json::array())) {
        if (value.is_string()) known.insert({"value", value.get<std::string>()});
      }
    }
  }
  std::set<Key> all, bySchema;
  for (const auto& [keys, schema] : posted.records) {
    ++f.carved;
    f.schemaCarved += schema ? 1 : 0;
    bool matches = false;
    for (const Key& key : keys) {
      if (key.first.empty() && key.second.empty()) continue;
      all.insert(key);
      if (schema) bySchema.insert(key);
      matches = matches || known.count(key) != 0;
    }
    // A record without its key text (a message of an attachment alone, a person's numbers
    // without the person's row) is no false record, nor one the key fields can tell.
    if (!matches &&
        std::all_of(keys.begin(), keys.end(),
                    [](const Key& k) {
                      return k.first.empty() || k.first == "body" || k.first == "title";
                    }) &&
        std::all_of(keys.begin(), keys.end(), [](const Key& k) { return k.second.empty(); })) {
      --f.carved;
      f.schemaCarved -= schema ? 1 : 0;
      continue;
    }
    if (!matches) {
      ++f.falseRecords;
      f.schemaFalse += schema ? 1 : 0;
      if (verbose) {
        std::printf("  false%s: %s | %s (%s)\n", schema ? " (schema)" : "", keys[0].first.c_str(),
                    keys[0].second.c_str(), posted.origins.at(keys).c_str());
      }
    }
  }
  // A text a live item also has lies in the file whether the deleted one survives or not.
  std::set<std::string> liveTexts;
  for (const Item& item : items) {
    if (!item.deleted) liveTexts.insert(item.ceilingTexts.begin(), item.ceilingTexts.end());
  }
  for (const Item& item : items) {
    if (!item.deleted) continue;
    ++f.deleted;
    bool held = false;
    for (const std::string& text : item.ceilingTexts) {
      held = held ||
             (!text.empty() && liveTexts.count(text) == 0 && bytes.find(text) != std::string::npos);
    }
    auto has = [&](const std::set<Key>& keys) {
      return keys.count(item.key) != 0 ||
             (item.otherKey && !item.otherKey->second.empty() && keys.count(*item.otherKey) != 0);
    };
    // What comes back was held, whatever form its bytes took (a text kept in an archived
    // body, a compressed note).
    held = held || has(all);
    f.ceiling += held ? 1 : 0;
    if (has(all)) {
      ++f.found;
      f.schemaFound += has(bySchema) ? 1 : 0;
    } else if (verbose) {
      std::printf("  missed%s: %s | %s\n", held ? " (held)" : "", item.key.first.c_str(),
                  item.key.second.c_str());
    }
  }
  EXPECT_TRUE(posted.originsComplete) << nameOf(category) << " iOS " << generation;
  std::printf(
      "[schema records recall] %-9s iOS %2d: deleted %3d ceiling %3d found %3d (%5.1f%% of "
      "deleted, %5.1f%% of the ceiling) carved %3d false %2d (%.2f%%); schema carver: found %3d "
      "carved %3d false %2d (%.2f%%)\n",
      nameOf(category), generation, f.deleted, f.ceiling, f.found,
      f.deleted ? 100.0 * f.found / f.deleted : 0.0, f.ceiling ? 100.0 * f.found / f.ceiling : 0.0,
      f.carved, f.falseRecords, f.carved ? 100.0 * f.falseRecords / f.carved : 0.0, f.schemaFound,
      f.schemaCarved, f.schemaFalse, f.schemaCarved ? 100.0 * f.schemaFalse / f.schemaCarved : 0.0);
  return f;
}

class SchemaRecordsRecallTest : public ::testing::TestWithParam<Floor> {};

TEST_P(SchemaRecordsRecallTest, DeletedItemsComeBackWithTheirOrigin) {
  const Floor floor = GetParam();
  const Figures f = measure(floor.category, floor.generation);
  EXPECT_GT(f.deleted, 0);
  EXPECT_GE(f.found * 100, f.ceiling * floor.percentOfCeiling);
  EXPECT_GT(f.schemaFound, 0);
  EXPECT_LE(f.schemaFalse * 200, f.schemaCarved);  // at most 0.5 % of the schema carver's
  EXPECT_LE(f.falseRecords, floor.mostFalse);
}

INSTANTIATE_TEST_SUITE_P(
    Floors, SchemaRecordsRecallTest,
    // Percent of the ceiling. The current Notes store keeps a deleted note as a live row in
    // Recently Deleted (its live scanner shows it): nothing of it is freed to carve.
    // Messages iOS 6 and 7: the signature carver reads a one-letter text ("C") out of old
    // headers in a page's unallocated bytes, where the schema carver finds no record; notes
    // iOS 5: it reads a note of a title cut short ("e 34") without its body.
    ::testing::Values(Floor{Category::Messages, 5, 95}, Floor{Category::Messages, 6, 100, 1},
                      Floor{Category::Messages, 7, 100, 1}, Floor{Category::Messages, 17, 100},
                      Floor{Category::Contacts, 5, 100}, Floor{Category::Contacts, 6, 100},
                      Floor{Category::Contacts, 7, 100}, Floor{Category::Contacts, 17, 100},
                      Floor{Category::Calls, 5, 100}, Floor{Category::Calls, 6, 100},
                      Floor{Category::Calls, 7, 100}, Floor{Category::Calls, 17, 100},
                      Floor{Category::Notes, 5, 100, 1}, Floor{Category::Notes, 6, 100},
                      Floor{Category::Notes, 7, 100}, Floor{Category::Bookmarks, 5, 100},
                      Floor{Category::Bookmarks, 6, 100}, Floor{Category::Bookmarks, 7, 100},
                      Floor{Category::Bookmarks, 17, 100}, Floor{Category::Calendar, 5, 100},
                      Floor{Category::Calendar, 6, 100}, Floor{Category::Calendar, 7, 100},
                      Floor{Category::Calendar, 17, 100}),
    [](const ::testing::TestParamInfo<Floor>& info) {
      return std::string(nameOf(info.param.category)) + "_ios" +
             std::to_string(info.param.generation);
    });

}  // namespace
