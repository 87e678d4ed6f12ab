#include "carve/deleted_notes_scanner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/carve_steps.h"
#include "extract/device_databases.h"
#include "notes_volume.h"
#include "support/note_rows.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using fixtures::PageImage;
using note_rows::bodyRow;
using note_rows::noteRow;
using note_rows::placeRecords;

constexpr int kPageSize = 1024;

TEST(DeletedNotesStep, PostsOneNotePerBodyThenProgress85) {
  TempDir tmp;
  const std::string folder = tmp.sub("backup");
  std::filesystem::create_directories(folder);
  PageImage image(kPageSize, 3, true);
  placeRecords(image, 1, 200, {noteRow(5, std::int64_t{386245844}, "Shopping", "Milk")});
  placeRecords(image, 2, 100, {bodyRow(5, "Shopping<div>Milk</div><div>Eggs&nbsp;x2<br></div>")});
  // The second file key (notes.db) is used when the first has no file.
  ASSERT_TRUE(
      fixtures::writeImageDatabase(folder + "/" + devicedb::kNotesSecondKey, image, kPageSize));
  StepHarness step(folder);
  std::vector<std::shared_ptr<MzNoteNode>> posted;
  std::vector<std::int32_t> progress;
  step.center.addObserver("ScanDelNoteInfo", [&](const std::any& o) {
    posted.push_back(std::any_cast<std::shared_ptr<MzNoteNode>>(o));
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    progress.push_back(std::any_cast<std::int32_t>(o));
  });
  step.run(scanDelNoteThread);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0]->noteTitle, "Shopping");
  EXPECT_EQ(posted[0]->noteContent, "Shopping\nMilk\nEggs x2");
  EXPECT_EQ(progress, std::vector<std::int32_t>{85});
  EXPECT_EQ(step.lists.noteArray.size(), 1u);
  EXPECT_EQ(step.lists.noteValueArray.size(), 1u);
  EXPECT_TRUE(step.logged.empty());
}

TEST(DeletedNotesStep, MissingDatabaseLogsAndPostsNothing) {
  TempDir tmp;
  std::filesystem::create_directories(tmp.sub("empty"));
  StepHarness step(tmp.sub("empty"));
  int notifications = 0;
  step.center.addObserver("ScanDelNoteInfo", [&](const std::any&) { ++notifications; });
  step.center.addObserver("ScanProgressInfo", [&](const std::any&) { ++notifications; });
  step.run(scanDelNoteThread);
  EXPECT_EQ(notifications, 0);
  EXPECT_EQ(step.logged, std::vector<std::string>{"NoteDB is not exist"});
}

}  // namespace
