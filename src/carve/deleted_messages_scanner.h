// The deleted-messages step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
//
// Three carving layouts, chosen by the backup's generation and the database's journal:
//  - Chat (iOS 6 and later): handle records ("chat" records here: header length 6) are
//    carved into chatMessageArray, unique by rowid (a handle already there, live or carved,
//    stays); message records of the 38-column message table are carved into messageArray.
//    After the walk each message takes its address from the handle whose rowid is its
//    handle_id ("<handle_id>_Messages" when none has one) and is posted.
//  - WalForms (older, write-ahead log): SMS records (form 1) and iMessage records (form 2)
//    of the message table, posted as they are found.
//  - Legacy (older, rollback journal): SMS records, posted as they are found.
//
// Posts "ScanDelMessageInfo" with each carved MzMessageNode (the receiver marks it deleted)
// and "ScanProgressInfo" 80 at the end. A missing database logs "messageDB is not exist"
// and posts nothing; a database that cannot be copied or read ends silently.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "carve/page_walk.h"
#include "extract/scan_lists.h"

namespace carve {

enum class DelMessageLayout { Chat, WalForms, Legacy };

// The layout of a backup: Chat for iOS 6 and later, else by the journal the device wrote.
DelMessageLayout delMessageLayoutFor(bool iOS6Version, bool walHeader);

// What the carvers hand on: the contact name of an address, and each finished message.
struct DelMessageSink {
  std::function<std::optional<std::string>(const std::string&)> nameOf;
  std::function<void(std::shared_ptr<MzMessageNode>)> post;
};

// Carves every page of `db` by `layout`. The chat layout adds carved handles to `chats`
// and collects its messages in `messages` before posting them; the other layouts use
// neither list. Safe on any bytes: every read outside the file gives zero bytes.
void carveDeletedMessages(const CarveDatabase& db, DelMessageLayout layout,
                          RecordList<MzChatMessageNode>& chats, RecordList<MzMessageNode>& messages,
                          const DelMessageSink& sink);

}  // namespace carve
