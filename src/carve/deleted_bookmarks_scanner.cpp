#include "carve/deleted_bookmarks_scanner.h"

void ScanDelBookMarkThread(ScanContext&) {}
