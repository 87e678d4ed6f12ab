#include "cli/scan_document.h"

#include "cli/json_records.h"
#include "cli/scan_session.h"

namespace {

// Hands each record of `list` (with `deletedOnly` only the deleted ones) to `take` as JSON.
template <typename T, typename Take>
void eachRecordJson(const RecordList<T>& list, bool deletedOnly, bool (*deleted)(const T&),
                    Take&& take) {
  for (const auto& r : list) {
    if (r && (!deletedOnly || deleted(*r))) take(toJson(*r));
  }
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

template <typename Take>
void eachCategoryRecordJson(const MzResultViewController& results, ResultCategory category,
                            bool deletedOnly, Take&& take) {
  switch (category) {
    case ResultCategory::Contact:
      return eachRecordJson(results.contactArray, deletedOnly, byFlag<MzContactNode>, take);
    case ResultCategory::Message:
      return eachRecordJson(results.messageTreeArray, deletedOnly, conversationDeleted, take);
    case ResultCategory::CallHistory:
      return eachRecordJson(results.callHistoryArray, deletedOnly, byFlag<MzCallHistoryNode>, take);
    case ResultCategory::Note:
      return eachRecordJson(results.noteArray, deletedOnly, byFlag<MzNoteNode>, take);
    case ResultCategory::BookMark:
      return eachRecordJson(results.bookMarkArray, deletedOnly, byFlag<MzBookMarkNode>, take);
    case ResultCategory::Calender:
      return eachRecordJson(results.calenderArray, deletedOnly, byFlag<MzCalenderNode>, take);
    case ResultCategory::Photo:
      return eachRecordJson(results.photoAndVideoArray, deletedOnly, never<MzPhotoAndVideoNode>,
                            take);
    case ResultCategory::AppPhoto:
      return eachRecordJson(results.appPhotoAndVideoArray, deletedOnly, never<MzPhotoAndVideoNode>,
                            take);
    case ResultCategory::FaceTwitter:
      return eachRecordJson(results.faceTwitterArray, deletedOnly, never<MzFaceTwitterNode>, take);
    case ResultCategory::BackUpBrowser:
      break;
  }
}

// The document without the category arrays: each category's member is null, to be filled by
// its records as they are written.
nlohmann::json documentFrame(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                             const std::vector<ScanProblem>& problems) {
  nlohmann::json doc;
  doc["backup"] = toJson(backup);
  nlohmann::json counts = nlohmann::json::object();
  for (const auto& c : documentCategories()) {
    auto n = results.countsFor(c.category);
    counts[c.name] = {{"live", n.live}, {"deleted", n.deleted}};
  }
  doc["counts"] = std::move(counts);
  for (const auto& c : documentCategories()) doc[c.name] = nullptr;
  nlohmann::json listed = nlohmann::json::array();
  for (const auto& p : problems) listed.push_back({{"file", p.file}, {"reason", p.reason}});
  doc["problems"] = std::move(listed);
  return doc;
}

// Collects the document's text and hands it on whenever a piece is large enough.
class PieceWriter {
 public:
  explicit PieceWriter(const std::function<bool(std::string_view)>& write) : write_(write) {
    text_.reserve(kPiece + kPiece / 4);
  }
  std::string& text() { return text_; }
  // Hands on the text so far when it has grown to a piece (or always, with `last`); false
  // once a write has failed.
  bool flush(bool last = false) {
    if (!ok_ || (!last && text_.size() < kPiece)) return ok_;
    ok_ = write_(text_);
    text_.clear();
    return ok_;
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  const std::function<bool(std::string_view)>& write_;
  std::string text_;
  bool ok_ = true;
};

// Writes the records of `category` as the JSON array indentedJsonText writes at depth 2.
bool writeCategory(const MzResultViewController& results, ResultCategory category,
                   PieceWriter& out) {
  bool first = true;
  bool ok = true;
  eachCategoryRecordJson(results, category, false, [&](const nlohmann::json& record) {
    if (!ok) return;
    out.text() += first ? "[\n    " : ",\n    ";
    first = false;
    appendIndentedJson(out.text(), record, 4);
    ok = out.flush();
  });
  out.text() += first ? "[]" : "\n  ]";
  return ok;
}

}  // namespace

nlohmann::json categoryJson(const MzResultViewController& results, ResultCategory category,
                            bool deletedOnly) {
  nlohmann::json out = nlohmann::json::array();
  eachCategoryRecordJson(results, category, deletedOnly,
                         [&out](nlohmann::json record) { out.push_back(std::move(record)); });
  return out;
}

nlohmann::json scanDocument(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                            const std::vector<ScanProblem>& problems) {
  nlohmann::json doc = documentFrame(backup, results, problems);
  for (const auto& c : documentCategories()) doc[c.name] = categoryJson(results, c.category, false);
  return doc;
}

bool writeScanDocument(const MzIOSDeviceNode& backup, const MzResultViewController& results,
                       const std::vector<ScanProblem>& problems,
                       const std::function<bool(std::string_view)>& write) {
  const nlohmann::json frame = documentFrame(backup, results, problems);
  PieceWriter out(write);
  out.text() += "{\n";
  bool first = true;
  for (const auto& [key, member] : frame.items()) {
    if (!first) out.text() += ",\n";
    first = false;
    out.text() += "  ";
    appendIndentedJson(out.text(), nlohmann::json(key), 2);
    out.text() += ": ";
    const std::optional<ResultCategory> category =
        member.is_null() ? categoryByName(key) : std::nullopt;
    if (category) {
      if (!writeCategory(results, *category, out)) return false;
    } else {
      appendIndentedJson(out.text(), member, 2);
    }
  }
  out.text() += "\n}\n";
  return out.flush(true);
}
