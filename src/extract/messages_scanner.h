// The messages step of a scan: one MzMessageNode per SMS or iMessage row of the messages
// database, with the other party's name and picture from the contacts and, for databases of
// iOS 6 and later, the attachment's stored file found through the file index.
//
// The step reads a private read-only copy of the database with its write-ahead log, so
// rows only in the log are found and the backup folder is never written. Which SQL texts
// it tries first follows the backup's OS flag (iOS 6 and 7: the message/handle layout;
// older: the message/group_member layout); when neither text of that generation fits the
// database, the other generation's texts are tried (backups of iOS 8 and 9 have the
// iOS 6 layout but not its OS flag). The flags themselves are left as they are.
//
// Posts "ScanMessageInfo" per message and "ScanProgressInfo" 50 at the end (nothing at all
// when the database is missing). Leaves the attachment rows in lists.meesageAttachArray and
// the handles in lists.chatMessageArray for the deleted-message carver.
#pragma once

#include <cstdint>

#include "extract/scan_context.h"
#include "extract/step_outcome.h"

StepOutcome scanMessageThread(ScanContext& scan);

// A message date of the message/handle layout as seconds: iOS 6 to 10 store seconds since
// 2001, iOS 11 and later nanoseconds since 2001. The rule goes by the value itself, as the
// databases say nothing of their unit: a value above kNanosecondDateThreshold is
// nanoseconds (as seconds it would lie past the year 5000; as nanoseconds the threshold is
// 100 seconds into 2001), anything else seconds, both counted from 2001.
inline constexpr std::int64_t kNanosecondDateThreshold = 100'000'000'000;
std::int64_t messageDateSeconds(std::int64_t value);
