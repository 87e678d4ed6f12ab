// How much of what an owner deleted the note and bookmark carvers bring back, per device
// generation and database make-up, measured against the fixture builder's truth.
//
// For every case the builder writes notes.sqlite and Bookmarks.db from a generated
// description (notes_volume.h) with 30% of the items deleted; the carvers run on the files
// as the scan step sees them (after the private copy is switched to write-ahead logging,
// so the write-ahead note layouts) and, for notes, also with the layout the file's own
// header selects. A deleted note counts as recovered when a posted note carries its body
// (cleaned as the live scanner cleans it); its title is counted where the note record was
// carved too. A deleted bookmark counts when a posted bookmark has its title and URL.
// Posted records that match no row at all, deleted or live, are counted as noise.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "carve/deleted_bookmarks_scanner.h"
#include "carve/deleted_notes_scanner.h"
#include "device_builders.h"
#include "extract/notes_scanner.h"
#include "fixture_support.h"
#include "notes_volume.h"

namespace {

using nlohmann::json;

// What a case reaches (of 18 deleted notes and 18 deleted bookmarks), asserted as floors
// for the recovered counts and as a ceiling for the notes that match no row.
struct Case {
  int generation;
  int schemaFormat;
  const char* journal;  // of both databases
  int minBodies;
  int minTitles;
  int maxNoteNoise;
  int minBookmarks;
  int notes = 60;
};

struct Built {
  std::vector<std::uint8_t> notes;
  std::vector<std::uint8_t> bookmarks;
  json truth;
};

Built build(const Case& c) {
  fixtures::NotesBookmarksVolume volume;
  volume.generation = c.generation;
  volume.notes = c.notes;
  volume.bookmarks = 60;
  volume.seed = static_cast<std::uint64_t>(c.generation * 10 + c.schemaFormat);
  volume.schemaFormat = c.schemaFormat;
  volume.notesJournal = c.journal;
  volume.bookmarksJournal = c.journal;
  Built built;
  // Only the two builders of these databases: the rest of a backup plays no part here.
  const json description = fixtures::notesBookmarksDescription(volume);
  fixtures::ScratchFolder scratch;
  fixtures::FixtureBuild fixture(description, c.generation, scratch.path());
  EXPECT_TRUE(fixtures::buildNotes(fixture) && fixtures::buildSafari(fixture)) << fixture.error();
  built.truth = fixture.truth();
  for (auto& file : fixture.files()) {
    if (file.path == "Library/Notes/notes.sqlite") built.notes = file.content;
    if (file.path == "Library/Safari/Bookmarks.db") built.bookmarks = file.content;
  }
  return built;
}

struct Recall {
  int deleted = 0;
  int recovered = 0;
  int titled = 0;  // notes: recovered with the right title as well
  int noise = 0;
  int posted = 0;
  std::vector<std::string> noiseShown;  // notes: what each noise record holds
};

// A text for the log: control bytes as \xNN, cut after 60 bytes.
std::string printable(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < 60; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return text.size() > 60 ? out + "..." : out;
}

Recall noteRecall(const json& truth, const std::vector<std::shared_ptr<MzNoteNode>>& posted) {
  Recall r;
  r.posted = static_cast<int>(posted.size());
  std::set<std::string> allBodies;
  for (const json& note : truth["notes"]) allBodies.insert(cleanNoteBody(note["body"]));
  for (const json& note : truth["notes"]) {
    if (!note["deleted"].get<bool>()) continue;
    ++r.deleted;
    const std::string body = cleanNoteBody(note["body"]);
    bool found = false;
    bool titled = false;
    for (const auto& p : posted) {
      if (p->noteContent != body) continue;
      found = true;
      titled = titled || p->noteTitle == note["title"].get<std::string>();
    }
    r.recovered += found ? 1 : 0;
    r.titled += titled ? 1 : 0;
  }
  for (const auto& p : posted) {
    if (allBodies.count(p->noteContent) != 0) continue;
    ++r.noise;
    r.noiseShown.push_back("title \"" + printable(p->noteTitle) + "\", body \"" +
                           printable(p->noteContent) + "\"");
  }
  return r;
}

Recall bookmarkRecall(const json& truth,
                      const std::vector<std::shared_ptr<MzBookMarkNode>>& carved) {
  Recall r;
  std::set<std::pair<std::string, std::string>> all;
  for (const json& b : truth["bookmarks"]) {
    all.insert({b["title"].get<std::string>(), b.value("url", std::string())});
  }
  std::vector<std::shared_ptr<MzBookMarkNode>> posted;
  for (const auto& b : carved) {
    if (!isTopBookmarkFolder(*b)) posted.push_back(b);
  }
  r.posted = static_cast<int>(posted.size());
  for (const json& b : truth["bookmarks"]) {
    if (!b["deleted"].get<bool>()) continue;
    ++r.deleted;
    const std::string title = b["title"];
    const std::string url = b.value("url", std::string());
    for (const auto& p : posted) {
      if (p->bookMarkTitle == title && p->bookMarkURL == url) {
        ++r.recovered;
        break;
      }
    }
  }
  for (const auto& p : posted) r.noise += all.count({p->bookMarkTitle, p->bookMarkURL}) ? 0 : 1;
  return r;
}

std::string share(int part, int whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%d/%d (%.0f%%)", part, whole,
                whole == 0 ? 0.0 : 100.0 * part / whole);
  return text;
}

