// The messages of current databases (iOS 8 and later), read with everything they carry.
//
// A current database is told by its tables, not by the OS version: its message table has
// the columns iOS 8 added (item_type among them). Each message row is read with its handle,
// its chat (chat_message_join, chat and chat_handle_join), its attachments
// (message_attachment_join and attachment, their files found in MediaDomain through the file
// index), its service, its dates (seconds or nanoseconds since 2001, told by their size) and
// its text, from `text` or else from the archived `attributedBody`. Tapback and sticker rows
// are folded onto the messages they belong to and are no messages of their own; edits and
// unsends (message_summary_info, date_edited, date_retracted) and replies
// (thread_originator_guid) are kept on the message. Optional columns a database lacks are
// read as NULL, so databases of every current version read with one text.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/sqlite_reader.h"
#include "extract/name_lookup.h"
#include "extract/scan_lists.h"

// Whether `db` has the message table of iOS 8 and later.
bool hasCurrentMessageTable(const SqliteDatabase& db);

// The texts the reader runs, made for the columns `db` has; a text is empty when its tables
// are missing. (The messages benchmark hands the same texts to the sqlite3 shell.)
struct CurrentMessageQueries {
  std::string messages;
  std::string chats;
  std::string chatMembers;
  std::string chatMessages;
  std::string attachments;
};
CurrentMessageQueries currentMessageQueries(const SqliteDatabase& db);

struct CurrentMessages {
  std::vector<std::shared_ptr<MzMessageNode>> messages;  // in row order, reactions folded
  bool readFailed = false;                               // the message rows stopped on an error
  std::string error;                                     // SQLite's message for it
};

// Reads every message of `db`. Names (and the other party's picture) come from `names`;
// attachment files from `index`. `lists` takes the contact pictures as the name lookup
// leaves them.
CurrentMessages readCurrentMessages(const SqliteDatabase& db, NameLookup& names,
                                    const FileIndex& index, ScanLists& lists);
