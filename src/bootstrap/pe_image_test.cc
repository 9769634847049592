#include "bootstrap/pe_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootstrap/payload.h"

namespace kyt {
namespace {

struct Section {
  uint32_t raw_pointer;
  uint32_t raw_size;
};

void put16(std::string& image, size_t at, uint16_t value) {
  image[at] = static_cast<char>(value & 0xFF);
  image[at + 1] = static_cast<char>(value >> 8);
}
void put32(std::string& image, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The headers of an image: DOS header, "PE\0\0", file header, an optional
// header of the given size and the section table, nothing more.
std::string pe_headers(const std::vector<Section>& sections, uint16_t optional_size = 224, uint16_t machine = 0x14C,
                       uint32_t e_lfanew = 0x80) {
  std::string image(e_lfanew + 24 + optional_size + 40 * sections.size(), '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 0x3C, e_lfanew);
  image.replace(e_lfanew, 4, std::string("PE\0\0", 4));
  put16(image, e_lfanew + 4, machine);
  put16(image, e_lfanew + 6, static_cast<uint16_t>(sections.size()));
  put16(image, e_lfanew + 20, optional_size);
  put16(image, e_lfanew + 24, optional_size == 240 ? 0x20B : 0x10B);
  size_t table = e_lfanew + 24 + optional_size;
  for (size_t i = 0; i < sections.size(); ++i) {
    size_t entry = table + 40 * i;
    image.replace(entry, 5, ".sec" + std::to_string(i % 10));
    put32(image, entry + 16, sections[i].raw_size);
    put32(image, entry + 20, sections[i].raw_pointer);
  }
  return image;
}

TEST(PeImage, Pe32EndIsTheLargestSectionEnd) {
  // The largest end is not the last section's.
  std::string image = pe_headers({{0x400, 0x200}, {0x600, 0x1000}, {0x1600, 0}, {0x200, 0x100}});
  EXPECT_EQ(image.find("PE"), 0x80u);
  EXPECT_EQ(image.find(".sec0"), 0x80u + 248);  // directly behind a 224-byte optional header
  EXPECT_EQ(pe_image_end(image), 0x1600u);
  EXPECT_EQ(pe_machine(image), 0x14C);
}

TEST(PeImage, Pe32PlusUsesItsLargerOptionalHeader) {
  std::string image = pe_headers({{0x400, 0x800}, {0xC00, 0x234}}, 240, 0x8664);
  EXPECT_EQ(pe_image_end(image), 0xE34u);
  EXPECT_EQ(pe_machine(image), 0x8664);
}

TEST(PeImage, HeaderAtAnotherOffset) {
  std::string image = pe_headers({{0x1000, 0x2000}}, 224, 0x14C, 0x100);
  EXPECT_EQ(pe_image_end(image), 0x3000u);
}

TEST(PeImage, SectionEndsBeyond32Bits) {
  std::string image = pe_headers({{0xFFFFFF00, 0x200}});
  EXPECT_EQ(pe_image_end(image), 0x100000100ull);
}

TEST(PeImage, NoSectionsEndAtZero) { EXPECT_EQ(pe_image_end(pe_headers({})), 0u); }

TEST(PeImage, NonPeInputIsRejected) {
  const std::string good = pe_headers({{0x400, 0x200}});
  ASSERT_TRUE(pe_image_end(good).has_value());

  std::vector<std::pair<const char*, std::string>> cases;
  cases.push_back({"empty", ""});
  cases.push_back({"text", "This is a setup script, not an executable image, and it is long enough."});
  cases.push_back({"only MZ", "MZ"});
  cases.push_back({"cut inside the DOS header", good.substr(0, 0x3F)});
  std::string no_mz = good;
  no_mz[0] = 'Z';
  cases.push_back({"no MZ", no_mz});
  std::string no_signature = good;
  no_signature[0x81] = 'X';
  cases.push_back({"no PE signature", no_signature});
  std::string beyond = good;
  put32(beyond, 0x3C, static_cast<uint32_t>(good.size()) + 16);
  cases.push_back({"e_lfanew past the end", beyond});
  std::string huge = good;
  put32(huge, 0x3C, 0xFFFFFFFF);
  cases.push_back({"e_lfanew at 4 GB", huge});
  std::string inside_dos = good;
  put32(inside_dos, 0x3C, 0x10);
  cases.push_back({"e_lfanew inside the DOS header", inside_dos});
  cases.push_back({"file header cut", good.substr(0, 0x80 + 20)});

  for (const auto& [what, bytes] : cases) {
    EXPECT_EQ(pe_image_end(bytes), std::nullopt) << what;
    EXPECT_EQ(pe_machine(bytes), std::nullopt) << what;
  }
}

TEST(PeImage, SectionTablePastTheEndIsRejected) {
  std::string image = pe_headers({{0x400, 0x200}, {0x600, 0x200}});
  EXPECT_EQ(pe_image_end(image.substr(0, image.size() - 1)), std::nullopt);
  put16(image, 0x80 + 6, 3);  // claims one more section than there is room for
  EXPECT_EQ(pe_image_end(image), std::nullopt);
  std::string large_optional = pe_headers({{0x400, 0x200}});
  put16(large_optional, 0x80 + 20, 0xFFFF);
  EXPECT_EQ(pe_image_end(large_optional), std::nullopt);
}

TEST(PeImage, PayloadStartsAtTheImageEnd) {
  // An engine file: headers, section data up to the image end, then the payload.
  std::string engine = pe_headers({{0x200, 0x200}, {0x400, 0x100}});
  engine.resize(0x500, '\x90');
  Payload payload;
  payload.command_names = {u"Comment"};
  payload.command_ids = {u"{A}"};
  payload.command_flags = {u""};
  payload.product_title = u"Demo";
  std::string text, error;
  ASSERT_TRUE(write_payload(payload, text, error)) << error;
  engine += text;

  auto end = pe_image_end(engine);
  ASSERT_EQ(end, 0x500u);
  Payload parsed;
  ASSERT_EQ(parse_payload(std::string_view(engine).substr(*end), parsed), PayloadStatus::ok);
  EXPECT_EQ(parsed.command_names, payload.command_names);
  EXPECT_EQ(parsed.product_title, u"Demo");
  // A file that ends at the image end carries no payload.
  EXPECT_EQ(parse_payload(std::string_view(engine).substr(0, *end).substr(*end), parsed), PayloadStatus::missing);
}

}  // namespace
}  // namespace kyt
