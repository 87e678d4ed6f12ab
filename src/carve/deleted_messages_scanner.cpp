#include "carve/deleted_messages_scanner.h"

#include <algorithm>
#include <any>
#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/conversions.h"
#include "carve/candidate_scan.h"
#include "carve/carve_primitives.h"
#include "extract/device_databases.h"
#include "extract/message_direction.h"
#include "extract/name_lookup.h"

namespace carve {
namespace {

std::int64_t be16(const DatabaseImage& file, std::int64_t offset) {
  return (std::int64_t{file.at(offset)} << 8) | file.at(offset + 1);
}

// The offsets the page tests look at: the page's first three cells (F1, F2, F3 from the
// cell pointer array) and the start of its cell content area (C).
struct PageFrame {
  std::int64_t page = 0;
  std::int64_t end = 0;  // one past the page's last byte
  std::int64_t f1 = 0, f2 = 0, f3 = 0;
  std::int64_t contentStart = 0;

  PageFrame(const DatabaseImage& file, std::int64_t offset, std::int64_t size)
      : page(offset),
        end(offset + size),
        f1(offset + be16(file, offset + 8)),
        f2(offset + be16(file, offset + 10)),
        f3(offset + be16(file, offset + 12)),
        contentStart(be16(file, offset + 5)) {}
};

// The offsets v in [from, to) whose byte at v + lead is `byte`, in increasing order. The
// byte is not zero, so only offsets whose probed byte lies inside the file can match (bytes
// outside read as zero): memchr finds them, instead of a test at every offset.
class ByteCursor {
 public:
  ByteCursor(const DatabaseImage& file, std::int64_t from, std::int64_t to, std::int64_t lead,
             std::uint8_t byte)
      : file_(file), lead_(lead), byte_(byte) {
    begin_ = std::max<std::int64_t>(from + lead, 0);
    end_ = std::min<std::int64_t>(to + lead, file.size());
  }
  static constexpr std::int64_t kNone = INT64_MAX;

  // The next offset, or kNone.
  std::int64_t next() {
    if (begin_ >= end_) return kNone;
    const auto* start = file_.data() + begin_;
    const void* hit = std::memchr(start, byte_, static_cast<std::size_t>(end_ - begin_));
    if (hit == nullptr) {
      begin_ = end_;
      return kNone;
    }
    const std::int64_t at = begin_ + (static_cast<const std::uint8_t*>(hit) - start);
    begin_ = at + 1;
    return at - lead_;
  }

