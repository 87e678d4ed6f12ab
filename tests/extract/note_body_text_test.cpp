#include "extract/note_body_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(NoteBody, LinesStayLinesNothingElseIsTouched) {
  // Each <div> a line, an empty line one line break, <br> a break inside a line.
  EXPECT_EQ(cleanNoteBody("Shopping<div>Milk</div><div>Eggs&nbsp;x2<br></div>"),
            "Shopping\nMilk\nEggs x2");
  EXPECT_EQ(cleanNoteBody("<div>Trip</div><div><br></div><div>Pack the tent</div>"),
            "Trip\n\nPack the tent");
  EXPECT_EQ(cleanNoteBody("a</br>b<br>c&nbsp;&nbsp;d"), "a\nb\nc  d");
  // One mark after the other: a mark formed by removing "</div>" is replaced by a later
  // mark's pass ("<" + "br>" becomes a break), not by an earlier one ("<di" + "v>" stays).
  EXPECT_EQ(cleanNoteBody("a<</div>br>x<di</div>v>"), "a\nx<div>");
  EXPECT_EQ(cleanNoteBody("plain text, no marks"), "plain text, no marks");
  // Other markup and entities stay as the device wrote them.
  EXPECT_EQ(cleanNoteBody("<p>x &amp; y</p><br/><DIV>z</DIV>"),
            "<p>x &amp; y</p><br/><DIV>z</DIV>");
  EXPECT_EQ(cleanNoteBody("<div><br></div>"), "");
  EXPECT_EQ(cleanNoteBody(""), "");
}

TEST(DeletedNotesAssembly, OnePassCleaningGivesTheTextOfAPassPerMark) {
  const std::string cases[] = {
      "",
      "plain text, no marks",
      "<div>Milk&nbsp;2<br></div>a</br><p>b</p>",
      "<div><div><br></div>",
      "<div<div><br></div></div>",
      "<div><br></div><br></div>",
      "<div><div></div></div><br><br>&nbsp;&nbsp;",
      "a < b & c > d",  // strays far from any removal
      "<div>x</div>&amp;<br>",
      // A removal joins its neighbours into a mark of a later pass.
      "</<div>div>",
      "<<div>br>",
      "<</div>/br>",
      "&<div>nbsp;",
      "&n<div>bsp;",
      "<b<div>r>",
      "</</div>br>",
      "<<div><div>/div>",
      "<</div>br>",
      "&nbsp<div>;",  // the join five characters after the stray
      "</div<div>>",
      "</br<div>>",
      // ... or into the mark of its own pass, which that pass does not look at again.
      "<di<div>v>",
      "</di</div>v>",
      // Strays next to a removal that join nothing.
      "<<div>x",
      "&<div>amp;",
      "x<</div>",
      "<div><",
      "&",
      "<",
      "<div",
      "&nbsp",
      "</br",
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(cleanDeletedNoteBody(text), cleanNoteBody(text)) << text;
  }
  // Random texts over the marks' characters and a few others.
  const std::string alphabet = "<>/divbrnsp&;x <";
  std::uint64_t state = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const int length = static_cast<int>((state >> 33) % 24);
    for (int k = 0; k < length; ++k) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      const auto pick = (state >> 33) % (alphabet.size() + 6);
      // Whole marks now and then, so that they meet each other and the strays.
      const char* marks[] = {"<div>", "</div>", "&nbsp;", "<br>", "</br>", "<div><br></div>"};
      if (pick >= alphabet.size()) {
        text += marks[pick - alphabet.size()];
      } else {
        text += alphabet[pick];
      }
    }
    ASSERT_EQ(cleanDeletedNoteBody(text), cleanNoteBody(text)) << text;
  }
}

}  // namespace
