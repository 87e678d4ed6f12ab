// A note's body as text, for the live notes and the carved ones alike.
//
// Notes keeps a body as HTML: the first line as text, each further line in a <div>, an
// empty line as "<div><br></div>", a line break inside a line as <br>. The text keeps those
// lines: each mark below becomes what the table says, every other character stays as it is,
// and the newlines the marks leave at the very start and end are dropped. Both functions
// give the same text from one table of marks: cleanNoteBody makes one pass per mark,
// cleanDeletedNoteBody one pass for all of them where that gives the same text (a carve
// posts many bodies, most of them long).
#pragma once

#include <string>
#include <string_view>

// A mark the cleaning handles and what it becomes.
struct NoteBodyMark {
  std::string_view text;
  std::string_view replacement;
};

// The marks in the order the cleaning replaces them. An empty line comes first, so that its
// <div> and <br> make one line break rather than two.
inline constexpr NoteBodyMark kNoteBodyMarks[] = {
    {"<div><br></div>", "\n"}, {"<div>", "\n"}, {"</div>", ""},
    {"&nbsp;", " "},           {"<br>", "\n"},  {"</br>", "\n"}};

// The body as text: each mark of kNoteBodyMarks replaced in that order, one pass per mark,
// then the newlines at the start and the end dropped. No other markup is touched.
std::string cleanNoteBody(const std::string& body);

// cleanNoteBody(body), worked out in one pass over the body where that gives the same text.
// cleanNoteBody makes a pass per mark, and the one mark that is removed ("</div>") can join
// its neighbours into a mark a later pass then finds ("<</div>br>" becomes a line break).
// Marks only begin with '<' or '&', neither of which occurs inside a mark, so the marks of
// the body never overlap and one pass that handles each where it stands gives the same text
// unless that removal leaves a '<' or '&' that begins no mark within the five characters
// before the join; such a body is cleaned by cleanNoteBody itself.
std::string cleanDeletedNoteBody(const std::string& body);
