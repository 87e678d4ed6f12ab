#include "carve/record_blocks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "extract/item_records.h"

namespace {

// Records from blocks start as a record made alone starts, are apart from each other, and
// outlive every other record of their block and the maker itself; records released on
// another thread than the maker's free their blocks too (the sanitizer build checks that
// nothing is freed early or leaked).
TEST(RecordBlocks, RecordsAreWholeRecordsWhateverOutlivesWhat) {
  std::vector<std::shared_ptr<MzCallHistoryNode>> kept;
  std::shared_ptr<MzCallHistoryNode> alone;
  {
    carve::RecordBlocks<MzCallHistoryNode, 4> blocks;
    for (int i = 0; i < 11; ++i) {
      auto call = blocks.make();
      const MzCallHistoryNode fresh;
      EXPECT_EQ(call->callName, fresh.callName);
      EXPECT_EQ(call->callTime, fresh.callTime);
      EXPECT_TRUE(call->callPhone.empty() && call->callDate.empty());
      EXPECT_FALSE(call->bSelected || call->bDeleted);
      call->callPhone = "+4670555" + std::to_string(1000 + i) + " and a text past the inline size";
      call->callTime = i;
      if (i == 5) {
        alone = call;
      } else {
        kept.push_back(call);
      }
    }
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const int number = static_cast<int>(i < 5 ? i : i + 1);
    EXPECT_EQ(kept[i]->callTime, number);
    EXPECT_EQ(kept[i]->callPhone.substr(0, 12), "+4670555" + std::to_string(1000 + number));
  }
  std::thread([moved = std::move(kept)]() mutable { moved.clear(); }).join();
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->callTime, 5);
  EXPECT_EQ(alone->callPhone.substr(0, 12), "+46705551005");
}

}  // namespace
