// The deleted-bookmarks step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
#pragma once

#include "extract/scan_context.h"

void ScanDelBookMarkThread(ScanContext& scan);
