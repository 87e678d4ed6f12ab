#include "extract/record_origin.h"

#include <gtest/gtest.h>

namespace {

using Fields = std::vector<std::pair<std::string, OriginValue>>;

// What is known is said, what is not is left out; a record without an origin says nothing.
TEST(RecordOrigin, TextAndFieldsSayWhatIsKnownOnly) {
  EXPECT_EQ(originText(RecordOrigin::live("sms.db", "message", 42)),
            "live row 42 of message in sms.db");
  EXPECT_EQ(originText(RecordOrigin::live("History.plist", "", -1)),
            "live record in History.plist");
  const RecordOrigin frame = RecordOrigin::logFrame("sms.db-wal", 7, 28731, 3, 2, true);
  EXPECT_EQ(originText(frame),
            "carved from sms.db-wal, page 7, offset 28731 (log frame 3 of commit 2, bad checksum)");
  EXPECT_EQ(originText(RecordOrigin::carved("", 0, 512, RecordOrigin::Place::Freelist)),
            "carved, offset 512 (freelist)");
  EXPECT_EQ(
      originText(RecordOrigin::carved("sms.db", 3, 8300, RecordOrigin::Place::SupersededByLog)),
      "carved from sms.db, page 3, offset 8300 (superseded by the log)");
  EXPECT_EQ(originText(RecordOrigin{}), "");

  EXPECT_EQ(originFields(frame), (Fields{{"kind", std::string("carved")},
                                         {"file", std::string("sms.db-wal")},
                                         {"page", std::int64_t{7}},
                                         {"offset", std::int64_t{28731}},
                                         {"place", std::string("log frame")},
                                         {"frame", std::int64_t{3}},
                                         {"commit", std::int64_t{2}},
                                         {"badChecksum", true}}));
  EXPECT_EQ(originFields(RecordOrigin::live("History.plist", "", -1)),
            (Fields{{"kind", std::string("live")}, {"file", std::string("History.plist")}}));
  EXPECT_TRUE(originFields(RecordOrigin{}).empty());
}

}  // namespace