 private:
  const DatabaseImage& file_;
  std::int64_t lead_;
  std::uint8_t byte_;
  std::int64_t begin_ = 0, end_ = 0;
};

// The decimal value at the start of a field's text; 0 when it has none.
std::int64_t decimalOf(std::string_view text) {
  std::int64_t value = 0;
  const char* begin = text.data();
  std::from_chars(begin, begin + text.size(), value);
  return value;
}

std::string textOf(const FieldBuffer& field) { return GetStringFormChar(field.text()); }

void setDate(MzMessageNode& message, const FieldBuffer& field) {
  if (!field.empty()) message.messageDate = dateText(decimalOf(field.text()), 0);
}

void lookUpName(MzMessageNode& message, const DelMessageSink& sink) {
  if (message.messagePhone.size() > 1 && sink.nameOf) {
    message.messageName = sink.nameOf(message.messagePhone);
  }
}

// ---- Chat layout (iOS 6 and later) ----------------------------------------------------------

// A rowid varint that ends at `last`, read backwards from it: the bytes before it with the
// high bit set belong to it (the payload-length varint before the rowid ends in a byte
// without). Rowids of 128 and more take two or more bytes; reading only the last one would
// give the wrong handle. The varint is read no further back than `first` (the start of the
// page the cell lies in): a byte before it belongs to no cell of the page. 0 when `last`
// itself lies before `first`.
std::int32_t rowidEndingAt(const DatabaseImage& file, std::int64_t first, std::int64_t last) {
  if (last < first) return 0;
  const std::uint8_t end = file.at(last);
  if (end & 0x80) return end;
  int length = 1;
  while (length < 4 && last - length >= first && (file.at(last - length) & 0x80)) ++length;
  std::int32_t value = 0;
  for (std::int64_t i = last - length + 1; i <= last; ++i)
    value = (value << 7) | (file.at(i) & 0x7F);
  return value;
}

// Handles ("06 00": header length 6, the rowid column's NULL) anywhere on the page.
void carveChats(const DatabaseImage& file, const PageFrame& frame, std::int64_t fieldSize,
                RecordList<MzChatMessageNode>& chats, std::unordered_set<std::int32_t>& rowids) {
  FieldBuffer phone(static_cast<std::size_t>(fieldSize));
  ByteCursor candidates(file, frame.page, frame.end, 0, 0x06);
  for (std::int64_t u; (u = candidates.next()) != ByteCursor::kNone;) {
    if (file.at(u + 1) != 0x00) continue;
    auto chat = std::make_shared<MzChatMessageNode>();
    chat->rowid = rowidEndingAt(file, frame.page, u - 1);
    std::int64_t dataOffset = 0;
    AnalyseDBDataFile(file, 1, dataOffset, u + 1, 5, phone, frame.end);
    chat->phoneValue = textOf(phone);
    if (rowids.insert(chat->rowid).second) chats.push_back(std::move(chat));
  }
}

// The bytes every message signature has: 08 00, then a handle serial type of 01, 02 or 09.
constexpr std::array<ByteTest, 3> kChatMessagePrefilter = {{
    {0, 1, {0x08}},
    {1, 1, {0x00}},
    {2, 3, {0x01, 0x02, 0x09}},
}};

bool isChatMessageSignature(const DatabaseImage& file, std::int64_t j) {
  if (file.at(j) != 0x08 || file.at(j + 1) != 0x00) return false;
  const std::uint8_t handle = file.at(j + 2), subject = file.at(j + 3), country = file.at(j + 4);
  if (handle == 0x02) return true;
  if (handle == 0x01) {
    return (subject == 0x00 && (country == 0x00 || country == 0x11)) ||
           (subject == 0x0D && country == 0x00);
  }
  return handle == 0x09 && subject == 0x00 && country == 0x11;
}

// Reads the columns of one message record in order. A column's header position is its
// index, moved on by one after a text whose serial type takes two bytes (cm) and again after
// an attributedBody whose serial type does (cl). No field is read past `end`, the end of the
// record's page.
class ChatMessageColumns {
 public:
  ChatMessageColumns(const DatabaseImage& file, std::int64_t headerStart, int cm, int cl,
                     FieldBuffer& field, std::int64_t end)
      : file_(file),
        h_(headerStart),
        l_(38 + cm + cl),
        end_(end),
        cm_(cm),
        cl_(cl),
        field_(field) {}

  std::int64_t position(int column) const {
    return column + (column >= 3 ? cm_ : 0) + (column >= 9 ? cl_ : 0);
  }
  bool twoByte(int column) const { return (column == 2 && cm_) || (column == 8 && cl_); }

  // The column's body (text, blob, or an integer as decimal text) in the field buffer.
  bool read(int column) {
    const std::int64_t p = position(column);
    if (twoByte(column)) return AnalyseAlterbleDB(file_, p, d_, h_, l_, field_, end_);
    return AnalyseDBDataFile(file_, p, d_, h_, l_, field_, end_);
  }

  // Steps over the column's body without reading it.
  void skip(int column) {
    const std::int64_t p = position(column);
    if (twoByte(column)) {
      skipAlterbleField(file_, p, d_, h_);
    } else {
      skipDBDataField(file_, p, d_, h_);
    }
  }

  // An integer column. The constants 0 and 1 are serial types 8 and 9, without a body.
  std::optional<std::int64_t> integer(int column) {
    const std::uint8_t type = file_.at(h_ + position(column));
    if (type == 8) return 0;
    if (type == 9) return 1;
    const bool body = read(column);
    if (!body || type < 1 || type > 6) return std::nullopt;
    return decimalOf(field_.text());
  }

