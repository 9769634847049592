// CRC-32 (IEEE 802.3, reflected, polynomial 0xEDB88320) as stored in 7z
// headers and for every item's data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kyt::sevenzip {

// Continues a CRC: start with crc32_update(0, ...) and feed the pieces in order.
uint32_t crc32_update(uint32_t crc, const void* data, size_t length);

inline uint32_t crc32(const void* data, size_t length) { return crc32_update(0, data, length); }

}  // namespace kyt::sevenzip
