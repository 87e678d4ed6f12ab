// Fuzz target: the property-list reader (both kinds) on arbitrary bytes.
//
// The first input byte chooses the shape: the rest as it is, after a binary header
// ("bplist00", the trailer then comes from the input's end), or inside "<plist>...</plist>".
// Besides memory errors, stack exhaustion and hangs, the target traps when the reader breaks
// a promise: a value and a refusal at once (or neither), containers nested deeper than
// kMaxPlistNesting, or more values than the input has bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/plist_file.h"

namespace {

std::vector<std::uint8_t> bytesFrom(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::string prefix, suffix;
  switch (data[0] % 3) {
    case 1:
      prefix = "bplist00";
      break;
    case 2:
      prefix = "<plist>";
      suffix = "</plist>";
      break;
  }
  std::vector<std::uint8_t> out(prefix.begin(), prefix.end());
  out.insert(out.end(), data + 1, data + size);
  out.insert(out.end(), suffix.begin(), suffix.end());
  return out;
}

// Counts the values of the tree (keys included, as the reader counts them) and checks the
// nesting of its containers.
std::size_t countValues(const PlistValue& value, int containers) {
  if (value.asArray() || value.asDict()) ++containers;
  if (containers > kMaxPlistNesting) __builtin_trap();
  std::size_t n = 1;
  if (const PlistArray* a = value.asArray()) {
    for (const PlistValue& v : *a) n += countValues(v, containers);
  } else if (const PlistDict* d = value.asDict()) {
    for (const auto& entry : *d) n += 1 + countValues(entry.second, containers);
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes = bytesFrom(data, size);
  PlistProblem problem;
  auto value = parsePlist(bytes.data(), bytes.size(), &problem);
  if (value.has_value() != (problem.refusal == PlistRefusal::None)) __builtin_trap();
  if (problem.refusal == PlistRefusal::TooLarge) __builtin_trap();  // inputs are small
  if (value && countValues(*value, 0) > bytes.size()) __builtin_trap();
  return 0;
}