 private:
  const DatabaseImage& file_;
  std::int64_t h_, l_, end_, d_ = 0;
  int cm_, cl_;
  FieldBuffer& field_;
};

// Columns of the message table: 0 ROWID, 1 guid, 2 text, 3 replace, 4 service_center,
// 5 handle_id, 6 subject, 7 country, 8 attributedBody, 9 version, 10 type, 11 service,
// 12 account, 13 account_guid, 14 error, 15 date, ..., 21 is_from_me.
std::shared_ptr<MzMessageNode> carveChatMessage(const DatabaseImage& file, std::int64_t j,
                                                FieldBuffer& field, std::int64_t end) {
  const int cm = ISAlterMessageContentFiled(file, j - 2);
  // attributedBody's serial type takes two bytes when its first byte has the high bit set.
  const int cl = file.at(j + 5) >= 0x80 ? 1 : 0;
  ChatMessageColumns columns(file, j - 3 - cm, cm, cl, field, end);
  auto message = std::make_shared<MzMessageNode>();
  columns.skip(1);
  if (columns.read(2)) message->messageContent = textOf(field);
  columns.skip(3);
  columns.skip(4);
  if (auto handle = columns.integer(5)) message->handle_id = static_cast<std::int32_t>(*handle);
  for (int column = 6; column <= 10; ++column) columns.skip(column);
  if (columns.read(11)) message->bImessage = field.text() != "SMS";
  for (int column = 12; column <= 14; ++column) columns.skip(column);
  if (auto date = columns.integer(15)) message->messageDate = dateText(*date, 0);
  for (int column = 16; column <= 20; ++column) columns.skip(column);
  message->messageType = messageDirectionOfFromMe(columns.integer(21), "Unknowed");
  return message;
}

bool chatMessagePage(const DatabaseImage& file, const PageFrame& frame, int kind) {
  return kind == 2 || messageIOS6SubStringIsValidAt(file, frame.f2 + 4, 14, 10) ||
         messageIOS6SubStringIsValidAt(file, frame.f1 + 4, 14, 10) ||
         messageIOS6SubStringIsValidAt(file, frame.f3 + 4, 14, 10) ||
         messageIOS6SubStringIsValidAt(file, frame.page + 8 + frame.contentStart, 14, 10);
}

void carveChatLayout(const CarveDatabase& db, RecordList<MzChatMessageNode>& chats,
                     RecordList<MzMessageNode>& messages, const DelMessageSink& sink) {
  const DatabaseImage& file = db.image;
  std::unordered_set<std::int32_t> rowids;
  for (const auto& chat : chats) {
    if (chat) rowids.insert(chat->rowid);
  }
  FieldBuffer field(static_cast<std::size_t>(db.pageSize));
  std::vector<std::uint32_t> candidates;
  for (std::int64_t k = 0; k < db.pageCount; ++k) {
    const std::int64_t page = db.pageOffset(k);
    const int kind = getPageType(file, page);
    if (kind != 1 && kind != 2) continue;
    const PageFrame frame(file, page, db.pageSize);
    if (chatIOS6SubStringIsValidAt(file, frame.f1, 14, 4)) {
      carveChats(file, frame, db.pageSize, chats, rowids);
    }
    if (!chatMessagePage(file, frame, kind)) continue;
    // Only offsets whose handle byte (at j + 2) is non-zero can match, so the bytes past the
    // end of the file, which read as zero, never hold one.
    if (page < 0 || page >= file.size()) continue;
    findCandidates(file.data() + page, static_cast<std::size_t>(frame.end - frame.page),
                   static_cast<std::size_t>(file.size() - page), kChatMessagePrefilter, candidates);
    for (const std::uint32_t k : candidates) {
      const std::int64_t j = page + k;
      if (isChatMessageSignature(file, j)) {
        auto message = carveChatMessage(file, j, field, frame.end);
        message->origin = db.signatureOrigin(j);
        messages.push_back(std::move(message));
      }
    }
  }
  // Each message's address from its handle; a later handle of the same rowid wins.
  std::unordered_map<std::int32_t, const MzChatMessageNode*> byRowid;
  for (const auto& chat : chats) {
    if (chat) byRowid[chat->rowid] = chat.get();
  }
  for (const auto& message : messages) {
    if (auto it = byRowid.find(message->handle_id); it != byRowid.end()) {
      message->messagePhone = it->second->phoneValue;
      lookUpName(*message, sink);
    }
    if (message->messagePhone.size() < 2) {
      message->messagePhone = std::to_string(message->handle_id) + "_Messages";
    }
    if (sink.post) sink.post(message);
  }
}

// ---- Older layouts (iOS 5 and before) ------------------------------------------------------

// The page's field count from the header-length byte of a live record: 17 columns (the
// message table before iMessage) or, in form 1, 33 (with the madrid_* columns).
std::int64_t fieldCountAt(const DatabaseImage& file, std::int64_t offset, std::int64_t wide) {
  switch (GetFildLength(file, offset)) {
    case 1:
      return 17;
    case 2:
      return wide;
    default:
      return 0;
  }
}

bool isSmsSignature(const DatabaseImage& file, std::int64_t v) {
  return file.at(v) == 0x00 && file.at(v + 1) == 0x11 && file.at(v + 2) == 0x00 &&
         file.at(v + 3) == 0x00;
}

bool isMadridSignature(const DatabaseImage& file, std::int64_t v) {
  static constexpr std::uint8_t kReceived[] = {0x08, 0x08, 0x00, 0x08, 0x08, 0x08, 0x08, 0x08};
  static constexpr std::uint8_t kGrouped[] = {0x01, 0x08, 0x00, 0x01, 0x08, 0x08, 0x08, 0x08};
  if (file.matches(v, kReceived, 8) || file.matches(v, kGrouped, 8)) return true;
  // An iMessage row of a conversation: flags 0 (the iMessage flags have their own column),
  // replace 0, no service centre, the conversation's group id (1 is stored without a body,
  // larger ids as a one-byte integer), association, height 0, UI flags 0 or a one-byte
  // value, version 0.
  const std::uint8_t group = file.at(v + 3), ui = file.at(v + 6);
  static constexpr std::uint8_t kHead[] = {0x08, 0x08, 0x00};
  return file.matches(v, kHead, 3) && (group == 0x01 || group == 0x09) && file.at(v + 4) == 0x08 &&
         file.at(v + 5) == 0x08 && (ui == 0x08 || ui == 0x01) && file.at(v + 7) == 0x08;
}

// Whether the text before the matched "00 11 00 00" takes a two-byte serial type: 10 bytes
// back is the date's type (4) when the text's type is one byte, else the first byte of the
// text's type (0x80 and above).
int twoByteTextBefore(const DatabaseImage& file, std::int64_t signature) {
  return static_cast<int>(bIsAlterbleDBFile(file, signature - 10, 2));
}

class OlderLayoutCarver {
 public:
  OlderLayoutCarver(const CarveDatabase& db, const DelMessageSink& sink)
      : db_(db), file_(db.image), sink_(sink), field_(static_cast<std::size_t>(db.pageSize)) {}

