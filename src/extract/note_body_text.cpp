#include "extract/note_body_text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Every occurrence of `from`, left to right and not overlapping, replaced by `to`; the text
// is built anew in one pass rather than shifted at each replacement.
void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::size_t at = text.find(from);
  if (at == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (; at != std::string::npos; at = text.find(from, done)) {
    out.append(text, done, at - done);
    out += to;
    done = at + from.size();
  }
  out.append(text, done, std::string::npos);
  text = std::move(out);
}

// The first '<' or '&' at or after `at` in `text`, or its size for none: 16 bytes at a time.
std::size_t nextMarkStart(std::string_view text, std::size_t at) {
  const std::size_t n = text.size();
#if defined(__SSE2__)
  const __m128i open = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  for (; at + 16 <= n; at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, open), _mm_cmpeq_epi8(block, amp)));
    if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  while (at < n && text[at] != '<' && text[at] != '&') ++at;
  return at;
}

// The length of the mark of kNoteBodyMarks that begins at `at` (a '<' or '&'), 0 for none,
// and in `becomes` what it becomes ('\0' for the mark that is removed). Spelled out rather
// than looked up in the table: a carve cleans thousands of long bodies.
std::size_t noteMarkAt(std::string_view text, std::size_t at, char& becomes) {
  const std::string_view rest = text.substr(at);
  becomes = '\n';
  if (rest[0] == '&') {
    becomes = ' ';
    return rest.starts_with("&nbsp;") ? 6 : 0;
  }
  if (rest.starts_with("<div><br></div>")) return 15;
  if (rest.starts_with("<div>")) return 5;
  if (rest.starts_with("<br>")) return 4;
  if (rest.starts_with("</br>")) return 5;
  becomes = '\0';
  if (rest.starts_with("</div>")) return 6;
  return 0;
}

// The text without the newlines at its start and end.
std::string withoutOuterNewlines(std::string text) {
  const std::size_t first = text.find_first_not_of('\n');
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of('\n');
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string cleanNoteBody(const std::string& body) {
  // Every mark begins with '<' or '&'.
  if (body.find_first_of("<&") == std::string::npos) return body;
  std::string text = body;
  for (const NoteBodyMark& mark : kNoteBodyMarks) replaceAll(text, mark.text, mark.replacement);
  return withoutOuterNewlines(std::move(text));
}

std::string cleanDeletedNoteBody(const std::string& body) {
  const std::string_view text(body);
  const std::size_t n = text.size();
  std::size_t at = nextMarkStart(text, 0);
  if (at == n) return withoutOuterNewlines(body);
  std::string out;
  out.reserve(n);
  std::size_t copied = 0;  // the body up to here is in `out`
  // Where in `out` the last '<' or '&' that begins no mark stands (or will, once copied).
  std::size_t stray = 0;
  bool anyStray = false;
  while (at < n) {
    char becomes = '\0';
    const std::size_t length = noteMarkAt(text, at, becomes);
    const bool removed = becomes == '\0';
    if (length == 0) {
      stray = out.size() + (at - copied);
      anyStray = true;
      ++at;
    } else {
      out.append(text, copied, at - copied);
      // The five-pass cleaning would see the text on both sides of the removal joined:
      // with a stray '<' or '&' close enough before the join that may be a new mark.
      if (removed && anyStray && out.size() - stray <= 5) return cleanNoteBody(body);
      if (!removed) out += becomes;
      at += length;
      copied = at;
    }
    at = nextMarkStart(text, at);
  }
  out.append(text, copied, std::string_view::npos);
  return withoutOuterNewlines(std::move(out));
}
