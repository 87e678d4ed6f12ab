// The deleted-contacts step of a scan: carves freed person records and freed multi-value
// records (phones, e-mail addresses, home pages) out of the raw pages of the contacts
// database's private copy, joins the values to their persons by record id and posts each
// recovered contact ("ScanDelContactInfo"), then the progress 75 ("ScanProgressInfo").
//
// Persons are found by four fixed runs of serial-type bytes in their record header; the
// header start, the serial-type count and the record id are worked out backwards from the
// match. Values are found by their first four serial types. Persons whose id cannot be read
// before any id is known are numbered after the largest id read. Values that no person
// claims come back as contacts named "Unknown".
#pragma once

#include "carve/page_walk.h"
#include "extract/scan_context.h"


// The carving on a database already in memory: fills delContactArray,
// delUnKnowContactArray and delContactValueArray of `scan.lists` and posts as above.
void carveDeletedContacts(const CarveDatabase& db, ScanContext& scan);
