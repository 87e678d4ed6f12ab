// The search field of the results view: filters the current category by a text.
//
// What is searched. Each searchable category matches two fields of its records, and a
// record matches when the text occurs in either as a substring, ignoring letter case
// (ASCII letters, and the simple case folding of the common alphabets in UTF-8 text; no
// diacritic folding, no word boundaries). An absent field never matches.
//
//   conversations  messageTreeNodeName, messageTreeNodeAdress   (the whole list)
//   contacts       contactName, contactPhone                   (the whole list)
//   notes          noteTitle, noteContent                      (the whole list)
//   call history   callName, callPhone                         (the whole list)
//   calendar       calTitle, calNote                           (the rows shown now)
//
// In the social-media category a non-empty text empties the table until the text is
// cleared; bookmarks, media and the backup browser are not searched and a text changes
// nothing there. An empty text reopens the category whole.
//
// Threads. controlTextDidChange runs on the main thread and starts one search thread per
// change. A new search first waits for the one before it, which it has asked to stop, so
// only one search runs at a time and the newest text's result is the one shown. The table
// changes only on the main thread (performOnMainThreadAndWait): a search takes its rows and
// empties the table there before it walks, and shows what it found there after; a search
// that is no longer the newest, or whose category, backup or results went away meanwhile,
// shows nothing. The walk reads its own copy of the row list, so it never touches the
// controller's lists, and searchArray is written on the main thread only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "results/result_record.h"

class MzResultViewController;
struct MzIOSDeviceNode;

// The text in the form matched: code points folded to their simple lower case form. Bytes
// that are not valid UTF-8 stay themselves (each as one unit of its own) and match only
// themselves.
std::u32string foldedSearchText(std::string_view utf8);

// Whether `field` contains `foldedText` (from foldedSearchText) ignoring letter case. An
// empty text is found nowhere.
bool searchTextMatches(std::string_view field, std::u32string_view foldedText);

// Whether a record matches the folded text by the two fields of its category; records of
// categories that are not searched never match.
bool recordMatchesSearch(const ResultRecord& record, std::u32string_view foldedText);

// Whether the search walks the records of `category` (conversations, contacts, notes,
// call history, calendar).
bool isSearchableCategory(ResultCategory category);

class MzSearchFilter {
 public:
  // Filters the tables of `results`, which must outlive the filter.
  explicit MzSearchFilter(MzResultViewController& results);
  // Asks a running search to stop and waits for it.
  ~MzSearchFilter();
  MzSearchFilter(const MzSearchFilter&) = delete;
  MzSearchFilter& operator=(const MzSearchFilter&) = delete;

  // The search field's text changed (main thread). "" reopens the category whole and
  // drops any running search; another text starts a search thread in the categories that
  // are searched or emptied by a search. Nothing happens while a scan runs.
  void controlTextDidChange(const std::string& text);

  // Reopens the category being searched (conversations, contacts, call history, notes,
  // calendar or social media) by its opening operation; other categories stay as they are.
  // Main thread.
  void returnOriginTableView();

  // Returns when no search thread runs any more. For callers without an event loop (the
  // command line, tests): a search waiting for the main thread would wait for ever if the
  // main thread waited here.
  void waitForSearch();

  // A search is running / the running search is asked to stop.
  std::atomic<bool> bSearchThreadStart{false};
  std::atomic<bool> bSearchStop{false};

  // For tests: called on the search thread before each record of the walk is looked at,
  // with its index in the list walked.
  std::function<void(std::size_t index)> searchStepHook;

 private:
  struct SearchRun;

  // The body of a search thread (the predecessor has ended).
  void StartSearchThread(SearchRun& run);
  // Takes the rows to walk and empties the current table on the main thread, waiting.
  void initFilterView(SearchRun& run);
  void initFilterViewThreadHandle(SearchRun& run);
  // Shows what the walk found on the main thread, waiting.
  void switchToFiterMainThread(SearchRun& run);
  void ScanFinishOnMainThreadHandle(SearchRun& run);

  // Whether `run` is still the search to show. Called with mutex_ held.
  bool isCurrent(const SearchRun& run) const;
  void reopenCategoryLocked();
  // Bumps the generation, so that any running search becomes stale, and asks it to stop.
  // Called with mutex_ held.
  void retireRunningSearch();

  MzResultViewController& results_;
  // Serialises the main-thread steps with the text changes. Without an event loop these
  // steps run on the search thread itself; with one they run on the main thread anyway.
  mutable std::mutex mutex_;
  std::atomic<std::uint64_t> generation_{0};
  std::thread thread_;  // the newest search thread; it waits for the one before it
};
