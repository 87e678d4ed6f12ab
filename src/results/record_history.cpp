#include "results/record_history.h"

std::string EarlierVersion::line() const {
  std::string out;
  for (const auto& [label, value] : fields) {
    if (!out.empty()) out += ", ";
    out += label + ": " + value;
  }
  return out;
}

bool RecordHistory::add(const void* live, EarlierVersion version) {
  if (live == nullptr || version.origin.kind != RecordOrigin::Kind::Carved ||
      version.origin.place == RecordOrigin::Place::RecordSignature) {
    return false;
  }
  versions_[live].push_back(std::move(version));
  return true;
}

const std::vector<EarlierVersion>& RecordHistory::of(const void* live) const {
  static const std::vector<EarlierVersion> kNone;
  const auto found = versions_.find(live);
  return found == versions_.end() ? kNone : found->second;
}
