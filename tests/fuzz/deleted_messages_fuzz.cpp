// Fuzz target: the deleted-message carver on arbitrary database bytes, in all three layouts.
//
// The first input byte chooses the form: odd, the rest is the whole file as it stands
// (wholly random bytes, a truncated file, a header with any page size); even, a valid
// 100-byte database header is laid over the start, with a page size taken from the next two
// bytes (0, 1 meaning 65536, or any other value) and the write version from the byte after,
// so that the carver reaches the page walk and the record readers on random pages.
// Besides memory errors, the target traps when the carver breaks one of its promises: a
// null record posted, a chat list that is not unique by rowid, or a chat-layout message
// list that disagrees with what was posted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

#include "carve/deleted_messages_scanner.h"

namespace {

std::vector<std::uint8_t> databaseBytes(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if ((data[0] & 1) == 0) {
    std::uint8_t header[100] = {};
    std::memcpy(header, "SQLite format 3", 16);
    header[16] = size > 1 ? data[1] : 0x10;
    header[17] = size > 2 ? data[2] : 0x00;
    header[18] = header[19] = size > 3 && (data[3] & 1) ? 2 : 1;
    header[21] = 64;
    header[22] = 32;
    header[23] = 32;
    if (bytes.size() < sizeof header) bytes.resize(sizeof header);
    std::memcpy(bytes.data(), header, sizeof header);
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(databaseBytes(data, size)));
  for (auto layout : {carve::DelMessageLayout::Chat, carve::DelMessageLayout::WalForms,
                      carve::DelMessageLayout::Legacy}) {
    RecordList<MzChatMessageNode> chats;
    RecordList<MzMessageNode> messages;
    std::size_t posted = 0;
    carve::DelMessageSink sink{[](const std::string& phone) -> std::optional<std::string> {
                                 if (phone.size() > 1) return phone.substr(1);
                                 return std::nullopt;
                               },
                               [&posted](std::shared_ptr<MzMessageNode> m) {
                                 if (!m) __builtin_trap();
                                 ++posted;
                               }};
    carve::carveDeletedMessages(db, layout, chats, messages, sink);
    std::unordered_set<std::int32_t> rowids;
    for (const auto& chat : chats) {
      if (!chat || !rowids.insert(chat->rowid).second) __builtin_trap();
    }
    if (layout == carve::DelMessageLayout::Chat && messages.size() != posted) __builtin_trap();
    if (layout != carve::DelMessageLayout::Chat && (!messages.empty() || !chats.empty())) {
      __builtin_trap();
    }
  }
  return 0;
}
