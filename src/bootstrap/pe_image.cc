#include "bootstrap/pe_image.h"

namespace kyt {

namespace {
uint32_t read_u32(std::string_view b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t read_u16(std::string_view b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }

// Offset of the "PE\0\0" signature, or 0 when absent.
size_t pe_header(std::string_view image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return 0;
  size_t e_lfanew = read_u32(image, 0x3C);
  if (e_lfanew < 0x40 || e_lfanew > image.size() || image.size() - e_lfanew < 24) return 0;
  if (image.substr(e_lfanew, 4) != std::string_view("PE\0\0", 4)) return 0;
  return e_lfanew;
}
}  // namespace

std::optional<uint16_t> pe_machine(std::string_view image) {
  size_t pe = pe_header(image);
  if (!pe) return std::nullopt;
  return read_u16(image, pe + 4);
}

std::optional<uint64_t> pe_image_end(std::string_view image) {
  size_t pe = pe_header(image);
  if (!pe) return std::nullopt;
  uint16_t sections = read_u16(image, pe + 6);
  uint16_t optional_size = read_u16(image, pe + 20);
  uint64_t table = uint64_t(pe) + 24 + optional_size;
  if (table + uint64_t(sections) * 40 > image.size()) return std::nullopt;
  uint64_t end = 0;
  for (uint16_t i = 0; i < sections; ++i) {
    size_t entry = static_cast<size_t>(table) + size_t(i) * 40;
    uint64_t raw_size = read_u32(image, entry + 16);
    uint64_t raw_pointer = read_u32(image, entry + 20);
    if (raw_pointer + raw_size > end) end = raw_pointer + raw_size;
  }
  return end;
}

}  // namespace kyt
