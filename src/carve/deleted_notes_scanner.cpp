#include "carve/deleted_notes_scanner.h"

void scanDelNoteThread(ScanContext&) {}
