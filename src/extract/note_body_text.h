// A note's body as the note list shows it, for the live notes and the carved ones alike.
//
// Notes keeps a body as HTML; the list shows it with the marks below dropped or turned into
// blanks and every other character as it is. Both functions give the same text from one
// table of marks: cleanNoteBody makes one pass per mark, cleanDeletedNoteBody one pass for
// all of them where that gives the same text (a carve posts many bodies, most of them long).
#pragma once

#include <string>
#include <string_view>

// A mark the list's cleaning handles and what it becomes.
struct NoteBodyMark {
  std::string_view text;
  std::string_view replacement;
};

// The marks in the order the cleaning replaces them.
inline constexpr NoteBodyMark kNoteBodyMarks[] = {
    {"<div>", ""}, {"</div>", ""}, {"&nbsp;", " "}, {"<br>", " "}, {"</br>", " "}};

// The body as the note list shows it: "<div>" and "</div>" removed, "&nbsp;", "<br>" and
// "</br>" each replaced by one blank, in that order. No other markup is touched.
std::string cleanNoteBody(const std::string& body);

// cleanNoteBody(body), worked out in one pass over the body where that gives the same text.
// cleanNoteBody makes five passes, one per mark, and a mark removed by an earlier pass can
// join its neighbours into a mark a later pass then finds ("</<div>div>" loses both). Marks
// only begin with '<' or '&', neither of which occurs inside a mark, so the marks of the body
// never overlap and one pass that handles each where it stands gives the same text unless a
// removal ("<div>", "</div>") leaves a '<' or '&' that begins no mark within the five
// characters before the join; such a body is cleaned by cleanNoteBody itself.
std::string cleanDeletedNoteBody(const std::string& body);
