// The contacts step on a large address book: 20,000 persons with two multi-values each and
// 5,000 pictures. Reference, measured in the same run: the sqlite3 shell running the same
// persons query and the 20,000 multi-value queries on the same file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "backup_builder.h"
#include "catalogue/stored_file.h"
#include "extract/contacts_scanner.h"
#include "extract/device_databases.h"

namespace {

constexpr int kPersons = 20000;
constexpr int kPictures = 5000;
constexpr int kRuns = 3;

nlohmann::json description() {
  nlohmann::json contacts = nlohmann::json::array();
  for (int i = 0; i < kPersons; ++i) {
    nlohmann::json c = {
        {"first", "First" + std::to_string(i)},
        {"last", "Last" + std::to_string(i % 997)},
        {"phones", {{{"label", "mobile"}, {"value", "+46 70 555 " + std::to_string(10000 + i)}}}},
        {"emails", {{{"label", "home"}, {"value", "person" + std::to_string(i) + "@example.se"}}}},
    };
    if (i % (kPersons / kPictures) == 0) {
      c["picture"] = {{"width", 48}, {"height", 48}, {"color", {40, 90, 160}}, {"pattern", "gradient"}};
    }
    contacts.push_back(std::move(c));
  }
  return {{"generation", 6},
          {"device", {{"name", "Bench iPhone"}, {"product_type", "iPhone5,2"},
                      {"ios_version", "6.1.3"}, {"udid", std::string(40, 'b')}}},
          {"owner", {{"name", "Bench Owner"}, {"phone", "+46 70 000 00 00"}}},
          {"contacts", contacts}};
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  const std::string root =
      (std::filesystem::temp_directory_path() / "retrievo-contacts-bench").string();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  const std::string folder = root + "/" + std::string(40, 'b');
  fixtures::BackupBuildOptions options;
  options.truthPath = root + "/truth.json";
  std::string error;
  std::cerr << "building the address book...\n";
  if (!fixtures::buildBackup(description(), folder, options, nullptr, &error)) {
    std::cerr << "cannot build the backup: " << error << "\n";
    return 1;
  }
  const std::string db = storedFilePath(folder, devicedb::kContactsKey);

  // The reference script: the persons query, then one multi-value query per person.
  const std::string script = root + "/queries.sql";
  {
    std::ofstream out(script);
    out << "select DISTINCT Rowid, first, Department,DisplayName,firstPhonetic,jobTitle,"
           "organization,middle,middlePhonetic,CreationDate,Last,Note,Nickname,prefix, suffix, "
           "Birthday from abperson ;\n";
    for (int id = 1; id <= kPersons; ++id) {
      out << "select property,label,value, UID from abmultivalue where record_id = " << id
          << " ;\n";
    }
  }
  const std::string command = "sqlite3 -readonly '" + db + "' < '" + script + "' > /dev/null";

  double best = 1e9, bestRef = 1e9;
  std::size_t contacts = 0;
  for (int run = 0; run < kRuns; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      std::cerr << "the sqlite3 shell failed\n";
      return 1;
    }
    bestRef = std::min(bestRef, seconds(std::chrono::steady_clock::now() - t0));

    NotificationCenter center;
    std::size_t posted = 0;
    center.addObserver("ScanContactInfo", [&](const std::any&) { ++posted; });
    ScanLists lists;
    auto t1 = std::chrono::steady_clock::now();
    {
      DatabasePreparer databases(folder);
      ScanContext context{folder, center, lists, databases};
      scanContactThread(context);
    }
    best = std::min(best, seconds(std::chrono::steady_clock::now() - t1));
    contacts = posted;
  }
  std::filesystem::remove_all(root, ec);
  std::printf("contacts step: %zu contacts in %.3f s = %.0f contacts/s\n", contacts, best,
              contacts / best);
  std::printf("reference (sqlite3 shell, same queries): %.3f s = %.0f contacts/s\n", bestRef,
              kPersons / bestRef);
  std::printf("ratio contacts step / reference: %.2f (target <= 1.5)\n", best / bestRef);
  return contacts == static_cast<std::size_t>(kPersons) ? 0 : 1;
}