  void carveWalForms() {
    forEachLeafPage([this](const PageFrame& frame) {
      const DatabaseImage& f = file_;
      if (!subStringIsValidAt(f, frame.f2 + 10, 14, 2, 10) &&
          !subStringIsValidAt(f, frame.f1 + 10, 14, 2, 10) &&
          !subStringIsValidAt(f, frame.f3 + 10, 14, 2, 10) &&
          !subStringIsValidAt(f, frame.page + frame.contentStart + 15, 8, 2, 10)) {
        return;
      }
      std::int64_t fields = fieldCountAt(f, frame.f1 + 3, 33);
      std::int64_t lastSms = 0;
      // Both forms have a non-zero byte at v + 1: 0x11 (the country's type) in form 1, 0x08
      // in form 2. The two cursors are merged so that the records come in file order.
      ByteCursor sms(f, frame.page, frame.end, 1, 0x11);
      ByteCursor madrid(f, frame.page, frame.end, 1, 0x08);
      std::int64_t nextSms = sms.next(), nextMadrid = madrid.next();
      while (nextSms != ByteCursor::kNone || nextMadrid != ByteCursor::kNone) {
        const std::int64_t v = std::min(nextSms, nextMadrid);
        if (v == nextSms) nextSms = sms.next();
        if (v == nextMadrid) nextMadrid = madrid.next();
        if (isSmsSignature(f, v)) {
          if (fields == 0) fields = fieldCountAt(f, v - 14, 33);
          carveSmsForm(v, fields, frame.end);
          lastSms = v;
        } else if (isMadridSignature(f, v)) {
          std::int64_t madridFields = fields;
          if (madridFields == 0) madridFields = fields = fieldCountAt(f, v - 14, 34);
          carveMadridForm(v, madridFields, lastSms, frame.end);
        }
      }
    });
  }

