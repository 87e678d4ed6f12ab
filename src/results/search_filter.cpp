#include "results/search_filter.h"

#include <algorithm>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/main_thread.h"
#include "results/result_view_controller.h"

namespace {

// Units that stand for bytes which are not part of a valid UTF-8 sequence: above the last
// code point, so they never equal a character.
constexpr char32_t kRawByteBase = 0x110000;

// Decodes the code point at text[i], advancing i. Overlong forms, surrogates and values
// past U+10FFFF are not characters: their first byte comes back as a raw-byte unit.
char32_t decodeAt(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2;
    cp = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3;
    cp = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4;
    cp = b0 & 0x07;
    minimum = 0x10000;
  }
  bool valid = length != 0 && text.size() - i >= length;
  for (std::size_t k = 1; valid && k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      valid = false;
    } else {
      cp = (cp << 6) | (b & 0x3F);
    }
  }
  if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kRawByteBase + b0;
  }
  i += length;
  return cp;
}

bool inRange(char32_t c, char32_t first, char32_t last) { return c >= first && c <= last; }

// In a run of upper/lower pairs starting at `first`, the upper form has the parity of
// `first`; it folds to the code point after it.
char32_t foldPair(char32_t c, char32_t first) { return ((c - first) % 2 == 0) ? c + 1 : c; }

// Simple case folding (one code point to one) for Latin, Greek, Cyrillic, Armenian,
// Roman numerals, circled and full-width letters.
char32_t foldCodePoint(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
  if (c < 0x100) {
    if (c == 0xB5) return 0x3BC;  // micro sign to small mu
    if ((inRange(c, 0xC0, 0xD6) || inRange(c, 0xD8, 0xDE))) return c + 0x20;
    return c;
  }
  if (c < 0x180) {
    if (c == 0x130 || c == 0x138 || c == 0x149) return c;  // no simple folding
    if (c == 0x178) return 0xFF;
    if (c == 0x17F) return 's';
    if (inRange(c, 0x100, 0x12F) || inRange(c, 0x132, 0x137) || inRange(c, 0x14A, 0x177)) {
      return foldPair(c, 0x100);
    }
    if (inRange(c, 0x139, 0x148) || inRange(c, 0x179, 0x17E)) return foldPair(c, 0x139);
    return c;
  }
  if (c < 0x250) {
    switch (c) {
      case 0x1C4:
      case 0x1C5:
        return 0x1C6;
      case 0x1C7:
      case 0x1C8:
        return 0x1C9;
      case 0x1CA:
      case 0x1CB:
        return 0x1CC;
      case 0x1F1:
      case 0x1F2:
        return 0x1F3;
      default:
        break;
    }
    if (inRange(c, 0x1CD, 0x1DC)) return foldPair(c, 0x1CD);
    if (inRange(c, 0x1DE, 0x1EF) || inRange(c, 0x1F8, 0x21F) || inRange(c, 0x222, 0x233) ||
        inRange(c, 0x246, 0x24F)) {
      return foldPair(c, 0x1DE);
    }
    return c;
  }
  if (c < 0x400) {
    switch (c) {
      case 0x386:
        return 0x3AC;
      case 0x38C:
        return 0x3CC;
      case 0x3C2:
        return 0x3C3;  // final sigma
      case 0x3CF:
        return 0x3D7;
      case 0x3D0:
        return 0x3B2;
      case 0x3D1:
        return 0x3B8;
      case 0x3D5:
        return 0x3C6;
      case 0x3D6:
        return 0x3C0;
      case 0x3F0:
        return 0x3BA;
      case 0x3F1:
        return 0x3C1;
      case 0x3F5:
        return 0x3B5;
      default:
        break;
    }
    if (inRange(c, 0x388, 0x38A)) return c + 0x25;
    if (inRange(c, 0x38E, 0x38F)) return c + 0x3F;
    if (inRange(c, 0x391, 0x3A1) || inRange(c, 0x3A3, 0x3AB)) return c + 0x20;
    if (inRange(c, 0x3D8, 0x3EF)) return foldPair(c, 0x3D8);
    return c;
  }
  if (c < 0x530) {
    if (inRange(c, 0x400, 0x40F)) return c + 0x50;
    if (inRange(c, 0x410, 0x42F)) return c + 0x20;
    if (inRange(c, 0x460, 0x481) || inRange(c, 0x48A, 0x4BF) || inRange(c, 0x4D0, 0x52F)) {
      return foldPair(c, 0x460);
    }
    if (c == 0x4C0) return 0x4CF;
    if (inRange(c, 0x4C1, 0x4CE)) return foldPair(c, 0x4C1);
    return c;
  }
  if (inRange(c, 0x531, 0x556)) return c + 0x30;
  if (c == 0x1E9B) return 0x1E61;
  if (c == 0x1E9E) return 0xDF;  // capital sharp s
  if (inRange(c, 0x1E00, 0x1E95) || inRange(c, 0x1EA0, 0x1EFF)) return foldPair(c, 0x1E00);
  if (inRange(c, 0x2160, 0x216F)) return c + 0x10;
  if (inRange(c, 0x24B6, 0x24CF)) return c + 0x1A;
  if (inRange(c, 0xFF21, 0xFF3A)) return c + 0x20;
  return c;
}

