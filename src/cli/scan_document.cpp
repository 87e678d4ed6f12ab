#include "cli/scan_document.h"

#include <algorithm>
#include <future>
#include <string>
#include <system_error>
#include <type_traits>

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

// The text of records [begin, end) of `list`, each as the array of writeCategory holds it
// (",\n    " and the record's JSON at depth 4).
template <typename T>
std::string recordsText(const RecordList<T>& list, std::size_t begin, std::size_t end) {
  std::string text;
  for (std::size_t i = begin; i < end; ++i) {
    if (!list[i]) continue;
    text += ",\n    ";
    if constexpr (std::is_same_v<T, MzPhotoAndVideoNode>) {
      if (appendRecordJson(text, *list[i], 4)) continue;
    }
    appendIndentedJson(text, toJson(*list[i]), 4);
  }
  return text;
}

// Writes `list` as the JSON array indentedJsonText writes at depth 2. Records are turned into
// text a block at a time, two blocks at once (the second on a thread of its own): the text of
// the records is most of the time the document takes, and the records are only read.
template <typename T>
bool writeRecords(const RecordList<T>& list, PieceWriter& out) {
  constexpr std::size_t kBlock = 2048;
  bool first = true;
  auto append = [&](std::string_view text) {
    if (text.empty()) return out.flush();
    if (first) {
      out.text() += "[";
      text.remove_prefix(1);  // the first record's comma
      first = false;
    }
    out.text() += text;
    return out.flush();
  };
  for (std::size_t begin = 0; begin < list.size(); begin += 2 * kBlock) {
    const std::size_t middle = std::min(begin + kBlock, list.size());
    const std::size_t end = std::min(middle + kBlock, list.size());
    std::future<std::string> second;
    if (middle < end) {
      try {
        second = std::async(std::launch::async,
                            [&list, middle, end] { return recordsText(list, middle, end); });
      } catch (const std::system_error&) {
        // No thread to be had: the block is written after the first one instead.
      }
    }
    const bool ok = append(recordsText(list, begin, middle));
    const std::string later = second.valid() ? second.get() : recordsText(list, middle, end);
    if (!ok || !append(later)) return false;
  }
  out.text() += first ? "[]" : "\n  ]";
  return true;
}

// Writes the records of `category` as the JSON array indentedJsonText writes at depth 2.
bool writeCategory(const MzResultViewController& results, ResultCategory category,
                   PieceWriter& out) {
  switch (category) {
    case ResultCategory::Contact:
      return writeRecords(results.contactArray, out);
    case ResultCategory::Message:
      return writeRecords(results.messageTreeArray, out);
    case ResultCategory::CallHistory:
      return writeRecords(results.callHistoryArray, out);
    case ResultCategory::Note:
      return writeRecords(results.noteArray, out);
    case ResultCategory::BookMark:
      return writeRecords(results.bookMarkArray, out);
    case ResultCategory::Calender:
      return writeRecords(results.calenderArray, out);
    case ResultCategory::Photo:
      return writeRecords(results.photoAndVideoArray, out);
    case ResultCategory::AppPhoto:
      return writeRecords(results.appPhotoAndVideoArray, out);
    case ResultCategory::FaceTwitter:
      return writeRecords(results.faceTwitterArray, out);
    case ResultCategory::BackUpBrowser:
      break;
  }
  out.text() += "[]";
  return true;
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
