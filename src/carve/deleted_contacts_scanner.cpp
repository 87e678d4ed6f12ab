#include "carve/deleted_contacts_scanner.h"

void scanDelContactThread(ScanContext&) {}