bool fieldMatches(const std::string& field, std::u32string_view text) {
  return searchTextMatches(field, text);
}

bool fieldMatches(const std::optional<std::string>& field, std::u32string_view text) {
  return field.has_value() && searchTextMatches(*field, text);
}

template <typename T>
ResultRows rowsOf(const RecordList<T>& list) {
  return toRows(list);
}

// The categories whose table a search empties before it walks (the calendar keeps its
// rows: they are what it searches).
bool emptiedBySearch(ResultCategory category) {
  switch (category) {
    case ResultCategory::Message:
    case ResultCategory::Contact:
    case ResultCategory::Note:
    case ResultCategory::CallHistory:
    case ResultCategory::FaceTwitter:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::u32string foldedSearchText(std::string_view utf8) {
  std::u32string folded;
  folded.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) folded.push_back(foldCodePoint(decodeAt(utf8, i)));
  return folded;
}

bool searchTextMatches(std::string_view field, std::u32string_view foldedText) {
  if (foldedText.empty() || field.empty()) return false;
  const bool asciiField =
      std::all_of(field.begin(), field.end(), [](char c) { return (c & 0x80) == 0; });
  if (asciiField) {
    // ASCII folds to ASCII only, so a text with any other unit cannot occur here, and the
    // bytes are compared without decoding.
    if (std::any_of(foldedText.begin(), foldedText.end(), [](char32_t c) { return c >= 0x80; })) {
      return false;
    }
    auto it = std::search(
        field.begin(), field.end(), foldedText.begin(), foldedText.end(),
        [](char a, char32_t b) { return foldCodePoint(static_cast<unsigned char>(a)) == b; });
    return it != field.end();
  }
  return foldedSearchText(field).find(foldedText) != std::u32string::npos;
}

bool recordMatchesSearch(const ResultRecord& record, std::u32string_view text) {
  return std::visit(
      [text](const auto& r) -> bool {
        using T = typename std::decay_t<decltype(r)>::element_type;
        if (r == nullptr) return false;
        if constexpr (std::is_same_v<T, MzMessageTreeNode>) {
          return fieldMatches(r->messageTreeNodeName, text) ||
                 fieldMatches(r->messageTreeNodeAdress, text);
        } else if constexpr (std::is_same_v<T, MzContactNode>) {
          return fieldMatches(r->contactName, text) || fieldMatches(r->contactPhone, text);
        } else if constexpr (std::is_same_v<T, MzNoteNode>) {
          return fieldMatches(r->noteTitle, text) || fieldMatches(r->noteContent, text);
        } else if constexpr (std::is_same_v<T, MzCallHistoryNode>) {
          return fieldMatches(r->callName, text) || fieldMatches(r->callPhone, text);
        } else if constexpr (std::is_same_v<T, MzCalenderNode>) {
          if (fieldMatches(r->calTitle, text) || fieldMatches(r->calNote, text) ||
              fieldMatches(r->location, text) || fieldMatches(r->calendarName, text)) {
            return true;
          }
          return std::any_of(r->attendees.begin(), r->attendees.end(),
                             [&text](const std::string& a) { return fieldMatches(a, text); });
        } else {
          return false;
        }
      },
      record);
}

bool isSearchableCategory(ResultCategory category) {
  switch (category) {
    case ResultCategory::Message:
    case ResultCategory::Contact:
    case ResultCategory::Note:
    case ResultCategory::CallHistory:
    case ResultCategory::Calender:
      return true;
    default:
      return false;
  }
}

// One search: what it was started for, the rows it walks and what it found.
struct MzSearchFilter::SearchRun {
  std::uint64_t generation = 0;
  std::string text;
  ResultCategory category = ResultCategory::Photo;
  std::shared_ptr<MzIOSDeviceNode> backup;
  bool started = false;  // the table was emptied and the rows taken: this search is shown
  ResultRows source;
  ResultRows matches;
};

MzSearchFilter::MzSearchFilter(MzResultViewController& results) : results_(results) {}

MzSearchFilter::~MzSearchFilter() {
  std::thread last;
  {
    std::lock_guard lock(mutex_);
    retireRunningSearch();
    last = std::move(thread_);
  }
  if (last.joinable()) last.join();
}

void MzSearchFilter::retireRunningSearch() {
  ++generation_;
  if (bSearchThreadStart) bSearchStop = true;
}

void MzSearchFilter::controlTextDidChange(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!results_.bScanFinished) return;
  const ResultCategory category = results_.currentCategory();
  if (text.empty()) {
    // The running search (if any) becomes stale and shows nothing. It is not waited for
    // here, so the main thread never blocks on a search that waits for the main thread;
    // the next search or the filter's end waits for it.
    retireRunningSearch();
    reopenCategoryLocked();
    return;
  }
  if (!isSearchableCategory(category) && category != ResultCategory::FaceTwitter) return;

  auto run = std::make_shared<SearchRun>();
  retireRunningSearch();
  auto previous = std::make_shared<std::thread>(std::move(thread_));
  run->generation = generation_.load();
  run->text = text;
  run->category = category;
  run->backup = results_.currentBackup();
  try {
    thread_ = std::thread([this, previous, run] {
      if (previous->joinable()) previous->join();
      StartSearchThread(*run);
    });
  } catch (const std::system_error&) {
    // No thread: the search does not run, and the one before it is still ours to wait for.
    thread_ = std::move(*previous);
  }
}

