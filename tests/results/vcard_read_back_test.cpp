// The cards of a backup's contacts read back by python3-vobject, a reader of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "extract/contacts_scanner.h"
#include "results/vcf_controller.h"
#include "sample_backup.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

constexpr const char* kPython = "/usr/bin/python3";

// Prints, per card file, the name, the display name and every TEL, EMAIL, URL and ADR line
// with its TYPE parameters (upper case, sorted) as vobject reads them.
constexpr const char* kReader = R"(
import json, sys, vobject
cards = []
for path in sys.argv[1:]:
    with open(path, encoding="utf-8", newline="") as f:
        card = vobject.readOne(f.read())
    n = card.n.value
    out = {"n": [n.family, n.given, n.additional, n.prefix, n.suffix], "fn": card.fn.value}
    for name in ("tel", "email", "url", "adr"):
        lines = []
        for line in card.contents.get(name, []):
            v = line.value
            if name == "adr":
                v = [v.street, v.city, v.region, v.code, v.country]
            types = sorted(t.upper() for t in line.params.get("TYPE", []))
            lines.append({"type": types, "value": v})
        out[name] = lines
    if "bday" in card.contents:
        out["bday"] = card.bday.value
    cards.append(out)
print(json.dumps(cards))
)";

bool haveVobject() { return runCommand(kPython, {"-c", "import vobject"}).exitCode == 0; }

std::vector<std::shared_ptr<MzContactNode>> scannedContacts(const std::string& folder) {
  std::vector<std::shared_ptr<MzContactNode>> posted;
  NotificationCenter center;
  center.addObserver("ScanContactInfo", [&](const std::any& o) {
    posted.push_back(std::any_cast<std::shared_ptr<MzContactNode>>(o));
  });
  ScanLists lists;
  DatabasePreparer databases(folder);
  ScanContext context{folder, center, lists, databases};
  scanContactThread(context);
  return posted;
}

// The TYPE a label is written with.
std::string typeOf(const std::string& label) {
  static const std::map<std::string, std::string> kTypes = {
      {"Mobile", "CELL"}, {"Home", "HOME"},     {"Work", "WORK"},    {"Main", "MAIN"},
      {"Other", "OTHER"}, {"HomePage", "HOME"}, {"iPhone", "IPHONE"}};
  const auto it = kTypes.find(label);
  if (it != kTypes.end()) return it->second;
  std::string upper = label;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// What the reader should see for `contact`'s values, from the truth or from a record.
json expectedLines(const json& values, const std::map<std::string, std::string>& lineOfKind) {
  json out = json::object();
  for (const auto& [kind, line] : lineOfKind) out[line] = json::array();
  for (const auto& v : values) {
    const std::string line = lineOfKind.at(v["kind"]);
    std::vector<std::string> types;
    if (line == "email") types.push_back("INTERNET");
    if (!v["label"].get<std::string>().empty()) types.push_back(typeOf(v["label"]));
    if (out[line].empty()) types.push_back("PREF");
    std::sort(types.begin(), types.end());
    out[line].push_back({{"type", types}, {"value", line == "adr" ? v["parts"] : v["value"]}});
  }
  return out;
}

class VCardsReadBack : public testing::TestWithParam<int> {};

TEST_P(VCardsReadBack, EveryNameValueAndLabelOfTheContacts) {
  if (!haveVobject()) {
    GTEST_SKIP() << "python3-vobject is not installed (scripts/install-deps.sh installs it)";
  }
  TempDir tmp;
  fixtures::BackupBuildOptions options;
  if (GetParam() == 17) options = fixtures::currentDeviceBackup();
  options.generation = GetParam();
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(tmp.sub("Backup/b"), options, &built, &error)) << error;
  auto contacts = scannedContacts(built.backupFolder);

  // One more card with text a card must escape, and a label of the person's own.
  auto awkward = std::make_shared<MzContactNode>();
  awkward->firstName = "Anna; Maria";
  awkward->lastName = "Berg, \\ Holm";
  awkward->contactName = "Anna; Maria Berg, \\ Holm";
  MzContactValue phone;
  phone.label = "Summer, house";
  phone.value = "+46 8 555 00";
  MzContactValue address;
  address.kind = MzContactValue::Kind::Address;
  address.label = "Work";
  address.street = "Storgatan 1\nBox 3";
  address.city = "Visby";
  address.value = "Storgatan 1\nBox 3, Visby";
  awkward->values = {phone, address};
  contacts.push_back(awkward);

  const json description = fixtures::sampleDescription();
  json expected = json::array();
  std::vector<std::string> args = {"-c", kReader};
  const std::map<std::string, std::string> lineOfKind = {
      {"phone", "tel"}, {"email", "email"}, {"url", "url"}, {"address", "adr"}};
  for (const auto& contact : contacts) {
    json values = json::array();
    const json* truth = nullptr;
    for (const auto& t : built.truth["contacts"]) {
      if (t["rowid"] == contact->rowid) truth = &t;
    }
    if (truth) {
      values = (*truth)["values"];
      std::size_t a = 0;
      for (auto& v : values) {
        if (v["kind"] != "address") continue;
        const json& parts = (*truth)["addresses"][a++];
        v["parts"] = {parts.value("street", ""), parts.value("city", ""), parts.value("state", ""),
                      parts.value("zip", ""), parts.value("country", "")};
      }
    } else {
      values = json::array({{{"kind", "phone"}, {"label", "Summer, house"}, {"value", phone.value}},
                            {{"kind", "address"},
                             {"label", "Work"},
                             {"parts", {address.street, "Visby", "", "", ""}}}});
    }
    json card = expectedLines(values, lineOfKind);
    card["n"] = {contact->lastName, contact->firstName, contact->middleName, contact->namePrefix,
                 contact->nameSuffix};
    card["fn"] = contact->contactName;
    // The birthday as the description gives it: the calendar day, whatever the book stores.
    for (const auto& described : description["contacts"]) {
      if (described.value("first", "") == contact->firstName &&
          described.value("last", "") == contact->lastName && described.contains("birthday")) {
        card["bday"] = described["birthday"];
      }
    }
    expected.push_back(card);

    MzVCFController vcf;
    const std::string path = tmp.sub("card" + std::to_string(args.size()) + ".vcf");
    ASSERT_EQ(vcf.creatFile(*contact, path), 0);
    args.push_back(path);
  }
  ASSERT_GT(contacts.size(), 4u);

  const CommandResult read = runCommand(kPython, args);
  ASSERT_EQ(read.exitCode, 0) << read.err;
  const json cards = json::parse(read.out);
  ASSERT_EQ(cards.size(), expected.size());
  for (std::size_t i = 0; i < cards.size(); ++i) {
    EXPECT_EQ(cards[i], expected[i]) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, VCardsReadBack, testing::Values(6, 7, 17));

}  // namespace
