// Fuzz target: the keyed-archive field reader of Manifest.db's file records on arbitrary
// bytes. Besides memory errors and hangs, the target traps when a data field comes back larger
// than the input it was read from.
#include <cstddef>
#include <cstdint>
#include <span>

#include "catalogue/keyed_archive_field.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  (void)keyedArchiveInteger(bytes, "Size");
  const auto key = keyedArchiveData(bytes, "EncryptionKey");
  if (key && key->size() > size) __builtin_trap();
  return 0;
}
