// Fuzz target: the current Notes body reader on arbitrary bytes.
//
// The first input byte chooses the shape: the rest as the stored blob (the gzip header and
// stream themselves under attack), or the rest gzipped here first, so that the protobuf
// parser sees arbitrary messages. Besides memory errors and hangs, the target traps when the
// reader breaks a promise: text longer than the inflate limit, or text that is not UTF-8
// (U+FFFD must stand in for every bad byte).
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "extract/note_store_body.h"

namespace {

std::vector<std::uint8_t> gzipped(const std::uint8_t* data, std::size_t size) {
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return {};
  }
  std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(size)) + 32);
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

bool validUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80   ? 1
                         : lead < 0xC2 ? 0
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4
                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t j = 1; j < length; ++j) {
      if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::vector<std::uint8_t> blob = data[0] % 2 == 0
                                             ? std::vector<std::uint8_t>(data + 1, data + size)
                                             : gzipped(data + 1, size - 1);
  // A small limit as well, so that the refusal is reached often.
  for (std::size_t limit : {std::size_t{64}, kNoteBodyInflateLimit}) {
    const NoteStoreBody body = readNoteStoreBody(blob, limit);
    if (body.read != NoteBodyRead::Text && !body.text.empty()) __builtin_trap();
    if (body.text.size() > limit * 3 || !validUtf8(body.text)) __builtin_trap();
  }
  return 0;
}
