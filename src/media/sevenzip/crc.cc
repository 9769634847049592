#include "media/sevenzip/crc.h"

#include <array>
#include <cstring>

namespace kyt::sevenzip {
namespace {

// Eight tables for the slice-by-8 loop: table[k][b] is the CRC of byte b
// followed by k zero bytes, so eight input bytes are folded per step.
struct Tables {
  std::array<std::array<uint32_t, 256>, 8> t;
  Tables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i;
      for (int j = 0; j < 8; ++j) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1)));
      t[0][i] = r;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
};

const Tables& tables() {
  static const Tables instance;
  return instance;
}

uint32_t load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const void* data, size_t length) {
  const auto& t = tables().t;
  auto p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
  for (; length >= 8; length -= 8, p += 8) {
    uint32_t low = load_le32(p) ^ c, high = load_le32(p + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; length > 0; --length, ++p) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
  return ~c;
}

}  // namespace kyt::sevenzip
