#include "carve/deleted_note_join.h"

#include <algorithm>
#include <cstdint>

#include "extract/note_body_text.h"

std::vector<std::shared_ptr<MzNoteNode>> assembleDeletedNotes(
    RecordList<MzNoteNode>& noteArray, const RecordList<MzNoteValueNode>& noteValueArray) {
  std::vector<std::shared_ptr<MzNoteNode>> posted;
  if (noteValueArray.empty()) return posted;
  // The first body's walk raises every id that repeats its predecessor; after it no two
  // neighbours are equal and no id is 0 at the front, so the walks of later bodies change
  // nothing and the last record of each id is the one every body takes. The raise of the
  // largest id wraps to the smallest, as the device's 32-bit addition does.
  std::int32_t previous = 0;
  std::int32_t high = -1;
  for (const auto& note : noteArray) {
    if (note->uid == previous) {
      note->uid = static_cast<std::int32_t>(static_cast<std::uint32_t>(note->uid) + 1u);
    }
    previous = note->uid;
    high = std::max(high, note->uid);
  }
  // The last record of each id: a table indexed by the id for the ids from 0 up to a few
  // times the record count (primary keys are counted from 1), the records sorted by id for
  // the others (ids read from damaged or foreign bytes).
  const std::int64_t tableSize = std::min<std::int64_t>(
      std::int64_t{high} + 1, 4 * static_cast<std::int64_t>(noteArray.size()) + 4096);
  std::vector<const MzNoteNode*> byId(static_cast<std::size_t>(tableSize), nullptr);
  std::vector<const MzNoteNode*> others;
  for (const auto& note : noteArray) {
    if (note->uid >= 0 && note->uid < tableSize) {
      byId[static_cast<std::size_t>(note->uid)] = note.get();
    } else {
      others.push_back(note.get());
    }
  }
  std::stable_sort(others.begin(), others.end(),
                   [](const MzNoteNode* a, const MzNoteNode* b) { return a->uid < b->uid; });
  auto lastWithId = [&](std::int32_t uid) -> const MzNoteNode* {
    if (uid >= 0 && uid < tableSize) return byId[static_cast<std::size_t>(uid)];
    auto it = std::upper_bound(others.begin(), others.end(), uid,
                               [](std::int32_t id, const MzNoteNode* n) { return id < n->uid; });
    return it != others.begin() && (*(it - 1))->uid == uid ? *(it - 1) : nullptr;
  };
  posted.reserve(noteValueArray.size());
  for (const auto& body : noteValueArray) {
    auto note = std::make_shared<MzNoteNode>();
    if (const MzNoteNode* known = lastWithId(body->uid)) {
      note->noteDate = known->noteDate;
      note->noteTitle = known->noteTitle;
    }
    note->noteContent = cleanDeletedNoteBody(body->noteValue);
    // The note is its body's record: it was found where the body was.
    note->origin = body->origin;
    posted.push_back(std::move(note));
  }
  return posted;
}