  void carveLegacy() {
    forEachLeafPage([this](const PageFrame& frame) {
      const DatabaseImage& f = file_;
      if (!subStringIsValidAt(f, frame.f2 + 10, 14, 2, 10) &&
          !subStringIsValidAt(f, frame.f1 + 10, 14, 2, 10)) {
        return;
      }
      // The 17 columns of the message table before iMessage, unless the page's live records
      // say the table has the 33 columns of iOS 5 (its file then written without a log).
      const std::int64_t fields = fieldCountAt(f, frame.f1 + 3, 33) == 33 ? 33 : 17;
      ByteCursor candidates(f, frame.page, frame.end, 1, 0x11);
      for (std::int64_t m; (m = candidates.next()) != ByteCursor::kNone;) {
        if (isSmsSignature(f, m)) carveLegacyRecord(m, fields, frame.end);
      }
    });
  }

 private:
  template <typename PageFn>
  void forEachLeafPage(PageFn&& onPage) {
    for (std::int64_t k = 0; k < db_.pageCount; ++k) {
      const std::int64_t page = db_.pageOffset(k);
      if (getPageType(file_, page) != 1) continue;
      onPage(PageFrame(file_, page, db_.pageSize));
    }
  }

  void post(std::shared_ptr<MzMessageNode> message) {
    if (sink_.post) sink_.post(std::move(message));
  }

  // Form 1: an SMS record, matched on subject NULL, a two-letter country, headers and
  // recipients NULL. Its header starts 12 bytes before (13 after a two-byte text type). No
  // field is read past `end` (the end of the page), here and in the forms below.
  void carveSmsForm(std::int64_t v, std::int64_t fields, std::int64_t end) {
    const int z = twoByteTextBefore(file_, v);
    const std::int64_t count = fields + z;
    const std::int64_t base = v - 15 - z;
    const std::int64_t alternate = v - fields - z + 20;
    bool useAlternate = false;
    std::int64_t d = 0;
    auto message = std::make_shared<MzMessageNode>();
    message->origin = db_.signatureOrigin(v);
    auto oneByte = [&](std::int64_t p) {
      return useAlternate ? AnalyseDBDataFile(file_, p, d, alternate, count, field_, end)
                          : AnalyseTheDBDataFile(file_, p, d, base, 3, count, field_, end);
    };
    const std::int64_t before = d;
    oneByte(1);
    if (field_.empty()) {
      d = before;
      useAlternate = true;
      oneByte(1);
    }
    message->messagePhone = textOf(field_);
    oneByte(2);
    setDate(*message, field_);
    bool content;
    if (z == 1) {
      content = useAlternate ? AnalyseAlterbleDB(file_, 3, d, alternate, count, field_, end)
                             : AnalyseAlterbleDBFile(file_, 3, d, base, 3, count, field_, end);
    } else {
      content = oneByte(3);
    }
    if (content && !field_.empty()) message->messageContent = textOf(field_);
    oneByte(z == 1 ? 5 : 4);
    message->messageType = messageDirectionOfFlags(decimalOf(field_.text()));
    lookUpName(*message, sink_);
    post(std::move(message));
  }

