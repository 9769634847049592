// Internal description of a 7z archive's streams, shared by the reader and
// the writer (see reader.cc for the header grammar).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/sevenzip/archive.h"

namespace kyt::sevenzip {

namespace property {
enum : uint8_t {
  end = 0x00,
  header = 0x01,
  archive_properties = 0x02,
  additional_streams = 0x03,
  main_streams = 0x04,
  files = 0x05,
  pack_info = 0x06,
  unpack_info = 0x07,
  substreams = 0x08,
  size = 0x09,
  crc = 0x0A,
  folder = 0x0B,
  coder_unpack_size = 0x0C,
  num_unpack_stream = 0x0D,
  empty_stream = 0x0E,
  empty_file = 0x0F,
  anti = 0x10,
  name = 0x11,
  ctime = 0x12,
  atime = 0x13,
  mtime = 0x14,
  attributes = 0x15,
  comment = 0x16,
  encoded_header = 0x17,
  start_position = 0x18,
  dummy = 0x19,
};
}  // namespace property

// Method identifiers as stored.
inline const std::vector<uint8_t> kMethodCopy = {0x00};
inline const std::vector<uint8_t> kMethodLzma = {0x03, 0x01, 0x01};
inline const std::vector<uint8_t> kMethodLzma2 = {0x21};
inline const std::vector<uint8_t> kMethodBcj = {0x03, 0x03, 0x01, 0x03};
inline const std::vector<uint8_t> kMethodBcj2 = {0x03, 0x03, 0x01, 0x1B};
inline const std::vector<uint8_t> kMethodAes = {0x06, 0xF1, 0x07, 0x01};

constexpr uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t kStartHeaderSize = 32;

struct Coder {
  std::vector<uint8_t> method;
  uint32_t in_streams = 1;   // packed side
  uint32_t out_streams = 1;  // unpacked side
  std::vector<uint8_t> properties;
};

struct BindPair {
  uint32_t in_index;   // a coder input ...
  uint32_t out_index;  // ... fed by this coder output
};

struct Folder {
  std::vector<Coder> coders;
  std::vector<BindPair> bind_pairs;
  std::vector<uint32_t> packed_streams;  // coder inputs fed by the folder's packed streams, in order
  std::vector<uint64_t> unpack_sizes;    // one per coder output
  bool has_crc = false;
  uint32_t crc = 0;
  // Filled from the rest of the header:
  uint64_t first_pack_stream = 0;
  uint64_t unpack_streams = 1;

  // The output no bind pair consumes: the folder's data.
  int main_output() const;
  uint64_t unpack_size() const;
  bool encrypted() const;
};

// The streams of an archive (or of an encoded header).
struct StreamsInfo {
  uint64_t pack_position = 0;
  std::vector<uint64_t> pack_sizes;
  std::vector<Folder> folders;
  // Per unpacked stream (item with data), folder by folder.
  std::vector<uint64_t> sizes;
  std::vector<bool> has_crc;
  std::vector<uint32_t> crcs;
};

// Appends 7z's variable-length number encoding.
void write_number(std::vector<uint8_t>& out, uint64_t value);

}  // namespace kyt::sevenzip
