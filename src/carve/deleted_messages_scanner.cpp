#include "carve/deleted_messages_scanner.h"

void scanDelMessageThread(ScanContext&) {}
