#include "cli/scan_document.h"

#include "cli/json_records.h"
#include "cli/scan_session.h"

namespace {

template <typename T>
nlohmann::json listJson(const RecordList<T>& list, bool deletedOnly, bool (*deleted)(const T&)) {
  nlohmann::json out = nlohmann::json::array();
  out.get_ref<nlohmann::json::array_t&>().reserve(list.size());
  for (const auto& r : list) {
    if (r && (!deletedOnly || deleted(*r))) out.push_back(toJson(*r));
  }
  return out;
}

template <typename T>
bool byFlag(const T& r) {
  return r.bDeleted;
}
bool conversationDeleted(const MzMessageTreeNode& r) { return r.bdeleted; }
template <typename T>
bool never(const T&) {
  return false;
}

}  // namespace

nlohmann::json categoryJson(const MzResultViewController& results, ResultCategory category,
                            bool deletedOnly) {
  switch (category) {
    case ResultCategory::Contact:
      return listJson(results.contactArray, deletedOnly, byFlag<MzContactNode>);
    case ResultCategory::Message:
      return listJson(results.messageTreeArray, deletedOnly, conversationDeleted);
    case ResultCategory::CallHistory:
      return listJson(results.callHistoryArray, deletedOnly, byFlag<MzCallHistoryNode>);
    case ResultCategory::Note:
      return listJson(results.noteArray, deletedOnly, byFlag<MzNoteNode>);
    case ResultCategory::BookMark:
      return listJson(results.bookMarkArray, deletedOnly, byFlag<MzBookMarkNode>);
    case ResultCategory::Calender:
      return listJson(results.calenderArray, deletedOnly, byFlag<MzCalenderNode>);
    case ResultCategory::Photo:
      return listJson(results.photoAndVideoArray, deletedOnly, never<MzPhotoAndVideoNode>);
    case ResultCategory::AppPhoto:
      return listJson(results.appPhotoAndVideoArray, deletedOnly, never<MzPhotoAndVideoNode>);
    case ResultCategory::FaceTwitter:
      return listJson(results.faceTwitterArray, deletedOnly, never<MzFaceTwitterNode>);
    case ResultCategory::BackUpBrowser:
      break;
  }
  return nlohmann::json::array();
}

nlohmann::json scanDocument(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                            const std::vector<ScanProblem>& problems) {
  nlohmann::json doc;
  doc["backup"] = toJson(backup);
  nlohmann::json counts = nlohmann::json::object();
  for (const auto& c : documentCategories()) {
    auto n = results.countsFor(c.category);
    counts[c.name] = {{"live", n.live}, {"deleted", n.deleted}};
  }
  doc["counts"] = std::move(counts);
  for (const auto& c : documentCategories()) doc[c.name] = categoryJson(results, c.category, false);
  nlohmann::json listed = nlohmann::json::array();
  for (const auto& p : problems) listed.push_back({{"file", p.file}, {"reason", p.reason}});
  doc["problems"] = std::move(listed);
  return doc;
}
