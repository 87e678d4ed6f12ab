#include "extract/record_origin.h"

RecordOrigin RecordOrigin::live(std::string file, std::string table, std::int64_t rowid) {
  RecordOrigin origin;
  origin.kind = Kind::Live;
  origin.file = std::move(file);
  origin.table = std::move(table);
  origin.rowid = rowid;
  return origin;
}

RecordOrigin RecordOrigin::carved(std::string file, std::int64_t page, std::int64_t offset,
                                  Place place) {
  RecordOrigin origin;
  origin.kind = Kind::Carved;
  origin.file = std::move(file);
  origin.page = page;
  origin.offset = offset;
  origin.place = place;
  return origin;
}

RecordOrigin RecordOrigin::logFrame(std::string file, std::int64_t page, std::int64_t offset,
                                    std::int64_t frame, std::int64_t commit, bool badChecksum) {
  RecordOrigin origin = carved(std::move(file), page, offset, Place::LogFrame);
  origin.frame = frame;
  origin.commit = commit;
  origin.badChecksum = badChecksum;
  return origin;
}

const char* placeName(RecordOrigin::Place place) {
  using Place = RecordOrigin::Place;
  switch (place) {
    case Place::None:
      return "";
    case Place::Freeblock:
      return "freeblock";
    case Place::Unallocated:
      return "unallocated";
    case Place::Freelist:
      return "freelist";
    case Place::BeyondBtree:
      return "beyond b-tree";
    case Place::Overflow:
      return "overflow";
    case Place::LogFrame:
      return "log frame";
    case Place::Journal:
      return "journal";
    case Place::RecordSignature:
      return "record signature";
    case Place::SupersededByLog:
      return "superseded by the log";
  }
  return "";
}

std::string placeText(const RecordOrigin& origin) {
  if (origin.place != RecordOrigin::Place::LogFrame) return placeName(origin.place);
  std::string text = "log frame " + std::to_string(origin.frame);
  if (origin.commit > 0) text += " of commit " + std::to_string(origin.commit);
  if (origin.badChecksum) text += ", bad checksum";
  return text;
}

namespace {

std::string liveText(const RecordOrigin& o) {
  std::string text = o.rowid >= 0 ? "live row " + std::to_string(o.rowid) : "live record";
  if (!o.table.empty()) text += " of " + o.table;
  if (!o.file.empty()) text += " in " + o.file;
  return text;
}

std::string carvedText(const RecordOrigin& o) {
  std::string text = "carved";
  if (!o.file.empty()) text += " from " + o.file;
  if (o.page > 0) text += (o.file.empty() ? " from page " : ", page ") + std::to_string(o.page);
  if (o.offset >= 0) text += ", offset " + std::to_string(o.offset);
  if (const std::string place = placeText(o); !place.empty()) text += " (" + place + ")";
  return text;
}

}  // namespace

std::string originText(const RecordOrigin& origin) {
  switch (origin.kind) {
    case RecordOrigin::Kind::None:
      return "";
    case RecordOrigin::Kind::Live:
      return liveText(origin);
    case RecordOrigin::Kind::Carved:
      return carvedText(origin);
  }
  return "";
}

std::vector<std::pair<std::string, OriginValue>> originFields(const RecordOrigin& o) {
  std::vector<std::pair<std::string, OriginValue>> fields;
  if (!o.known()) return fields;
  const bool live = o.kind == RecordOrigin::Kind::Live;
  fields.emplace_back("kind", std::string(live ? "live" : "carved"));
  if (!o.file.empty()) fields.emplace_back("file", o.file);
  if (live) {
    if (!o.table.empty()) fields.emplace_back("table", o.table);
    if (o.rowid >= 0) fields.emplace_back("rowid", o.rowid);
    return fields;
  }
  if (o.page > 0) fields.emplace_back("page", o.page);
  if (o.offset >= 0) fields.emplace_back("offset", o.offset);
  if (o.place != RecordOrigin::Place::None) {
    fields.emplace_back("place", std::string(placeName(o.place)));
  }
  if (o.place == RecordOrigin::Place::LogFrame) {
    fields.emplace_back("frame", o.frame);
    fields.emplace_back("commit", o.commit);
    fields.emplace_back("badChecksum", o.badChecksum);
  }
  return fields;
}
