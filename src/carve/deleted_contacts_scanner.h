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

#include <cstdint>
#include <functional>
#include <memory>

#include "carve/page_walk.h"
#include "extract/scan_lists.h"

// What the carver hands on: each recovered contact, and the progress when it is done.
struct DelContactSink {
  std::function<void(const std::shared_ptr<MzContactNode>&)> post;
  std::function<void(std::int32_t)> progress;
};

// The carving on a database already in memory, of the iOS 7 record layout when `iOS7`:
// fills delContactArray, delUnKnowContactArray and delContactValueArray of `lists` and
// hands each contact and the progress to `sink`.
void carveDeletedContacts(const CarveDatabase& db, bool iOS7, ScanLists& lists,
                          const DelContactSink& sink);
