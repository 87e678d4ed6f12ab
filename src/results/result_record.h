// The rows of the results: one record of any category, as a category table or thumbnail
// grid shows it, and the categories themselves.
#pragma once

#include <cstddef>
#include <memory>
#include <variant>
#include <vector>

#include "extract/item_records.h"
#include "extract/scan_lists.h"

// The categories, in the order of their buttons.
enum class ResultCategory {
  Photo,  // camera-roll (and cloud-folder) photos and videos
  Contact,
  Message,  // the conversation list
  Note,
  CallHistory,
  BookMark,
  Calender,
  FaceTwitter,
  BackUpBrowser,
  AppPhoto,  // other applications' photos and videos
};

// One row. Rows of one table always hold the same alternative.
using ResultRecord =
    std::variant<std::shared_ptr<MzPhotoAndVideoNode>, std::shared_ptr<MzContactNode>,
                 std::shared_ptr<MzMessageTreeNode>, std::shared_ptr<MzNoteNode>,
                 std::shared_ptr<MzCallHistoryNode>, std::shared_ptr<MzBookMarkNode>,
                 std::shared_ptr<MzCalenderNode>, std::shared_ptr<MzFaceTwitterNode>>;
using ResultRows = std::vector<ResultRecord>;

// The record's tick; a null record is never ticked.
bool isSelected(const ResultRecord& record);
// Sets the record's tick; returns whether it changed (a null record never changes).
bool setSelected(const ResultRecord& record, bool selected);
// Whether the record was carved from free space (for a conversation: opened by a deleted
// message). Media and social-media records are never deleted.
bool isDeletedRecord(const ResultRecord& record);

// A list of records of one category as rows, in list order.
template <typename T>
ResultRows toRows(const RecordList<T>& list) {
  ResultRows rows;
  rows.reserve(list.size());
  for (const auto& r : list) rows.emplace_back(r);
  return rows;
}
