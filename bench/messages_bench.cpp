// The messages step on a large messages database: 200,000 messages in 2,000 conversations
// (an iOS 6 sms.db made from the device schema, 2 % of the messages with a picture
// attachment) and 10,000 contacts to look the names up in. Reference, measured in the same
// run: the sqlite3 shell running the step's message text on the same file.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "base/conversions.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "device_builders.h"
#include "extract/current_messages.h"
#include "extract/device_databases.h"
#include "extract/messages_scanner.h"
#include "extract/phone_names.h"
#include "schema_database.h"
#include "schema_file.h"
#include "sms_parts.h"

namespace {

constexpr int kMessages = 200000;
constexpr int kConversations = 2000;
constexpr int kContacts = 10000;
constexpr int kIndexFiles = 50000;  // stored files of the backup besides the attachments
constexpr int kRuns = 5;

constexpr const char* kChatMessageQuery =
    "select message.ROWID,message.cache_has_attachments,message.text,message.date,message."
    "handle_id,handle.id,is_from_me from message left join handle on "
    "message.handle_id=handle.ROWID";

// The number of contact i as the address book keeps it, and as a handle row has it.
std::string contactNumber(int i) {
  char text[32];
  std::snprintf(text, sizeof text, "+46 70 %03d %02d %02d", 100 + i / 10000 % 900, i / 100 % 100,
                i % 100);
  return text;
}
std::string handleNumber(int i) {
  char text[32];
  std::snprintf(text, sizeof text, "+4670%03d%02d%02d", 100 + i / 10000 % 900, i / 100 % 100,
                i % 100);
  return text;
}

// Conversation c: mostly contacts' numbers, some unknown numbers, some e-mail handles.
std::string handleOf(int c) {
  if (c % 10 == 8) return handleNumber(kContacts + 500 + c);  // a number no contact has
  if (c % 10 == 9) return "friend" + std::to_string(c) + "@example.com";
  return handleNumber(c * 5 % kContacts);
}

std::string attachmentPath(int message) {
  char text[96];
  std::snprintf(text, sizeof text, "Library/SMS/Attachments/%02x/%02d/%08X/IMG_%04d.JPG",
                message % 256, message % 16, message, message % 10000);
  return text;
}

bool check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
  std::cerr << what << ": " << sqlite3_errmsg(db) << "\n";
  return false;
}