class NotesBookmarksRecall : public testing::TestWithParam<Case> {};

TEST_P(NotesBookmarksRecall, DeletedRowsRecoveredPerGenerationAndMakeUp) {
  const Case c = GetParam();
  const Built built = build(c);
  ASSERT_FALSE(built.notes.empty());
  ASSERT_FALSE(built.bookmarks.empty());

  const auto notesDb = CarveDatabase::fromImage(DatabaseImage(built.notes));
  // As the step runs: the private copy is in write-ahead mode.
  RecordList<MzNoteNode> notes;
  RecordList<MzNoteValueNode> bodies;
  carveDeletedNotePages(notesDb, true, c.generation >= 7, notes, bodies);
  const Recall stepNotes = noteRecall(built.truth, assembleDeletedNotes(notes, bodies));
  // With the layout the device's own header selects.
  RecordList<MzNoteNode> headerNotes;
  RecordList<MzNoteValueNode> headerBodies;
  carveDeletedNotePages(notesDb, notesDb.isWalFile(), c.generation >= 7, headerNotes, headerBodies);
  const Recall ownNotes = noteRecall(built.truth, assembleDeletedNotes(headerNotes, headerBodies));

  const Recall marks = bookmarkRecall(
      built.truth, carveDeletedBookmarks(CarveDatabase::fromImage(DatabaseImage(built.bookmarks))));

  std::printf(
      "[recall] iOS %d, schema format %d, %s journal\n"
      "  notes (step, write-ahead layouts): bodies %s, with title %s, noise %d of %d posted\n"
      "  notes (layout of the file's header): bodies %s, with title %s, noise %d of %d posted\n"
      "  bookmarks: title and URL %s, noise %d of %d posted\n",
      c.generation, c.schemaFormat, c.journal,
      share(stepNotes.recovered, stepNotes.deleted).c_str(),
      share(stepNotes.titled, stepNotes.deleted).c_str(), stepNotes.noise, stepNotes.posted,
      share(ownNotes.recovered, ownNotes.deleted).c_str(),
      share(ownNotes.titled, ownNotes.deleted).c_str(), ownNotes.noise, ownNotes.posted,
      share(marks.recovered, marks.deleted).c_str(), marks.noise, marks.posted);
  for (const std::string& shown : stepNotes.noiseShown) std::printf("  noise: %s\n", shown.c_str());

  ASSERT_GT(stepNotes.deleted, 0);
  ASSERT_GT(marks.deleted, 0);
  EXPECT_GE(stepNotes.recovered, c.minBodies);
  EXPECT_GE(stepNotes.titled, c.minTitles);
  EXPECT_LE(stepNotes.noise, c.maxNoteNoise);
  // Bookmark records are read at the width a live first cell shows (21 columns on iOS 5
  // and 6, 29 on iOS 7) in the free space of table leaf and interior pages and in freelist
  // pages; a carved record is checked as text and address, so none matches no row at all.
  // Stale copies of live rows are carved too (the results drop those already filed).
  EXPECT_GE(marks.recovered, c.minBookmarks);
  EXPECT_EQ(marks.noise, 0);
  RecordProperty("notes_recovered", stepNotes.recovered);
  RecordProperty("bookmarks_recovered", marks.recovered);
}

INSTANTIATE_TEST_SUITE_P(
    Generations, NotesBookmarksRecall,
    // Schema format 4 stores the zeros and ones of the integer columns without a body
    // (serial types 8 and 9); the layouts take that form where the header says so. The
    // bodies not found on format 4 stores are gone from the file (overwritten by later
    // cells, or on freelist pages), and a body whose text was cut by a later cell is
    // posted empty with its note's title: noise to this count.
    testing::Values(Case{5, 1, "legacy", 14, 5, 1, 13}, Case{6, 1, "legacy", 15, 4, 1, 14},
                    Case{6, 4, "legacy", 18, 8, 0, 18}, Case{7, 1, "wal", 18, 17, 0, 18},
                    Case{7, 4, "wal", 11, 11, 2, 16}, Case{7, 1, "legacy", 18, 17, 0, 18},
                    Case{7, 4, "legacy", 11, 11, 2, 16},
                    // Owners with more than 127 notes: from the 128th note on the body's
                    // owner id is a two-byte integer, which the body layout takes as well.
                    Case{7, 1, "wal", 31, 30, 1, 18, 200}, Case{7, 4, "wal", 44, 30, 4, 16, 200}),
    [](const testing::TestParamInfo<Case>& info) {
      return "iOS" + std::to_string(info.param.generation) + "Format" +
             std::to_string(info.param.schemaFormat) + info.param.journal +
             std::to_string(info.param.notes) + "Notes";
    });

}  // namespace
