// libFuzzer target: the typedstream reader on arbitrary bytes. Any text it returns must lie
// within the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "extract/typedstream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = attributedBodyText(data, size);
  if (text && !text->empty()) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.find(*text) == std::string_view::npos) __builtin_trap();
  }
  return 0;
}
