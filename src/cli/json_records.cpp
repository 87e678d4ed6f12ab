#include "cli/json_records.h"

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

nlohmann::json toJson(const MzContactNode& r) {
  return {{"rowid", r.rowid},
          {"contactName", r.contactName},
          {"contactPhone", r.contactPhone},
          {"contactEmail", r.contactEmail},
          {"contactHomepage", r.contactHomepage},
          {"contactCompany", r.contactCompany},
          {"contactBirthday", r.contactBirthday},
          {"contactJobtitle", r.contactJobtitle},
          {"contactNote", r.contactNote},
          {"contactAdress", r.contactAdress},
          {"imageData", byteCount(r.imageData)},
          {"bDeleted", r.bDeleted},
          {"bSelected", r.bSelected}};
}

nlohmann::json toJson(const MzMessageNode& r) {
  return {{"messageName", orNull(r.messageName)},
          {"messagePhone", r.messagePhone},
          {"messageContent", r.messageContent},
          {"messageDate", r.messageDate},
          {"messageType", r.messageType},
          {"bImessage", r.bImessage},
          {"bSelected", r.bSelected},
          {"bDeleted", r.bDeleted},
          {"handle_id", r.handle_id},
          {"isHasAttach", r.isHasAttach},
          {"attachmentPath", orNull(r.attachmentPath)},
          {"attachType", orNull(r.attachType)},
          {"rowId", r.rowId},
          {"contactImageData", byteCount(r.contactImageData)}};
}

nlohmann::json toJson(const MzMessageTreeNode& r) {
  nlohmann::json messages = nlohmann::json::array();
  if (r.MessageNodeArray) {
    for (const auto& m : *r.MessageNodeArray) {
      if (m) messages.push_back(toJson(*m));
    }
  }
  return {{"messageTreeNodeName", r.messageTreeNodeName},
          {"messageTreeNodeAdress", r.messageTreeNodeAdress},
          {"bSelected", r.bSelected},
          {"bdeleted", r.bdeleted},
          {"MessageNodeArray", std::move(messages)}};
}

nlohmann::json toJson(const MzCallHistoryNode& r) {
  return {{"callName", orNull(r.callName)}, {"callPhone", r.callPhone},
          {"callDate", r.callDate},         {"callType", r.callType},
          {"callTime", r.callTime},         {"callDuration", r.callDuration},
          {"bSelected", r.bSelected},       {"bDeleted", r.bDeleted}};
}

nlohmann::json toJson(const MzNoteNode& r) {
  return {{"noteTitle", r.noteTitle}, {"noteContent", r.noteContent}, {"noteDate", r.noteDate},
          {"uid", r.uid},             {"bSelected", r.bSelected},     {"bDeleted", r.bDeleted}};
}

nlohmann::json toJson(const MzBookMarkNode& r) {
  return {{"bookMarkTitle", r.bookMarkTitle},
          {"bookMarkURL", r.bookMarkURL},
          {"bSelected", r.bSelected},
          {"bDeleted", r.bDeleted}};
}

nlohmann::json toJson(const MzCalenderNode& r) {
  return {{"calTitle", r.calTitle},   {"calNote", r.calNote},     {"location", r.location},
          {"startDate", r.startDate}, {"endDate", r.endDate},     {"bDeleted", r.bDeleted},
          {"bSelected", r.bSelected}};
}

nlohmann::json toJson(const MzPhotoAndVideoNode& r) {
  return {{"fileNodeName", r.fileNodeName}, {"fileNodeSize", r.fileNodeSize},
          {"filePath", r.filePath},         {"bmov", r.bmov},
          {"bSelected", r.bSelected},       {"fileSizeNumber", r.fileSizeNumber}};
}

nlohmann::json toJson(const MzFaceTwitterNode& r) {
  return {{"faceTwitterFileName", r.faceTwitterFileName},
          {"faceTwitterFilePath", r.faceTwitterFilePath},
          {"fileSize", r.fileSize},
          {"bSelected", r.bSelected},
          {"FileSizeNumber", r.FileSizeNumber}};
}
