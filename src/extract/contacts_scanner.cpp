#include "extract/contacts_scanner.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "base/ascii_case.h"
#include "base/log.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/contact_pictures.h"
#include "extract/device_databases.h"
#include "extract/step_database.h"

namespace {

constexpr const char* kPersonsQuery =
    "select DISTINCT Rowid, first, Department,DisplayName,firstPhonetic,jobTitle,organization,"
    "middle,middlePhonetic,CreationDate,Last,Note,Nickname,prefix, suffix, Birthday from "
    "abperson ";
constexpr const char* kMultiValueQuery =
    "select property,label,value, UID from abmultivalue where record_id = ? ";
// The same rows with the label's text; needs ABMultiValueLabel, which every generation has.
constexpr const char* kLabelledMultiValueQuery =
    "select m.property, l.value, m.value, m.UID from ABMultiValue m left join ABMultiValueLabel l "
    "on l.ROWID = m.label where m.record_id = ? order by m.UID";
// The parts of one address: the key's name and the text.
constexpr const char* kEntryQuery =
    "select k.value, e.value from ABMultiValueEntry e join ABMultiValueEntryKey k on k.ROWID = "
    "e.key where e.parent_id = ?";

constexpr std::int64_t kPhoneProperty = 3;
constexpr std::int64_t kEmailProperty = 4;
constexpr std::int64_t kAddressProperty = 5;
constexpr std::int64_t kUrlProperty = 22;

void appendWithBlank(std::string& field, const std::string& value) { field += " " + value; }

// "_$!<Mobile>!$_" as "Mobile"; a label the person typed stays as it is.
std::string cleanLabel(const std::string& label) {
  constexpr std::string_view kOpen = "_$!<";
  constexpr std::string_view kClose = ">!$_";
  if (label.size() > kOpen.size() + kClose.size() && label.starts_with(kOpen) &&
      label.ends_with(kClose)) {
    return label.substr(kOpen.size(), label.size() - kOpen.size() - kClose.size());
  }
  return label;
}

void joinPart(std::string& out, const std::string& part, const char* separator) {
  if (part.empty()) return;
  if (!out.empty()) out += separator;
  out += part;
}

// Fills the parts of `address` from the entries of its multi-value row and joins them into
// one line: street, postcode city, state, country, skipping the missing ones.
void readAddress(SqliteStatement& entries, std::int64_t uid, MzContactValue& address) {
  entries.reset();
  entries.bindInt(1, uid);
  std::string countryCode;
  while (entries.step()) {
    const auto key = entries.columnNonEmptyText(0);
    const auto text = entries.columnNonEmptyText(1);
    if (!key || !text) continue;
    if (sameTextIgnoringCase(*key, "Street")) {
      address.street = *text;
    } else if (sameTextIgnoringCase(*key, "City")) {
      address.city = *text;
    } else if (sameTextIgnoringCase(*key, "State")) {
      address.state = *text;
    } else if (sameTextIgnoringCase(*key, "ZIP")) {
      address.postcode = *text;
    } else if (sameTextIgnoringCase(*key, "Country")) {
      address.country = *text;
    } else if (sameTextIgnoringCase(*key, "CountryCode")) {
      countryCode = *text;
    }
  }
  if (address.country.empty()) {
    for (char c : countryCode) {
      address.country += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  std::string town;
  joinPart(town, address.postcode, " ");
  joinPart(town, address.city, " ");
  std::string line;
  for (const std::string* part : {&address.street, &town, &address.state, &address.country}) {
    joinPart(line, *part, ", ");
  }
  address.value = line;
}

// Address books of iOS 8 and later: ABPerson gained AlternateBirthday and MapsData then.
bool isCurrentAddressBook(const SqliteDatabase& db) {
  for (const auto& column : db.columnsOf("ABPerson")) {
    if (sameTextIgnoringCase(column, "MapsData")) return true;
  }
  return false;
}

std::shared_ptr<MzContactNode> personFromRow(const SqliteStatement& row) {
  auto contact = std::make_shared<MzContactNode>();
  std::int64_t rowid = row.columnInt(0);
  if (rowid != 0) contact->rowid = static_cast<std::int32_t>(rowid);
  if (auto v = row.columnNonEmptyText(1)) contact->contactName = *v;
  contact->firstName = row.columnNonEmptyText(1).value_or("");
  contact->middleName = row.columnNonEmptyText(7).value_or("");
  contact->lastName = row.columnNonEmptyText(10).value_or("");
  contact->namePrefix = row.columnNonEmptyText(13).value_or("");
  contact->nameSuffix = row.columnNonEmptyText(14).value_or("");
  if (auto v = row.columnNonEmptyText(2)) contact->contactCompany = *v;
  if (auto v = row.columnNonEmptyText(5)) contact->contactCompany += " " + *v;
  if (auto v = row.columnNonEmptyText(6)) contact->contactCompany += " " + *v;
  if (auto v = row.columnNonEmptyText(7)) contact->contactName += " " + *v;
  if (auto v = row.columnNonEmptyText(10)) contact->contactName += " " + *v;
  if (auto v = row.columnNonEmptyText(11)) contact->contactNote = *v;
  if (auto v = row.columnNonEmptyText(15)) contact->contactBirthday = *v;
  return contact;
}

// `entries` is invalid when the database keeps no address parts (nor labels).
void addMultiValues(SqliteStatement& values, SqliteStatement& entries, MzContactNode& contact) {
  values.reset();
  values.bindInt(1, contact.rowid);
  while (values.step()) {
    MzContactValue item;
    if (entries.valid()) item.label = cleanLabel(values.columnNonEmptyText(1).value_or(""));
    const std::int64_t property = values.columnInt(0);
    if (property == kAddressProperty && entries.valid() && values.columnIsNull(2)) {
      item.kind = MzContactValue::Kind::Address;
      readAddress(entries, values.columnInt(3), item);
      if (item.value.empty()) continue;
      appendWithBlank(contact.contactAdress, item.value);
      contact.values.push_back(std::move(item));
      continue;
    }
    auto value = values.columnNonEmptyText(2);
    if (!value) continue;
    item.value = *value;
    switch (property) {
      case kPhoneProperty:
        item.kind = MzContactValue::Kind::Phone;
        appendWithBlank(contact.contactPhone, *value);
        break;
      case kEmailProperty:
        item.kind = MzContactValue::Kind::Email;
        appendWithBlank(contact.contactEmail, *value);
        break;
      case kAddressProperty:
        item.kind = MzContactValue::Kind::Address;
        item.street = *value;
        appendWithBlank(contact.contactAdress, *value);
        break;
      case kUrlProperty:
        item.kind = MzContactValue::Kind::Url;
        appendWithBlank(contact.contactHomepage, *value);
        break;
      default:
        continue;
    }
    contact.values.push_back(std::move(item));
  }
}

}  // namespace

StepOutcome scanContactThread(ScanContext& scan) {
  if (scan.backupFolder.empty()) return {};
  // Only the fixed file key: the address book is never looked up by its device path.
  const std::string contactsFile = storedFilePath(scan.backupFolder, devicedb::kContactsKey);
  std::error_code ec;
  std::optional<DatabaseLocation> location;
  if (std::filesystem::exists(std::filesystem::symlink_status(contactsFile, ec))) {
    location = DatabaseLocation{contactsFile, devicedb::kContacts.domain, devicedb::kContacts.path};
  }
  StepDatabase database(scan, location, devicedb::deviceFileName(devicedb::kContacts));
  if (!location) {
    applog::line("contactDB is not exist");
    return database.outcome();
  }
  database.open();

  // Thumbnails stand in for missing full-size pictures beside address books of iOS 8 and
  // later only; the older ones keep their full-size reading.
  readContactPictures(scan, database.isOpen() && isCurrentAddressBook(database.db()));
  // The later picture of a row id wins, as when the list is walked in order.
  std::unordered_map<std::int32_t, Bytes> pictureByRow;
  for (const auto& picture : scan.lists.contactImageArray) {
    pictureByRow[picture->rowid] = picture->imageData;
  }

  if (database.isOpen()) {
    const SqliteDatabase& db = database.db();
    SqliteStatement persons = db.prepare(kPersonsQuery);
    const std::string fileName = database.fileName();
    while (persons.step()) {
      auto contact = personFromRow(persons);
      contact->origin = RecordOrigin::live(fileName, "ABPerson", persons.columnInt(0));
      scan.lists.contactArray.push_back(std::move(contact));
    }
    database.checkRead(persons);

    // Databases without the label and address part tables give the values alone.
    SqliteStatement entries = db.prepare(kEntryQuery);
    SqliteStatement values =
        db.prepare(entries.valid() ? kLabelledMultiValueQuery : kMultiValueQuery);
    if (!values.valid()) {
      entries = SqliteStatement();
      values = db.prepare(kMultiValueQuery);
    }
    for (const auto& contact : scan.lists.contactArray) {
      if (auto it = pictureByRow.find(contact->rowid); it != pictureByRow.end()) {
        contact->imageData = it->second;
      }
      addMultiValues(values, entries, *contact);
      scan.nc.post("ScanContactInfo", contact);
    }
  }
  scan.postProgress(40);
  return database.outcome();
}
