#include "extract/note_store_body.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "extract/note_store.pb.h"

namespace {

constexpr std::size_t kInflateChunk = 64 * 1024;

// The gzip stream inflated, or none when it is not gzip, is damaged or cut short; `tooLarge`
// is set when it would inflate to more than `limit` bytes.
std::optional<std::string> gunzip(std::span<const std::uint8_t> data, std::size_t limit,
                                  bool* tooLarge) {
  if (data.size() < 2 || data[0] != 0x1f || data[1] != 0x8b) return std::nullopt;
  if (data.size() > UINT_MAX) return std::nullopt;
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  std::string out;
  int status = Z_OK;
  while (status == Z_OK) {
    if (out.size() >= limit) {
      // Full: one more byte of output means the body is over the limit.
      unsigned char probe = 0;
      stream.next_out = &probe;
      stream.avail_out = 1;
      status = inflate(&stream, Z_NO_FLUSH);
      if (stream.avail_out == 0) {
        *tooLarge = true;
        status = Z_DATA_ERROR;
      }
      break;
    }
    const std::size_t used = out.size();
    const std::size_t room = std::min(kInflateChunk, limit - used);
    out.resize(used + room);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream.avail_out = static_cast<uInt>(room);
    status = inflate(&stream, Z_NO_FLUSH);
    out.resize(used + room - stream.avail_out);
    // No progress with input left over and room to write: the stream is cut short.
    if (status == Z_BUF_ERROR) break;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  return out;
}

std::size_t sequenceLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// `text` with every byte that does not start a valid UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = sequenceLength(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

}  // namespace

NoteStoreBody readNoteStoreBody(std::span<const std::uint8_t> data) {
  return readNoteStoreBody(data, kNoteBodyInflateLimit);
}

NoteStoreBody readNoteStoreBody(std::span<const std::uint8_t> data, std::size_t limit) {
  NoteStoreBody body;
  bool tooLarge = false;
  const auto inflated = gunzip(data, std::min(limit, kNoteBodyInflateLimit), &tooLarge);
  if (tooLarge) {
    body.read = NoteBodyRead::TooLarge;
    return body;
  }
  if (!inflated) return body;
  retrievo::notestore::NoteStoreProto message;
  if (!message.ParseFromArray(inflated->data(), static_cast<int>(inflated->size()))) return body;
  if (!message.has_document() || !message.document().has_note()) return body;
  body.read = NoteBodyRead::Text;
  body.text = validUtf8(message.document().note().text());
  return body;
}
