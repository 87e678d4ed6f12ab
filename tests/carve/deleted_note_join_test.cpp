#include "carve/deleted_note_join.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace {

std::shared_ptr<MzNoteNode> note(std::int32_t uid, const std::string& title) {
  auto n = std::make_shared<MzNoteNode>();
  n->uid = uid;
  n->noteTitle = title;
  n->noteDate = "date of " + title;
  return n;
}

std::shared_ptr<MzNoteValueNode> body(std::int32_t uid, const std::string& value) {
  auto b = std::make_shared<MzNoteValueNode>();
  b->uid = uid;
  b->noteValue = value;
  return b;
}

TEST(DeletedNotesAssembly, RepeatedIdsAreRaisedAndTheLastRecordOfAnIdWins) {
  // Two records in a row with id 4: the second becomes 5, so the body of 5 gets its title.
  RecordList<MzNoteNode> notes = {note(4, "first"), note(4, "second"), note(9, "nine")};
  RecordList<MzNoteValueNode> bodies = {body(5, "b5"), body(4, "b4"), body(7, "orphan")};
  auto posted = assembleDeletedNotes(notes, bodies);
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0]->noteTitle, "second");
  EXPECT_EQ(posted[0]->noteDate, "date of second");
  EXPECT_EQ(posted[1]->noteTitle, "first");
  EXPECT_EQ(posted[2]->noteTitle, "");  // no record with id 7: body only
  EXPECT_EQ(posted[2]->noteContent, "orphan");
  // The raise stays in the list.
  EXPECT_EQ(notes[1]->uid, 5);

  // A cascade: 4 4 5 becomes 4 5 6; an id 0 at the front becomes 1; a later record of the
  // same id overrides an earlier one.
  RecordList<MzNoteNode> cascade = {note(0, "zero"), note(4, "a"), note(4, "b"),
                                    note(5, "c"),    note(8, "d"), note(4, "late")};
  RecordList<MzNoteValueNode> asks = {body(1, ""), body(6, ""), body(4, ""), body(5, "")};
  posted = assembleDeletedNotes(cascade, asks);
  EXPECT_EQ(posted[0]->noteTitle, "zero");
  EXPECT_EQ(posted[1]->noteTitle, "c");
  EXPECT_EQ(posted[2]->noteTitle, "late");
  EXPECT_EQ(posted[3]->noteTitle, "b");

  // Without bodies nothing is posted and the records stay as they were.
  RecordList<MzNoteNode> untouched = {note(4, "x"), note(4, "y")};
  EXPECT_TRUE(assembleDeletedNotes(untouched, {}).empty());
  EXPECT_EQ(untouched[1]->uid, 4);
}

TEST(DeletedNotesAssembly, IdsFarApartAndAtTheEndsOfTheRange) {
  // Ids past any table indexed by id (large, negative) next to small ones: the last record of
  // an id still wins, and an id no record has finds none, also between and outside the ids.
  RecordList<MzNoteNode> notes = {note(5, "five"),        note(2000000000, "far"),
                                  note(5, "five again"),  note(-7, "negative"),
                                  note(INT32_MAX, "max"), note(INT32_MAX, "wrapped")};
  RecordList<MzNoteValueNode> bodies = {body(5, ""),         body(2000000000, ""), body(-7, ""),
                                        body(INT32_MAX, ""), body(INT32_MIN, ""),  body(6, ""),
                                        body(-8, ""),        body(2000000001, "")};
  auto posted = assembleDeletedNotes(notes, bodies);
  ASSERT_EQ(posted.size(), 8u);
  EXPECT_EQ(posted[0]->noteTitle, "five again");
  EXPECT_EQ(posted[1]->noteTitle, "far");
  EXPECT_EQ(posted[2]->noteTitle, "negative");
  EXPECT_EQ(posted[3]->noteTitle, "max");
  // The repeat of the largest id is raised past it, wrapping as 32-bit addition does.
  EXPECT_EQ(notes[5]->uid, INT32_MIN);
  EXPECT_EQ(posted[4]->noteTitle, "wrapped");
  for (std::size_t k = 5; k < posted.size(); ++k) EXPECT_EQ(posted[k]->noteTitle, "") << k;

  // Close ids (a table by id) with a gap and bodies outside them.
  RecordList<MzNoteNode> close = {note(3, "three"), note(9, "nine"), note(3, "three again")};
  posted = assembleDeletedNotes(close,
                                {body(3, ""), body(9, ""), body(4, ""), body(2, ""), body(10, "")});
  ASSERT_EQ(posted.size(), 5u);
  EXPECT_EQ(posted[0]->noteTitle, "three again");
  EXPECT_EQ(posted[1]->noteTitle, "nine");
  EXPECT_EQ(posted[2]->noteTitle + posted[3]->noteTitle + posted[4]->noteTitle, "");
}

TEST(DeletedNotesAssembly, BodiesAreCleanedAsLiveNotesAre) {
  RecordList<MzNoteNode> notes;
  auto posted = assembleDeletedNotes(notes, {body(1, "<div>Milk&nbsp;2<br></div>a</br><p>b</p>")});
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0]->noteContent, "Milk 2\na\n<p>b</p>");
}

}  // namespace
