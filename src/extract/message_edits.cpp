#include "extract/message_edits.h"

#include "catalogue/plist_file.h"
#include "extract/typedstream.h"

namespace {

// The summary of one message is small; anything much larger is not one.
constexpr std::size_t kMaxSummaryBytes = 1024 * 1024;

}  // namespace

MessageEdits messageEdits(const std::uint8_t* blob, std::size_t size) {
  MessageEdits edits;
  if (blob == nullptr || size == 0 || size > kMaxSummaryBytes) return edits;
  const std::optional<PlistValue> summary = parsePlist(blob, size);
  const PlistDict* dict = summary ? summary->asDict() : nullptr;
  if (dict == nullptr) return edits;
  if (auto it = dict->find("rp"); it != dict->end()) {
    const PlistArray* parts = it->second.asArray();
    edits.retracted = parts != nullptr && !parts->empty();
  }
  const PlistDict* edited = plistDict(*dict, "ec");
  if (edited == nullptr || edited->empty()) return edits;
  // The first part in key order; a message of one part has only "0".
  const PlistArray* versions = edited->begin()->second.asArray();
  if (versions == nullptr) return edits;
  for (const PlistValue& version : *versions) {
    const PlistDict* entry = version.asDict();
    if (entry == nullptr) continue;
    auto body = entry->find("t");
    if (body == entry->end()) continue;
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&body->second.value);
    if (bytes == nullptr) continue;
    if (auto text = attributedBodyText(bytes->data(), bytes->size())) {
      edits.versions.push_back(std::move(*text));
    }
  }
  return edits;
}