void MzSearchFilter::returnOriginTableView() {
  std::lock_guard lock(mutex_);
  reopenCategoryLocked();
}

void MzSearchFilter::reopenCategoryLocked() {
  const ResultCategory category = results_.currentCategory();
  switch (category) {
    case ResultCategory::Message:
    case ResultCategory::Contact:
    case ResultCategory::CallHistory:
    case ResultCategory::Note:
    case ResultCategory::Calender:
    case ResultCategory::FaceTwitter:
      results_.openCategory(category);
      break;
    default:
      break;
  }
}

void MzSearchFilter::waitForSearch() {
  std::thread last;
  {
    std::lock_guard lock(mutex_);
    last = std::move(thread_);
  }
  if (last.joinable()) last.join();
}

bool MzSearchFilter::isCurrent(const SearchRun& run) const {
  return generation_.load() == run.generation && results_.bScanFinished &&
         results_.currentCategory() == run.category && results_.currentBackup() == run.backup;
}

void MzSearchFilter::StartSearchThread(SearchRun& run) {
  // The search before this one has ended (it was waited for); a newer text may already
  // have replaced this one, and then it does not begin at all.
  if (generation_.load() != run.generation) return;
  initFilterView(run);
  if (!run.started) return;

  const std::u32string text = foldedSearchText(run.text);
  bool stopped = false;
  for (std::size_t i = 0; i < run.source.size(); ++i) {
    if (searchStepHook) searchStepHook(i);
    if (generation_.load() != run.generation) {
      stopped = true;
      break;
    }
    if (recordMatchesSearch(run.source[i], text)) run.matches.push_back(run.source[i]);
  }
  if (stopped) {
    // Asked to stop: the newer search (or the reopened category) owns the table.
    bSearchStop = false;
    bSearchThreadStart = false;
    return;
  }
  switchToFiterMainThread(run);
}

void MzSearchFilter::initFilterView(SearchRun& run) {
  performOnMainThreadAndWait([this, &run] { initFilterViewThreadHandle(run); });
}

void MzSearchFilter::initFilterViewThreadHandle(SearchRun& run) {
  std::lock_guard lock(mutex_);
  if (!isCurrent(run)) return;
  results_.searchArray.clear();
  switch (run.category) {
    case ResultCategory::Message:
      run.source = rowsOf(results_.messageTreeArray);
      break;
    case ResultCategory::Contact:
      run.source = rowsOf(results_.contactArray);
      break;
    case ResultCategory::Note:
      run.source = rowsOf(results_.noteArray);
      break;
    case ResultCategory::CallHistory:
      run.source = rowsOf(results_.callHistoryArray);
      break;
    case ResultCategory::Calender:
      run.source = results_.shownRows();
      break;
    default:
      break;  // social media: nothing is walked, the table only empties
  }
  if (emptiedBySearch(run.category)) {
    results_.showRows({});
    if (run.category == ResultCategory::Message && results_.resultView() != nullptr) {
      results_.resultView()->clearChatPreview();
    }
  }
  bSearchStop = false;
  bSearchThreadStart = true;
  run.started = true;
}

void MzSearchFilter::switchToFiterMainThread(SearchRun& run) {
  performOnMainThreadAndWait([this, &run] { ScanFinishOnMainThreadHandle(run); });
}

void MzSearchFilter::ScanFinishOnMainThreadHandle(SearchRun& run) {
  std::lock_guard lock(mutex_);
  if (isCurrent(run)) {
    results_.searchArray = std::move(run.matches);
    switch (run.category) {
      case ResultCategory::Message:
        // No conversation matched: the list stays empty.
        if (!results_.searchArray.empty()) results_.showRows(results_.searchArray);
        break;
      case ResultCategory::Contact:
      case ResultCategory::Note:
      case ResultCategory::Calender:
      case ResultCategory::CallHistory:
        results_.showRows(results_.searchArray);
        break;
      default:
        break;  // social media stays empty until the text is cleared
    }
  }
  bSearchStop = false;
  bSearchThreadStart = false;
}
