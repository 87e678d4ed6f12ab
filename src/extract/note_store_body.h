// The body of a note of the current Notes store (NoteStore.sqlite, iOS 9 and later).
//
// ZICNOTEDATA.ZDATA holds the note as a gzip stream of a protobuf message; the note's text is
// field 2 (the document), its field 3 (the note), its field 2 (the text). The reader inflates
// the stream with zlib into at most kNoteBodyInflateLimit bytes: a body that would inflate to
// more is refused (TooLarge) and the note is listed with kNoteBodyTooLargeMark in place of its
// text, so that one crafted row cannot make the scan allocate without bound. A blob that is
// not gzip, a stream cut short or damaged, and bytes that do not parse as the message (or
// lack the document or the note) are Unreadable. Protobuf's own nesting limit bounds deep
// nesting. Text that is not valid UTF-8 keeps its valid sequences; each bad byte becomes
// U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

inline constexpr std::size_t kNoteBodyInflateLimit = std::size_t{16} << 20;  // 16 MiB
inline constexpr const char* kNoteBodyTooLargeMark = "[Body too large to show]";

enum class NoteBodyRead { Text, TooLarge, Unreadable };

struct NoteStoreBody {
  NoteBodyRead read = NoteBodyRead::Unreadable;
  std::string text;  // only for Text
};

// Reads `data` with the default limit.
NoteStoreBody readNoteStoreBody(std::span<const std::uint8_t> data);
// The same with an inflate limit of `limit` bytes (no more than kNoteBodyInflateLimit).
NoteStoreBody readNoteStoreBody(std::span<const std::uint8_t> data, std::size_t limit);
