#include "results/result_record.h"

#include <type_traits>

bool isSelected(const ResultRecord& record) {
  return std::visit([](const auto& r) { return r != nullptr && r->bSelected; }, record);
}

bool setSelected(const ResultRecord& record, bool selected) {
  return std::visit(
      [selected](const auto& r) {
        if (r == nullptr || r->bSelected == selected) return false;
        r->bSelected = selected;
        return true;
      },
      record);
}

bool isDeletedRecord(const ResultRecord& record) {
  return std::visit(
      [](const auto& r) {
        using T = std::decay_t<decltype(*r)>;
        if (r == nullptr) return false;
        if constexpr (std::is_same_v<T, MzMessageTreeNode>) {
          return r->bdeleted;
        } else if constexpr (std::is_same_v<T, MzPhotoAndVideoNode> ||
                             std::is_same_v<T, MzFaceTwitterNode>) {
          return false;
        } else {
          return r->bDeleted;
        }
      },
      record);
}
