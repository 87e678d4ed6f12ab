#include "extract/contacts_scanner.h"

#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "base/log.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/device_databases.h"
#include "extract/step_database.h"

namespace {

constexpr const char* kFullSizeImageQuery = "select record_id, data from ABFullSizeImage";
constexpr const char* kImageQuery = "select record_id, data from ABImage";
constexpr const char* kPersonsQuery =
    "select DISTINCT Rowid, first, Department,DisplayName,firstPhonetic,jobTitle,organization,"
    "middle,middlePhonetic,CreationDate,Last,Note,Nickname,prefix, suffix, Birthday from "
    "abperson ";
constexpr const char* kMultiValueQuery =
    "select property,label,value, UID from abmultivalue where record_id = ? ";

void appendWithBlank(std::string& field, const std::string& value) { field += " " + value; }

// Reads every picture row into contactImageArray.
void readPictures(ScanContext& scan) {
  const std::string fullSize = storedFilePath(scan.backupFolder, devicedb::kContactPicturesKey);
  const std::string mddata =
      storedFilePath(scan.backupFolder, std::string(devicedb::kContactPicturesKey) + ".mddata");
  std::error_code ec;
  std::string file;
  const char* query = nullptr;
  if (std::filesystem::exists(fullSize, ec)) {
    file = fullSize;
    query = kFullSizeImageQuery;
  } else if (std::filesystem::exists(mddata, ec)) {
    file = mddata;
    query = kImageQuery;
  } else {
    return;
  }
  auto copy = scan.databases.readOnlyCopy(file, devicedb::walKeyFor(devicedb::kContactPictures),
                                          devicedb::deviceFileName(devicedb::kContactPictures));
  if (!copy) return;
  SqliteDatabase db = SqliteDatabase::openReadOnly(*copy);
  if (!db.isOpen()) return;
  SqliteStatement rows = db.prepare(query);
  while (rows.step()) {
    auto picture = std::make_shared<MzContactImageNode>();
    picture->rowid = static_cast<std::int32_t>(rows.columnInt(0));
    picture->imageData = rows.columnBlob(1);
    scan.lists.contactImageArray.push_back(std::move(picture));
  }
}

std::shared_ptr<MzContactNode> personFromRow(const SqliteStatement& row) {
  auto contact = std::make_shared<MzContactNode>();
  std::int64_t rowid = row.columnInt(0);
  if (rowid != 0) contact->rowid = static_cast<std::int32_t>(rowid);
  if (auto v = row.columnNonEmptyText(1)) contact->contactName = *v;
  if (auto v = row.columnNonEmptyText(2)) contact->contactCompany = *v;
  if (auto v = row.columnNonEmptyText(5)) contact->contactCompany += " " + *v;
  if (auto v = row.columnNonEmptyText(6)) contact->contactCompany += " " + *v;
  if (auto v = row.columnNonEmptyText(7)) contact->contactName += " " + *v;
  if (auto v = row.columnNonEmptyText(10)) contact->contactName += " " + *v;
  if (auto v = row.columnNonEmptyText(11)) contact->contactNote = *v;
  if (auto v = row.columnNonEmptyText(15)) contact->contactBirthday = *v;
  return contact;
}

void addMultiValues(SqliteStatement& values, MzContactNode& contact) {
  values.reset();
  values.bindInt(1, contact.rowid);
  while (values.step()) {
    auto value = values.columnNonEmptyText(2);
    if (!value) continue;
    switch (values.columnInt(0)) {
      case 3:
        appendWithBlank(contact.contactPhone, *value);
        break;
      case 4:
        appendWithBlank(contact.contactEmail, *value);
        break;
      case 5:
        appendWithBlank(contact.contactAdress, *value);
        break;
      case 22:
        appendWithBlank(contact.contactHomepage, *value);
        break;
      default:
        break;
    }
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

  readPictures(scan);
  // The later picture of a row id wins, as when the list is walked in order.
  std::unordered_map<std::int32_t, Bytes> pictureByRow;
  for (const auto& picture : scan.lists.contactImageArray) {
    pictureByRow[picture->rowid] = picture->imageData;
  }

  if (database.isOpen()) {
    const SqliteDatabase& db = database.db();
    SqliteStatement persons = db.prepare(kPersonsQuery);
    while (persons.step()) scan.lists.contactArray.push_back(personFromRow(persons));
    database.checkRead(persons);

    SqliteStatement values = db.prepare(kMultiValueQuery);
    for (const auto& contact : scan.lists.contactArray) {
      if (auto it = pictureByRow.find(contact->rowid); it != pictureByRow.end()) {
        contact->imageData = it->second;
      }
      addMultiValues(values, *contact);
      scan.nc.post("ScanContactInfo", contact);
    }
  }
  scan.postProgress(40);
  return database.outcome();
}
