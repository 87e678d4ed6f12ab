#include "carve/deleted_notes_scanner.h"

#include <vector>

#include "extract/database_location.h"
#include "extract/device_databases.h"

namespace {

std::vector<DatabaseCandidate> notesCandidates() {
  return {{devicedb::kNotesKey, devicedb::kNotes.domain, devicedb::kNotes.path},
          {devicedb::kNotesSecondKey, devicedb::kNotesSecond.domain, devicedb::kNotesSecond.path}};
}

}  // namespace

void scanDelNoteThread(ScanContext& scan) {
  auto db = openCarveDatabase(scan, notesCandidates(), "NoteDB is not exist");
  if (!db) return;
  carveDeletedNotePages(*db, db->isWalFile(), scan.bIOS7DeviceNode, scan.lists.noteArray,
                        scan.lists.noteValueArray);
  for (auto& note : assembleDeletedNotes(scan.lists.noteArray, scan.lists.noteValueArray)) {
    scan.nc.post("ScanDelNoteInfo", std::move(note));
  }
  scan.postProgress(85);
}
