// Small fixtures the build tool's tests share.
#pragma once

#include <string>

namespace kyt::build::fixtures {

// A minimal PE image: one section of 0x200 bytes at 0x200, 0x400 bytes in all.
inline std::string minimal_pe_image() {
  std::string image(0x400, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  image[0x46] = 1;     // one section
  image[0x54] = 0xE0;  // 224-byte optional header
  size_t section = 0x40 + 24 + 0xE0;
  image[section + 17] = 0x02;  // SizeOfRawData 0x200
  image[section + 21] = 0x02;  // PointerToRawData 0x200
  return image;
}

}  // namespace kyt::build::fixtures
