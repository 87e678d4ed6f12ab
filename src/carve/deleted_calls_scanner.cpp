#include "carve/deleted_calls_scanner.h"

void scanDelCallHistoryThread(ScanContext&) {}
