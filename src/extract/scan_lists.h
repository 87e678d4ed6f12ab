// The lists one scan's steps share. Created empty when a scan starts and released when it
// ends; the lists of one scan are never shared with the next.
#pragma once

#include <memory>
#include <vector>

#include "base/bytes.h"
#include "catalogue/tree_dir_node.h"
#include "extract/item_records.h"

class NameLookup;

template <typename T>
using RecordList = std::vector<std::shared_ptr<T>>;

struct ScanLists {
  FileIndex treeFileArray;
  RecordList<MzContactImageNode> contactImageArray;
  RecordList<MzContactNode> contactArray;
  RecordList<MzMessageAttachNode> meesageAttachArray;
  RecordList<MzChatMessageNode> chatMessageArray;
  RecordList<MzMessageNode> messageArray;
  RecordList<MzBookMarkNode> bookMarkArray;
  RecordList<MzNoteNode> noteArray;
  RecordList<MzNoteValueNode> noteValueArray;
  RecordList<MzContactNode> contactInfoArray;
  RecordList<MzContactNode> delContactArray;
  RecordList<DelContactValue> delContactValueArray;
  RecordList<MzContactNode> delUnKnowContactArray;
  Bytes messageContactData;  // the picture found by the last name lookup with picture
  // Names by phone number over contactArray, made on first use (extract/name_lookup.h).
  std::shared_ptr<NameLookup> nameLookup;
};
