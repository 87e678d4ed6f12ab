// The bookmarks step of a scan: one MzBookMarkNode per Safari bookmark (folders and
// reading-list entries included, the two top folder rows "Root" and
// "com.apple.ReadingList" left out; the entries of the reading list have the kind "Reading
// list"), then the five bookmarks every device ships with, then one per entry of the
// browser history.
//
// The bookmarks are Bookmarks.db (else Bookmarks.plist) and the history History.plist, each
// found by its file key or by its device path in the file index (iOS 7 keeps History.plist
// in AppDomain-com.apple.mobilesafari). The history of later devices is History.db, in
// AppDomain-com.apple.mobilesafari or else HomeDomain, its entries of the kind "History". Without a
// bookmarks file the step posts nothing; the default bookmarks are posted whenever one exists, even
// when it cannot be read. Posts "scanBookMarkInfo" per record and no progress value. A missing
// history logs "bookMarkPlistPath not find". Reads a private copy of the database, never the backup
// folder.
#pragma once

#include <string>
#include <vector>

#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanBookMarkThread(ScanContext& scan);

struct DefaultBookmark {
  const char* title;
  const char* url;
};

// The device's default bookmarks in the order they are posted.
const std::vector<DefaultBookmark>& defaultBookmarks();
