// Byte buffers held by reference (pictures, file data), shared between records.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

using Bytes = std::shared_ptr<const std::vector<std::uint8_t>>;

inline Bytes makeBytes(std::vector<std::uint8_t> data) {
  return std::make_shared<const std::vector<std::uint8_t>>(std::move(data));
}