bool makeMessagesDatabase(const std::string& path) {
  std::string error;
  auto schema = fixtures::loadSchema(fixtures::schemaPath(6, "sms.db"), &error);
  if (!schema) {
    std::cerr << error << "\n";
    return false;
  }
  fixtures::DatabaseOptions options;
  options.autoVacuum = 2;
  auto database = fixtures::SchemaDatabase::create(path, *schema, options, &error);
  if (!database) {
    std::cerr << error << "\n";
    return false;
  }
  sqlite3* db = database->handle();
  database->begin();
  sqlite3_stmt* handle = nullptr;
  sqlite3_stmt* chat = nullptr;
  sqlite3_stmt* chatHandle = nullptr;
  sqlite3_stmt* message = nullptr;
  sqlite3_stmt* chatMessage = nullptr;
  sqlite3_stmt* attachment = nullptr;
  sqlite3_stmt* messageAttachment = nullptr;
  bool ok =
      check(sqlite3_prepare_v2(
                db, "INSERT INTO handle(ROWID, id, country, service) VALUES(?, ?, 'se', ?)", -1,
                &handle, nullptr),
            db, "handle") &&
      check(sqlite3_prepare_v2(db,
                               "INSERT INTO chat(ROWID, guid, style, state, chat_identifier, "
                               "service_name) VALUES(?, ?, 45, 3, ?, ?)",
                               -1, &chat, nullptr),
            db, "chat") &&
      check(sqlite3_prepare_v2(db, "INSERT INTO chat_handle_join VALUES(?, ?)", -1, &chatHandle,
                               nullptr),
            db, "chat_handle_join") &&
      check(sqlite3_prepare_v2(
                db,
                "INSERT INTO message(ROWID, guid, text, handle_id, service, account, date, "
                "date_read, is_delivered, is_finished, is_from_me, is_read, is_sent, version) "
                "VALUES(?, ?, ?, ?, ?, 'p:+46704125583', ?, ?, 1, 1, ?, ?, ?, 10)",
                -1, &message, nullptr),
            db, "message") &&
      check(sqlite3_prepare_v2(db, "INSERT INTO chat_message_join VALUES(?, ?)", -1, &chatMessage,
                               nullptr),
            db, "chat_message_join") &&
      check(
          sqlite3_prepare_v2(
              db,
              "INSERT INTO attachment(ROWID, guid, created_date, filename, uti, mime_type, "
              "transfer_state, is_outgoing) VALUES(?, ?, ?, ?, 'public.jpeg', 'image/jpeg', 5, ?)",
              -1, &attachment, nullptr),
          db, "attachment") &&
      check(sqlite3_prepare_v2(db, "INSERT INTO message_attachment_join VALUES(?, ?)", -1,
                               &messageAttachment, nullptr),
            db, "message_attachment_join");
  for (int c = 1; ok && c <= kConversations; ++c) {
    const std::string address = handleOf(c);
    const char* service = address.find('@') != std::string::npos ? "iMessage" : "SMS";
    const std::string guid = std::string(service) + ";-;" + address;
    sqlite3_bind_int(handle, 1, c);
    sqlite3_bind_text(handle, 2, address.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(handle, 3, service, -1, SQLITE_STATIC);
    sqlite3_bind_int(chat, 1, c);
    sqlite3_bind_text(chat, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(chat, 3, address.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(chat, 4, service, -1, SQLITE_STATIC);
    sqlite3_bind_int(chatHandle, 1, c);
    sqlite3_bind_int(chatHandle, 2, c);
    for (sqlite3_stmt* s : {handle, chat, chatHandle}) {
      ok = ok && check(sqlite3_step(s), db, "conversation");
      sqlite3_reset(s);
    }
  }
  const std::string words =
      "see you at the station tomorrow, the train leaves at eight and I still have your "
      "umbrella from last week";
  for (int m = 1; ok && m <= kMessages; ++m) {
    const int c = (m - 1) % kConversations + 1;
    const bool fromMe = m % 3 == 0;
    const std::string text = words.substr(m % 17, 30 + m % 60);
    const std::string guid = "MSG-" + std::to_string(m);
    const std::int64_t date = 370000000 + std::int64_t{m} * 97;
    sqlite3_bind_int(message, 1, m);
    sqlite3_bind_text(message, 2, guid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(message, 3, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(message, 4, c);
    sqlite3_bind_text(message, 5, c % 10 == 9 ? "iMessage" : "SMS", -1, SQLITE_STATIC);
    sqlite3_bind_int64(message, 6, date);
    sqlite3_bind_int64(message, 7, fromMe ? 0 : date + 42);
    sqlite3_bind_int(message, 8, fromMe ? 1 : 0);
    sqlite3_bind_int(message, 9, fromMe ? 0 : 1);
    sqlite3_bind_int(message, 10, fromMe ? 1 : 0);
    sqlite3_bind_int(chatMessage, 1, c);
    sqlite3_bind_int(chatMessage, 2, m);
    for (sqlite3_stmt* s : {message, chatMessage}) {
      ok = ok && check(sqlite3_step(s), db, "message");
      sqlite3_reset(s);
    }
    if (m % 50 != 0) continue;
    const std::string filename = "~/" + attachmentPath(m);
    const std::string attachmentGuid = "ATT-" + std::to_string(m);
    sqlite3_bind_int(attachment, 1, m / 50);
    sqlite3_bind_text(attachment, 2, attachmentGuid.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(attachment, 3, date);
    sqlite3_bind_text(attachment, 4, filename.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(attachment, 5, fromMe ? 1 : 0);
    sqlite3_bind_int(messageAttachment, 1, m);
    sqlite3_bind_int(messageAttachment, 2, m / 50);
    for (sqlite3_stmt* s : {attachment, messageAttachment}) {
      ok = ok && check(sqlite3_step(s), db, "attachment");
      sqlite3_reset(s);
    }
  }
  for (sqlite3_stmt* s :
       {handle, chat, chatHandle, message, chatMessage, attachment, messageAttachment}) {
    sqlite3_finalize(s);
  }
  database->commit();
  return ok && database->close();
}

ContactList makeContacts() {
  ContactList contacts;
  const Bytes picture = std::make_shared<const std::vector<std::uint8_t>>(2048, 0x5A);
  for (int i = 0; i < kContacts; ++i) {
    auto c = std::make_shared<MzContactNode>();
    c->rowid = i + 1;
    // Built by appending: g++ 12 -O3 warns falsely about literal + string here.
    c->contactName.append("First").append(std::to_string(i));
    c->contactName.append(" Last").append(std::to_string(i % 997));
    c->contactPhone.append(" ").append(contactNumber(i));
    if (i % 7 == 0) c->contactPhone.append(" 08-555 ").append(std::to_string(10000 + i));
    if (i % 4 == 0) c->imageData = picture;
    contacts.push_back(std::move(c));
  }
  return contacts;
}

FileIndex makeIndex(const std::string& folder) {
  FileIndex index;
  auto add = [&](const std::string& domain, const std::string& path) {
    auto r = std::make_shared<MzTreeDirNode>();
    r->fileDomain = domain;
    r->filePath = path;
    r->fileKey = folder + "/" + fileKeyFor(domain, path);
    index.push_back(std::move(r));
  };
  for (int i = 0; i < kIndexFiles; ++i) {
    add("CameraRollDomain",
        "Media/DCIM/" + std::to_string(100 + i / 1000) + "APPLE/IMG_" + std::to_string(i) + ".JPG");
  }
  for (int m = 50; m <= kMessages; m += 50) add("MediaDomain", attachmentPath(m));
  return index;
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Binds the values of one row in order (integers, texts, blobs, NULL) and steps it.
struct Row {
  sqlite3_stmt* statement;
  int next = 1;
  Row& operator<<(std::int64_t v) {
    sqlite3_bind_int64(statement, next++, v);
    return *this;
  }
  Row& operator<<(const std::string& v) {
    sqlite3_bind_text(statement, next++, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Row& operator<<(const std::vector<std::uint8_t>& v) {
    if (v.empty()) {
      sqlite3_bind_null(statement, next++);
    } else {
      sqlite3_bind_blob(statement, next++, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    return *this;
  }
  bool step(sqlite3* db) {
    const bool ok = check(sqlite3_step(statement), db, "insert");
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
  }
};

// A current database of the same size: 200,000 message rows in 2,000 chats (one in ten a
// group of three), dates in nanoseconds, a third of the texts only in the archived body,
// one row in twenty-seven a tapback, one in two hundred an edited message with its summary,
// 2 % of the messages with an attachment of one of five kinds.
bool makeCurrentMessagesDatabase(const std::string& path) {
  std::string error;
  auto schema = fixtures::loadSchema(fixtures::schemaPath(17, "sms.db"), &error);
  if (!schema) {
    std::cerr << error << "\n";
    return false;
  }
  fixtures::DatabaseOptions options;
  auto database = fixtures::SchemaDatabase::create(path, *schema, options, &error);
  if (!database) {
    std::cerr << error << "\n";
    return false;
  }
  sqlite3* db = database->handle();
  database->begin();
  const auto prepare = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, sql);
    return s;
  };
  sqlite3_stmt* handle =
      prepare("INSERT INTO handle(ROWID, id, country, service) VALUES(?, ?, 'se', ?)");
  sqlite3_stmt* chat = prepare(
      "INSERT INTO chat(ROWID, guid, style, state, chat_identifier, service_name, display_name, "
      "room_name) VALUES(?, ?, ?, 3, ?, ?, ?, ?)");
  sqlite3_stmt* chatHandle = prepare("INSERT INTO chat_handle_join VALUES(?, ?)");
  sqlite3_stmt* message = prepare(
      "INSERT INTO message(ROWID, guid, text, attributedBody, handle_id, service, date, "
      "date_read, date_delivered, is_from_me, is_read, is_sent, associated_message_guid, "
      "associated_message_type, message_summary_info, date_edited, item_type) "
      "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0)");
  sqlite3_stmt* chatMessage =
      prepare("INSERT INTO chat_message_join(chat_id, message_id) VALUES(?, ?)");
  sqlite3_stmt* attachment = prepare(
      "INSERT INTO attachment(ROWID, guid, original_guid, created_date, filename, uti, "
      "mime_type, transfer_name, transfer_state, is_outgoing) VALUES(?, ?, ?, ?, ?, ?, ?, ?, 5, "
      "0)");
  sqlite3_stmt* messageAttachment = prepare("INSERT INTO message_attachment_join VALUES(?, ?)");
  bool ok =
      handle && chat && chatHandle && message && chatMessage && attachment && messageAttachment;
  const char* services[] = {"SMS", "iMessage", "iMessage", "RCS"};
  // Handle h is conversation h's other party; groups add two more handles after the chats.
  for (int c = 1; ok && c <= kConversations; ++c) {
    const char* service = services[c % 4];
    const bool group = c % 10 == 3;
    const std::string address = handleOf(c);
    ok = (Row{handle} << c << address << std::string(service)).step(db);
    const std::string identifier = group ? "chat" + std::to_string(c) : address;
    ok = ok && (Row{chat} << c << std::string(service) + (group ? ";+;" : ";-;") + identifier
                          << std::int64_t{group ? 43 : 45} << identifier << std::string(service)
                          << (c % 20 == 3 ? std::string("Climbing club") : std::string())
                          << (group ? identifier : std::string()))
                   .step(db);
    ok = ok && (Row{chatHandle} << c << c).step(db);
    if (group) {
      for (int other : {1, 2}) {
        ok = ok && (Row{chatHandle} << c << (c + other) % kConversations + 1).step(db);
      }
    }
  }
  const std::string words =
      "see you at the station tomorrow, the train leaves at eight and I still have your "
      "umbrella from last week";
  const char* kinds[][3] = {{"IMG_%04d.HEIC", "public.heic", "image/heic"},
                            {"IMG_%04d.MOV", "com.apple.quicktime-movie", "video/quicktime"},
                            {"Audio Message %04d.caf", "com.apple.coreaudio-format", "audio/x-caf"},
                            {"Plan %04d.pdf", "com.adobe.pdf", "application/pdf"},
                            {"Contact %04d.vcf", "public.vcard", "text/vcard"}};
  int attachments = 0;
  for (int m = 1; ok && m <= kMessages; ++m) {
    const int c = (m - 1) % kConversations + 1;
    const bool fromMe = m % 3 == 0;
    const std::string text = words.substr(m % 17, 30 + m % 60);
    const std::int64_t date = (700000000 + std::int64_t{m} * 97) * 1000000000;
    // Every 27th row a tapback on the chat's message one round before (never a tapback itself).
    const bool reaction = m % 27 == 7 && m > kConversations;
    const bool edited = m % 200 == 11;
    const bool bodyOnly = m % 3 == 1;
    Row row{message};
    row << m << "MSG-" + std::to_string(m);
    if (bodyOnly) {
      row << std::vector<std::uint8_t>{};
    } else {
      row << text;
    }
    row << fixtures::attributedBody(text) << (fromMe && c % 10 == 3 ? 0 : c)
        << std::string(services[c % 4]) << date << (fromMe ? 0 : date + 42000000000)
        << (fromMe ? date + 2000000000 : 0) << (fromMe ? 1 : 0) << (fromMe ? 0 : 1)
        << (fromMe ? 1 : 0);
    if (reaction) {
      row << "p:0/MSG-" + std::to_string(m - kConversations) << std::int64_t{2000 + m % 6};
    } else {
      row << std::vector<std::uint8_t>{} << std::int64_t{0};
    }
    if (edited) {
      row << fixtures::editHistoryInfo({{700000000.0, "first try"}, {700000060.0, text}})
          << date + 60000000000;
    } else {
      row << std::vector<std::uint8_t>{} << std::int64_t{0};
    }
    ok = row.step(db) && (Row{chatMessage} << c << m).step(db);
    if (m % 50 != 0 || reaction) continue;
    const auto& kind = kinds[m / 50 % 5];
    char name[64];
    std::snprintf(name, sizeof name, kind[0], m % 10000);
    const std::string guid = "ATT-" + std::to_string(m);
    ++attachments;
    ok =
        ok && (Row{attachment} << attachments << guid << guid << date << "~/" + attachmentPath(m)
                               << std::string(kind[1]) << std::string(kind[2]) << std::string(name))
                  .step(db);
    ok = ok && (Row{messageAttachment} << m << attachments).step(db);
  }
  for (sqlite3_stmt* s :
       {handle, chat, chatHandle, message, chatMessage, attachment, messageAttachment}) {
    sqlite3_finalize(s);
  }
  database->commit();
  return ok && database->close();
}

struct Measured {
  double step = 1e9;       // best seconds of the messages step
  double reference = 1e9;  // best seconds of the sqlite3 shell
  std::size_t messages = 0, withAttachment = 0, named = 0, reactions = 0;
};

// The messages step on the database in `folder` against the sqlite3 shell running `queries`
// on the same file, best of kRuns each.
std::optional<Measured> measure(const std::string& folder, const std::string& script,
                                const std::string& queries, const ContactList& contacts,
                                const FileIndex& index) {
  const std::string db = folder + "/" + devicedb::kMessagesKey;
  std::ofstream(script) << queries;
  const std::string command = "sqlite3 -readonly '" + db + "' < '" + script + "' > /dev/null";
  Measured result;
  for (int run = 0; run < kRuns; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      std::cerr << "the sqlite3 shell failed\n";
      return std::nullopt;
    }
    result.reference = std::min(result.reference, seconds(std::chrono::steady_clock::now() - t0));

    NotificationCenter center;
    Measured counts;
    center.addObserver("ScanMessageInfo", [&](const std::any& o) {
      const auto& m = std::any_cast<const std::shared_ptr<MzMessageNode>&>(o);
      ++counts.messages;
      if (m->attachmentPath) ++counts.withAttachment;
      if (m->messageName) ++counts.named;
      counts.reactions += m->reactions.size();
    });
    ScanLists lists;
    lists.contactArray = contacts;
    lists.treeFileArray = index;
    auto t1 = std::chrono::steady_clock::now();
    {
      DatabasePreparer databases(folder);
      ScanContext context{folder, center, lists, databases, true, false, false};
      scanMessageThread(context);
    }
    result.step = std::min(result.step, seconds(std::chrono::steady_clock::now() - t1));
    result.messages = counts.messages;
    result.withAttachment = counts.withAttachment;
    result.named = counts.named;
    result.reactions = counts.reactions;
  }
  return result;
}

void report(const char* what, const Measured& m) {
  std::printf(
      "%s: %zu messages (%zu with a stored attachment, %zu named, %zu reactions) in %.3f s "
      "= %.0f messages/s\n",
      what, m.messages, m.withAttachment, m.named, m.reactions, m.step, m.messages / m.step);
  std::printf("  reference (sqlite3 shell, the same texts): %.3f s\n", m.reference);
  std::printf("  ratio messages step / reference: %.2f (target <= 2)\n", m.step / m.reference);
}

}  // namespace

int main() {
  const std::string root =
      (std::filesystem::temp_directory_path() / "retrievo-messages-bench").string();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  const std::string older = root + "/" + std::string(40, 'b');
  const std::string current = root + "/" + std::string(40, 'c');
  std::filesystem::create_directories(older, ec);
  std::filesystem::create_directories(current, ec);
  std::cerr << "building the messages databases...\n";
  if (!makeMessagesDatabase(older + "/" + devicedb::kMessagesKey) ||
      !makeCurrentMessagesDatabase(current + "/" + devicedb::kMessagesKey)) {
    std::cerr << "cannot build the messages databases\n";
    return 1;
  }
  const ContactList contacts = makeContacts();

  const auto olderResult = measure(older, root + "/m6.sql", std::string(kChatMessageQuery) + ";\n",
                                   contacts, makeIndex(older));
  std::string currentTexts;
  {
    const SqliteDatabase db = SqliteDatabase::openReadOnly(current + "/" + devicedb::kMessagesKey);
    const CurrentMessageQueries q = currentMessageQueries(db);
    for (const std::string* text :
         {&q.chats, &q.chatMembers, &q.chatMessages, &q.attachments, &q.messages}) {
      currentTexts += *text + ";\n";
    }
  }
  const auto currentResult =
      measure(current, root + "/m17.sql", currentTexts, contacts, makeIndex(current));
  std::filesystem::remove_all(root, ec);
  if (!olderResult || !currentResult) return 1;
  report("messages step, iOS 6 database", *olderResult);
  report("messages step, current database", *currentResult);
  std::size_t currentMessages = kMessages;
  for (int m = kConversations + 1; m <= kMessages; ++m) currentMessages -= m % 27 == 7 ? 1 : 0;
  return olderResult->messages == static_cast<std::size_t>(kMessages) &&
                 currentResult->messages + 8 >= currentMessages
             ? 0
             : 1;
}
