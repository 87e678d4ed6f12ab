// The earlier versions of live records.
//
// A record the schema-aware carver recovered whose key fields equal those of a live record
// is no deleted record: it is an earlier version of that live record (a row rewritten in
// place, or kept in an older frame of the log), differing from it in fields the key leaves
// out. It is not shown in the deleted list; it is kept here, under the live record, with the
// place it was carved from, so that the live record's detail pane can show its history.
// Records the signature carvers found are not kept: those carvers also read the live cells
// themselves, so a match with a live record is mostly the live row read again.
//
// Entries are keyed by the live record's address: the history is to be cleared whenever the
// lists holding those records are.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "extract/record_origin.h"

struct EarlierVersion {
  // The fields that have a value, labelled and ordered as the record's text export gives
  // them: {"Phone", "+46 70 555 12 34"}.
  std::vector<std::pair<std::string, std::string>> fields;
  RecordOrigin origin;

  // The fields on one line: "Phone: +46 70 555 12 34, Email: anna@example.se".
  std::string line() const;
};

class RecordHistory {
 public:
  // Keeps `version` under `live` when it was carved by the schema-aware carver (a carved
  // origin with another place than "record signature"); returns whether it was kept.
  bool add(const void* live, EarlierVersion version);
  // The earlier versions of `live`, oldest filed first; empty when it has none.
  const std::vector<EarlierVersion>& of(const void* live) const;
  void clear() { versions_.clear(); }

 private:
  std::unordered_map<const void*, std::vector<EarlierVersion>> versions_;
};
