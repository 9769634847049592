// Where a PE image ends: the setup payload starts behind it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kyt {

// The largest PointerToRawData + SizeOfRawData over the section table, which
// follows the optional header (its size read from the file header, so both
// PE32 and PE32+ images work). Empty when the bytes are not a PE image.
std::optional<uint64_t> pe_image_end(std::string_view image);

// Machine field of the file header (0x14c i386, 0x8664 x64), empty when the
// bytes are not a PE image.
std::optional<uint16_t> pe_machine(std::string_view image);

}  // namespace kyt
