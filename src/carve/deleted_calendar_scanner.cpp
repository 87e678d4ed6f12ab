#include "carve/deleted_calendar_scanner.h"

void ScanDelCalenderThread(ScanContext&) {}
