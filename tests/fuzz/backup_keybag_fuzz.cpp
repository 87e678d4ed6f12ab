// Fuzz target: the backup key bag parser on arbitrary bytes. Besides memory errors and hangs,
// the target traps when the parser breaks a promise: a bag and a refusal at once (or neither),
// a bag without salt or iteration count, or more classes than the input has fields.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "catalogue/backup_keybag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto bag = parseBackupKeyBag(std::span<const std::uint8_t>(data, size), &error);
  if (bag.has_value() == !error.empty()) __builtin_trap();
  if (!bag) return 0;
  if (bag->salt.empty() || bag->iterations == 0) __builtin_trap();
  if (bag->classes.size() > size / 8) __builtin_trap();
  // A few unwraps with a fixed key: lengths and integrity checks on the input's bytes.
  const AesKey key{};
  for (const auto& [cls, group] : bag->classes) {
    (void)cls;
    (void)unwrapAesKey(key, group.wrappedKey);
  }
  return 0;
}
