// How many of the builder's deleted contacts the carver brings back, per device generation.
//
// The builder inserts a few hundred generated contacts and deletes about 30% of them with
// secure_delete off, so their person and value records stay in the freed space. A deleted
// contact counts as recovered when a carved record has its name and one of its phone
// numbers; a carved record counts as stray when neither its name nor any of its values
// belongs to a deleted contact. The figures are printed and held to the levels reached, so
// a change that loses records fails here.
#include <gtest/gtest.h>

#include <any>
#include <iostream>
#include <set>
#include <string>

#include "app/carve_steps.h"
#include "backup_builder.h"
#include "carve/deleted_contacts_scanner.h"
#include "contacts_volume.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct Recall {
  int deleted = 0;
  int recovered = 0;
  int withName = 0;
  int carved = 0;
  int live = 0;  // carved records of contacts that are still in the database
  int stray = 0;
};

// The name as the carver builds it: first, last and middle joined by blanks.
std::string carvedName(const json& c) {
  std::string name = c.value("first", "");
  if (c.contains("last")) name += " " + c["last"].get<std::string>();
  if (c.contains("middle")) name += " " + c["middle"].get<std::string>();
  return name;
}

bool containsWord(const std::string& joined, const std::string& value) {
  return !value.empty() && (joined + " ").find(" " + value + " ") != std::string::npos;
}

Recall measure(int generation, std::uint32_t seed) {
  TempDir temp;
  const std::string folder = temp.path() + "/backup";
  fixtures::BackupBuildOptions options;
  options.generation = generation;
  fixtures::BackupBuildResult built;
  std::string error;
  const json description = fixtures::contactsDescription(generation, 200, 0.3, seed);
  EXPECT_TRUE(fixtures::buildBackup(description, folder, options, &built, &error)) << error;

  StepHarness harness(folder);
  std::vector<std::shared_ptr<MzContactNode>> carved;
  harness.center.addObserver("ScanDelContactInfo", [&](const std::any& o) {
    carved.push_back(std::any_cast<std::shared_ptr<MzContactNode>>(o));
  });
  harness.readIndex();
  harness.run(scanDelContactThread, generation >= 6, generation >= 7);

  Recall r;
  r.carved = static_cast<int>(carved.size());
  std::vector<json> deleted;
  std::set<std::string> liveNames;
  for (const auto& c : built.truth["contacts"]) {
    if (c.value("deleted", false)) {
      deleted.push_back(c);
    } else {
      liveNames.insert(carvedName(c));
    }
  }
  r.deleted = static_cast<int>(deleted.size());
  for (const auto& c : deleted) {
    // Either carver's way of naming the contact (see below).
    const std::string name = carvedName(c), shown = c.value("name", "");
    bool named = false, found = false;
    for (const auto& record : carved) {
      if (record->contactName != name && record->contactName != shown) continue;
      named = true;
      for (const auto& phone : c["phones"]) {
        if (containsWord(record->contactPhone, phone.get<std::string>())) found = true;
      }
    }
    r.withName += named;
    r.recovered += found;
  }
  for (const auto& record : carved) {
    bool belongs = false;
    for (const auto& c : deleted) {
      // The signature carver names a contact first, last, middle; the schema carver as the
      // address book shows it.
      if (record->contactName == carvedName(c) || record->contactName == c.value("name", "")) {
        belongs = true;
      }
      for (const char* key : {"phones", "emails", "urls"}) {
        for (const auto& v : c[key]) {
          const std::string value = v.get<std::string>();
          if (containsWord(record->contactPhone, value) ||
              containsWord(record->contactEmail, value) ||
              containsWord(record->contactHomepage, value)) {
            belongs = true;
          }
        }
      }
      if (belongs) break;
    }
    if (!belongs && liveNames.count(record->contactName)) {
      ++r.live;
    } else {
      r.stray += !belongs;
    }
  }
  std::cout << "iOS " << generation << ": " << r.deleted << " deleted contacts, " << r.recovered
            << " recovered with name and phone, " << r.withName << " with the name; " << r.carved
            << " carved records, " << r.live << " of live contacts, " << r.stray
            << " match no contact\n";
  return r;
}

}  // namespace

void report(int generation, const Recall& r) {
  const std::string key = "ios" + std::to_string(generation);
  testing::Test::RecordProperty(key + "_deleted", r.deleted);
  testing::Test::RecordProperty(key + "_recovered", r.recovered);
  testing::Test::RecordProperty(key + "_stray", r.stray);
}

TEST(ContactsRecall, IOS5) {
  const Recall r = measure(5, 20265);
  report(5, r);
  EXPECT_GE(r.recovered, 42);
  EXPECT_GE(r.withName, 62);
  EXPECT_EQ(r.stray, 0);
}

TEST(ContactsRecall, IOS6) {
  const Recall r = measure(6, 20266);
  report(6, r);
  EXPECT_GE(r.recovered, 45);
  // Three names were matched only by records read in the cells of live persons, which are no
  // longer posted.
  EXPECT_GE(r.withName, 56);
  EXPECT_EQ(r.stray, 0);
}

TEST(ContactsRecall, IOS7) {
  const Recall r = measure(7, 20267);
  report(7, r);
  EXPECT_GE(r.recovered, 32);
  EXPECT_GE(r.withName, 63);
  EXPECT_EQ(r.stray, 0);
}
