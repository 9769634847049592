// Feeds arbitrary bytes to the 7z reader: open, list, test every item.
// The signature header's CRCs are recomputed first so that mutations reach
// the header parser and the decoders (LZMA, LZMA2, BCJ, BCJ2, AES) instead of
// stopping at the first checksum.
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/sevenzip/archive.h"
#include "media/sevenzip/crc.h"

namespace {

class BytesIn : public kyt::sevenzip::InStream {
 public:
  explicit BytesIn(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() override { return bytes_.size(); }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    std::memcpy(data, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint64_t get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t(p[i]) << (8 * i);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() >= 32) {
    uint64_t offset = get64(&bytes[12]), length = get64(&bytes[20]);
    if (offset <= bytes.size() - 32 && length <= bytes.size() - 32 - offset)
      put32(&bytes[28], kyt::sevenzip::crc32(&bytes[32 + offset], size_t(length)));
    put32(&bytes[8], kyt::sevenzip::crc32(&bytes[12], 20));
  }
  BytesIn in(std::move(bytes));
  kyt::sevenzip::Reader reader;
  if (reader.open(in, [] { return std::u16string(u"x"); }) != kyt::sevenzip::Error::none) return 0;
  for (const auto& entry : reader.entries()) kyt::sevenzip::safe_item_name(entry.name);
  reader.test();
  return 0;
}
