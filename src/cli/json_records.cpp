#include "cli/json_records.h"

#include <charconv>
#include <utility>
#include <variant>

#include "cli/json_text.h"

namespace {

template <typename T>
nlohmann::json orNull(const std::optional<T>& v) {
  return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

nlohmann::json byteCount(const Bytes& b) {
  return b ? nlohmann::json(b->size()) : nlohmann::json(nullptr);
}

nlohmann::json emptyAsNull(const std::string& s) {
  return s.empty() ? nlohmann::json(nullptr) : nlohmann::json(s);
}

// The records of a scan document run to hundreds of thousands of members, so the objects of
// the many-record categories are filled member by member: an initializer list first makes
// every pair a two-element array and then copies each value into the object.
using Members = nlohmann::json::object_t;

nlohmann::json emptyObject() { return nlohmann::json(nlohmann::json::value_t::object); }

Members& membersOf(nlohmann::json& object) { return object.get_ref<Members&>(); }

// Where the record came from, as an object of the fields that apply; added to a record only
// when it has an origin, so documents of records without one keep their form.
void addOrigin(const RecordOrigin& origin, nlohmann::json& record) {
  if (!origin.known()) return;
  nlohmann::json out = emptyObject();
  Members& m = membersOf(out);
  for (auto& [name, value] : originFields(origin)) {
    m.emplace(name, std::visit([](auto& v) { return nlohmann::json(std::move(v)); }, value));
  }
  record["origin"] = std::move(out);
}

}  // namespace

nlohmann::json toJson(const MzIOSDeviceNode& n) {
  return {
      {"strDeviceName", n.strDeviceName},
      {"strDeviceSize", n.strDeviceSize},
      {"strDeviceBackUpTime", n.strDeviceBackUpTime},
      {"lastBackupDate", orNull(n.lastBackupDate)},
      {"storedBytes", orNull(n.storedBytes)},
      {"strDeviceSerial", n.strDeviceSerial},
      {"strDeviceType", n.strDeviceType},
      {"strIOSVersion", n.strIOSVersion},
      {"deviceImage", orNull(n.deviceImage)},
      {"itunesVersion", n.itunesVersion},
      {"backUpFilePath", n.backUpFilePath},
      {"haveDownload", n.haveDownload},
      {"backupID", n.backupID},
      {"backupFileSize", n.backupFileSize},
      {"iCloudID", orNull(n.iCloudID)},
  };
}

nlohmann::json toJson(const MzTreeDirNode& r, bool storedFileExists) {
  return {{"fileDomain", emptyAsNull(r.fileDomain)},
          {"filePath", emptyAsNull(r.filePath)},
          {"fileKey", r.fileKey},
          {"exists", storedFileExists}};
}

namespace {

const char* kindName(MzContactValue::Kind kind) {
  switch (kind) {
    case MzContactValue::Kind::Phone:
      return "phone";
    case MzContactValue::Kind::Email:
      return "email";
    case MzContactValue::Kind::Url:
      return "url";
    case MzContactValue::Kind::Address:
      return "address";
  }
  return "";
}

// Each value with its kind and its label where it has one; an address also with the parts
// that are known.
nlohmann::json valuesJson(const std::vector<MzContactValue>& values) {
  nlohmann::json out = nlohmann::json::array();
  out.get_ref<nlohmann::json::array_t&>().reserve(values.size());
  for (const auto& v : values) {
    nlohmann::json item = emptyObject();
    Members& m = membersOf(item);
    m.emplace("kind", kindName(v.kind));
    m.emplace("value", v.value);
    if (!v.label.empty()) m.emplace("label", v.label);
    for (const auto& [key, part] : {std::pair<const char*, const std::string*>{"street", &v.street},
                                    {"city", &v.city},
                                    {"state", &v.state},
                                    {"postcode", &v.postcode},
                                    {"country", &v.country}}) {
      if (!part->empty()) m.emplace(key, *part);
    }
    out.push_back(std::move(item));
  }
  return out;
}

}  // namespace

nlohmann::json toJson(const MzContactNode& r) {
  nlohmann::json out = emptyObject();
  Members& m = membersOf(out);
  m.emplace("rowid", r.rowid);
  m.emplace("contactName", r.contactName);
  m.emplace("contactPhone", r.contactPhone);
  m.emplace("contactEmail", r.contactEmail);
  m.emplace("contactHomepage", r.contactHomepage);
  m.emplace("contactCompany", r.contactCompany);
  m.emplace("contactBirthday", r.contactBirthday);
  m.emplace("contactJobtitle", r.contactJobtitle);
  m.emplace("contactNote", r.contactNote);
  m.emplace("contactAdress", r.contactAdress);
  m.emplace("imageData", byteCount(r.imageData));
  m.emplace("bDeleted", r.bDeleted);
  m.emplace("bSelected", r.bSelected);
  // The labelled values only where the record has them.
  if (!r.values.empty()) m.emplace("contactValues", valuesJson(r.values));
  addOrigin(r.origin, out);
  return out;
}

namespace {

nlohmann::json toJson(const MzMessageAttachment& a) {
  return {{"name", a.name},
          {"kind", a.kind},
          {"mimeType", a.mimeType},
          {"uti", a.uti},
          {"devicePath", a.devicePath},
          {"storedPath", orNull(a.storedPath)},
          {"missing", !a.storedPath},
          {"sticker", a.sticker}};
}

nlohmann::json toJson(const MzMessageReaction& r) {
  return {{"kind", r.kind},
          {"emoji", emptyAsNull(r.emoji)},
          {"sender", r.sender},
          {"date", r.date},
          {"stickerPath", orNull(r.stickerPath)}};
}

// The fields only current databases fill, added to the messages that came from one so the
// documents of older backups keep their form.
void addCurrentFields(const MzMessageNode& r, nlohmann::json& out) {
  if (!r.chat && r.service.empty()) return;
  out["service"] = r.service;
  out["sender"] = r.sender;
  out["readDate"] = emptyAsNull(r.readDate);
  out["deliveredDate"] = emptyAsNull(r.deliveredDate);
  out["chatName"] = r.chat ? nlohmann::json(r.chat->name) : nlohmann::json(nullptr);
  nlohmann::json attachments = nlohmann::json::array();
  for (const auto& a : r.attachments) attachments.push_back(toJson(a));
  out["attachments"] = std::move(attachments);
  nlohmann::json reactions = nlohmann::json::array();
  for (const auto& reaction : r.reactions) reactions.push_back(toJson(reaction));
  out["reactions"] = std::move(reactions);
  out["edited"] = r.edited;
  out["unsent"] = r.unsent;
  out["previousTexts"] = r.previousTexts;
  out["replyTo"] = orNull(r.replyTo);
}

}  // namespace

nlohmann::json toJson(const MzMessageNode& r) {
  nlohmann::json out = emptyObject();
  Members& m = membersOf(out);
  m.emplace("messageName", orNull(r.messageName));
  m.emplace("messagePhone", r.messagePhone);
  m.emplace("messageContent", r.messageContent);
  m.emplace("messageDate", r.messageDate);
  m.emplace("messageType", r.messageType);
  m.emplace("bImessage", r.bImessage);
  m.emplace("bSelected", r.bSelected);
  m.emplace("bDeleted", r.bDeleted);
  m.emplace("handle_id", r.handle_id);
  m.emplace("isHasAttach", r.isHasAttach);
  m.emplace("attachmentPath", orNull(r.attachmentPath));
  m.emplace("attachType", orNull(r.attachType));
  m.emplace("rowId", r.rowId);
  m.emplace("contactImageData", byteCount(r.contactImageData));
  addCurrentFields(r, out);
  addOrigin(r.origin, out);
  return out;
}

nlohmann::json toJson(const MzMessageTreeNode& r) {
  nlohmann::json messages = nlohmann::json::array();
  if (r.MessageNodeArray) {
    for (const auto& m : *r.MessageNodeArray) {
      if (m) messages.push_back(toJson(*m));
    }
  }
  nlohmann::json out = {{"messageTreeNodeName", r.messageTreeNodeName},
                        {"messageTreeNodeAdress", r.messageTreeNodeAdress},
                        {"bSelected", r.bSelected},
                        {"bdeleted", r.bdeleted},
                        {"MessageNodeArray", std::move(messages)}};
  if (r.chat) {
    out["service"] = r.chat->service;
    out["groupChat"] = r.chat->group;
    out["participants"] = r.chat->participants;
    out["chatIdentifier"] = r.chat->identifier;
  }
  return out;
}

nlohmann::json toJson(const MzCallHistoryNode& r) {
  nlohmann::json out = emptyObject();
  Members& m = membersOf(out);
  m.emplace("callName", orNull(r.callName));
  m.emplace("callPhone", r.callPhone);
  m.emplace("callDate", r.callDate);
  m.emplace("callType", r.callType);
  m.emplace("callTime", r.callTime);
  m.emplace("callDuration", r.callDuration);
  m.emplace("bSelected", r.bSelected);
  m.emplace("bDeleted", r.bDeleted);
  // Only calls of the current store know their kind; older documents keep their keys.
  if (!r.callKind.empty()) m.emplace("callKind", r.callKind);
  addOrigin(r.origin, out);
  return out;
}

nlohmann::json toJson(const MzNoteNode& r) {
  nlohmann::json out = emptyObject();
  Members& m = membersOf(out);
  m.emplace("noteTitle", r.noteTitle);
  m.emplace("noteContent", r.noteContent);
  m.emplace("noteDate", r.noteDate);
  m.emplace("uid", r.uid);
  m.emplace("bSelected", r.bSelected);
  m.emplace("bDeleted", r.bDeleted);
  // What only the current Notes store tells; older documents keep their form.
  if (!r.folder.empty()) m.emplace("folder", r.folder);
  if (!r.account.empty()) m.emplace("account", r.account);
  if (!r.createdDate.empty()) m.emplace("createdDate", r.createdDate);
  if (r.locked) m.emplace("locked", true);
  if (!r.attachments.empty()) {
    nlohmann::json attachments = nlohmann::json::array();
    for (const auto& a : r.attachments) {
      attachments.push_back({{"name", a.name},
                             {"uti", a.uti},
                             {"storedPath", orNull(a.storedPath)},
                             {"missing", !a.storedPath}});
    }
    m.emplace("attachments", std::move(attachments));
  }
  addOrigin(r.origin, out);
  return out;
}

nlohmann::json toJson(const MzBookMarkNode& r) {
  nlohmann::json out = {{"bookMarkTitle", r.bookMarkTitle},
                        {"bookMarkURL", r.bookMarkURL},
                        {"bSelected", r.bSelected},
                        {"bDeleted", r.bDeleted}};
  // Reading-list entries and the history of current devices say what they are; older
  // records keep their form. Only the history has visits.
  if (!r.kind.empty()) out["kind"] = r.kind;
  if (r.kind == "History") {
    out["lastVisit"] = emptyAsNull(r.lastVisit);
    out["visitCount"] = r.visitCount;
  }
  addOrigin(r.origin, out);
  return out;
}

nlohmann::json toJson(const MzCalenderNode& r) {
  nlohmann::json out = {{"calTitle", r.calTitle},  {"calNote", r.calNote},
                        {"location", r.location},  {"startDate", r.startDate},
                        {"endDate", r.endDate},    {"bDeleted", r.bDeleted},
                        {"bSelected", r.bSelected}};
  // What only the current calendar database tells; older documents keep their form.
  if (!r.calendarName.empty()) out["calendarName"] = r.calendarName;
  if (r.allDay) out["allDay"] = true;
  if (!r.attendees.empty()) out["attendees"] = r.attendees;
  if (!r.kind.empty()) {
    out["kind"] = r.kind;
    out["dueDate"] = emptyAsNull(r.dueDate);
    out["completed"] = r.completed;
  }
  addOrigin(r.origin, out);
  return out;
}

nlohmann::json toJson(const MzPhotoAndVideoNode& r) {
  nlohmann::json j = emptyObject();
  Members& m = membersOf(j);
  m.emplace("fileNodeName", r.fileNodeName);
  m.emplace("fileNodeSize", r.fileNodeSize);
  m.emplace("filePath", r.filePath);
  m.emplace("bmov", r.bmov);
  m.emplace("bSelected", r.bSelected);
  m.emplace("fileSizeNumber", r.fileSizeNumber);
  // What a current camera roll adds; left out of the records of older backups, whose
  // documents stay as they were.
  if (!r.devicePath.empty()) {
    m.emplace("devicePath", r.devicePath);
    m.emplace("captureDate", r.captureDate);
    m.emplace("originalFileName", r.originalFileName);
    m.emplace("bLivePhoto", r.bLivePhoto);
    if (r.bLivePhoto) {
      m.emplace("livePhotoMoviePath", r.livePhotoMoviePath);
      m.emplace("livePhotoMovieName", r.livePhotoMovieName);
      m.emplace("livePhotoMovieSize", r.livePhotoMovieSize);
    }
    if (!r.renderOf.empty()) m.emplace("renderOf", r.renderOf);
  }
  return j;
}

bool appendRecordJson(std::string& out, const MzPhotoAndVideoNode& r, std::size_t indent) {
  // The members in the order of toJson's object (its keys sorted), each on a line of its own.
  const std::size_t start = out.size();
  bool first = true;
  auto key = [&](const char* name) {
    out += first ? "{\n" : ",\n";
    first = false;
    out.append(indent + 2, ' ');
    out += '"';
    out += name;
    out += "\": ";
  };
  auto text = [&](const char* name, const std::string& value) {
    key(name);
    return appendJsonString(out, value);
  };
  auto flag = [&](const char* name, bool value) {
    key(name);
    out += value ? "true" : "false";
  };
  auto number = [&](const char* name, std::uint64_t value) {
    key(name);
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  };
  const bool current = !r.devicePath.empty();
  bool ok = true;
  if (current) flag("bLivePhoto", r.bLivePhoto);
  flag("bSelected", r.bSelected);
  flag("bmov", r.bmov);
  if (current) ok = ok && text("captureDate", r.captureDate) && text("devicePath", r.devicePath);
  ok = ok && text("fileNodeName", r.fileNodeName) && text("fileNodeSize", r.fileNodeSize) &&
       text("filePath", r.filePath);
  if (ok) number("fileSizeNumber", r.fileSizeNumber);
  if (ok && current) {
    if (r.bLivePhoto) {
      ok = text("livePhotoMovieName", r.livePhotoMovieName) &&
           text("livePhotoMoviePath", r.livePhotoMoviePath);
      if (ok) number("livePhotoMovieSize", r.livePhotoMovieSize);
    }
    ok = ok && text("originalFileName", r.originalFileName);
    if (ok && !r.renderOf.empty()) ok = text("renderOf", r.renderOf);
  }
  if (!ok) {
    out.resize(start);
    return false;
  }
  out += '\n';
  out.append(indent, ' ');
  out += '}';
  return true;
}

nlohmann::json toJson(const MzFaceTwitterNode& r) {
  return {{"faceTwitterFileName", r.faceTwitterFileName},
          {"faceTwitterFilePath", r.faceTwitterFilePath},
          {"fileSize", r.fileSize},
          {"bSelected", r.bSelected},
          {"FileSizeNumber", r.FileSizeNumber}};
}