  // Form 2: an iMessage record, matched on flags, replace, service centre, group, association,
  // height, UI flags and version. Header start 4 bytes before (5 after a two-byte text type).
  void carveMadridForm(std::int64_t v, std::int64_t fields, std::int64_t lastSms,
                       std::int64_t end) {
    const int a = IsAlterAboutContent(file_, v - 2);
    const std::int64_t count = (fields != 0 && fields != 33 ? fields : 34) + a;
    const std::int64_t h = a == 1 ? v - 5 : v - 4;
    // An iMessage row keeps its address in madrid_handle: its address column is NULL. A
    // received SMS (flags 2, a group, UI flags 0) has the same run of bytes; it is carved as
    // form 1, and reading it with the iMessage positions would give garbage.
    if (file_.at(h + 1) != 0x00) return;
    std::int64_t d = 0;
    auto message = std::make_shared<MzMessageNode>();
    message->origin = db_.signatureOrigin(v);
    for (std::int64_t p = 1; p <= 27; ++p) {
      if ((a == 0 && (p == 5 || p == 18 || p == 27)) ||
          (a == 1 && (p == 4 || p == 17 || p == 19 || p == 26))) {
        continue;
      }
      const bool twoByte = (p == 3 && a == 1) || p == 17 || p == 18;
      const bool got = twoByte ? AnalyseAlterbleDB(file_, p, d, h, count, field_, end)
                               : AnalyseDBDataFile(file_, p, d, h, count, field_, end);
      if (p == 2) {
        setDate(*message, field_);
      } else if (p == 3) {
        if (got && !field_.empty()) message->messageContent = textOf(field_);
      } else if (p == 19 + a) {
        message->messagePhone = textOf(field_);
      } else if ((a == 0 && (p == 20 || p == 26)) || (a == 1 && p == 27)) {
        message->messageType = messageDirectionOfFlags(decimalOf(field_.text()));
      }
    }
    message->bImessage = true;
    lookUpName(*message, sink_);
    if (!message->messagePhone.empty() || message->messageType != "unknown" || v - lastSms > 399) {
      post(std::move(message));
    }
  }

  void carveLegacyRecord(std::int64_t m, std::int64_t fields, std::int64_t end) {
    const int z = twoByteTextBefore(file_, m);
    const std::int64_t count = fields + z;
    const std::int64_t h = m - 12 - z;
    std::int64_t d = 0;
    auto message = std::make_shared<MzMessageNode>();
    message->origin = db_.signatureOrigin(m);
    if (AnalyseDBDataFile(file_, 1, d, h, count, field_, end) && !field_.empty()) {
      message->messagePhone = textOf(field_);
    }
    AnalyseDBDataFile(file_, 2, d, h, count, field_, end);
    setDate(*message, field_);
    const bool content = z == 1 ? AnalyseAlterbleDB(file_, 3, d, h, count, field_, end)
                                : AnalyseDBDataFile(file_, 3, d, h, count, field_, end);
    if (content) message->messageContent = textOf(field_);
    AnalyseDBDataFile(file_, z == 1 ? 5 : 4, d, h, count, field_, end);
    message->messageType = messageDirectionOfFlags(decimalOf(field_.text()));
    if (!message->messagePhone.empty()) lookUpName(*message, sink_);
    post(std::move(message));
  }

  const CarveDatabase& db_;
  const DatabaseImage& file_;
  const DelMessageSink& sink_;
  FieldBuffer field_;
};

}  // namespace

DelMessageLayout delMessageLayoutFor(bool iOS6Version, bool walHeader) {
  if (iOS6Version) return DelMessageLayout::Chat;
  return walHeader ? DelMessageLayout::WalForms : DelMessageLayout::Legacy;
}

void carveDeletedMessages(const CarveDatabase& db, DelMessageLayout layout,
                          RecordList<MzChatMessageNode>& chats, RecordList<MzMessageNode>& messages,
                          const DelMessageSink& sink) {
  if (db.pageSize <= 0 || db.pageCount < 1) return;
  switch (layout) {
    case DelMessageLayout::Chat:
      carveChatLayout(db, chats, messages, sink);
      break;
    case DelMessageLayout::WalForms:
      OlderLayoutCarver(db, sink).carveWalForms();
      break;
    case DelMessageLayout::Legacy:
      OlderLayoutCarver(db, sink).carveLegacy();
      break;
  }
}

}  // namespace carve
