// Reading 7z archives.
//
// archive      := signature-header packed-streams next-header
// signature-header := '7z' BC AF 27 1C  major minor  crc32(start-header)
//                     start-header := offset64 size64 crc32(next-header)
// next-header  := Header | EncodedHeader
// EncodedHeader := 0x17 StreamsInfo        (its folder decodes to a next-header)
// Header       := 0x01 [0x02 ArchiveProperties] [0x03 StreamsInfo]
//                 [0x04 StreamsInfo] [0x05 FilesInfo] 0x00
// StreamsInfo  := [0x06 PackInfo] [0x07 UnpackInfo] [0x08 SubStreamsInfo] 0x00
// PackInfo     := pack-position count [0x09 size*] [0x0A Digests] 0x00
// UnpackInfo   := 0x0B count external=0 Folder* 0x0C unpack-size* [0x0A Digests] 0x00
// Folder       := count (flags id [in out] [size properties])* bind-pair* [packed-index*]
// SubStreamsInfo := [0x0D count-per-folder] [0x09 size*] [0x0A Digests] 0x00
// FilesInfo    := count (property-id size bytes)* 0x00
// Digests      := all-defined [bit-vector] crc32*
// Numbers use 7z's variable-length encoding: the count of leading one bits
// of the first byte gives the count of little-endian bytes that follow.
//
// Every count is checked against the bytes that remain before anything is
// allocated for it, and every stream against the size of the archive.
#include <algorithm>
#include <cstring>

#include "media/sevenzip/crc.h"
#include "media/sevenzip/reader_state.h"

namespace kyt::sevenzip {

namespace {

constexpr uint64_t kMaxHeaderSize = uint64_t(1) << 28;
constexpr int kMaxHeaderNesting = 4;
constexpr uint32_t kMaxCoders = 64;
constexpr uint32_t kMaxCoderStreams = 64;

// Thrown inside the header parser only; parse() turns it into an Error.
struct ParseFailure {
  Error error;
};

[[noreturn]] void fail(Error error = Error::damaged) { throw ParseFailure{error}; }

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  size_t left() const { return left_; }
  const uint8_t* position() const { return data_; }

  uint8_t byte() {
    if (left_ == 0) fail();
    --left_;
    return *data_++;
  }
  uint64_t number() {
    uint8_t first = byte();
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) return value | (uint64_t(first & (mask - 1)) << (8 * i));
      value |= uint64_t(byte()) << (8 * i);
      mask >>= 1;
    }
    return value;
  }
  // A count that must not exceed `limit`.
  uint64_t count(uint64_t limit) {
    uint64_t value = number();
    if (value > limit) fail();
    return value;
  }
  uint32_t u32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t(byte()) << (8 * i);
    return value;
  }
  uint64_t u64() {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= uint64_t(byte()) << (8 * i);
    return value;
  }
  const uint8_t* take(uint64_t size) {
    if (size > left_) fail();
    const uint8_t* p = data_;
    data_ += size;
    left_ -= size_t(size);
    return p;
  }
  std::vector<bool> bits(size_t count) {
    if (count / 8 + 1 > left_ + 1) fail();
    std::vector<bool> result(count);
    uint8_t current = 0;
    for (size_t i = 0; i < count; ++i) {
      if (i % 8 == 0) current = byte();
      result[i] = (current & (0x80 >> (i % 8))) != 0;
    }
    return result;
  }
  // all-defined byte, then a bit vector when it is 0.
  std::vector<bool> defined_bits(size_t count) {
    if (byte() != 0) return std::vector<bool>(count, true);
    return bits(count);
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

uint64_t checked_add(uint64_t a, uint64_t b) {
  if (a > UINT64_MAX - b) fail();
  return a + b;
}

void read_digests(ByteReader& in, size_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
  defined = in.defined_bits(count);
  crcs.assign(count, 0);
  for (size_t i = 0; i < count; ++i)
    if (defined[i]) crcs[i] = in.u32();
}

void read_pack_info(ByteReader& in, StreamsInfo& info) {
  info.pack_position = in.number();
  uint64_t count = in.count(in.left());
  info.pack_sizes.assign(count, 0);
  for (;;) {
    uint64_t id = in.number();
    if (id == property::end) break;
    if (id == property::size) {
      for (auto& size : info.pack_sizes) size = in.number();
    } else if (id == property::crc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      read_digests(in, count, defined, crcs);
    } else {
      fail();
    }
  }
}

void read_folder(ByteReader& in, Folder& folder) {
  uint64_t coders = in.number();
  if (coders == 0 || coders > kMaxCoders) fail(Error::unsupported);
  uint32_t total_in = 0, total_out = 0;
  for (uint64_t i = 0; i < coders; ++i) {
    Coder coder;
    uint8_t flags = in.byte();
    if (flags & 0xC0) fail(Error::unsupported);  // alternative methods were never used
    size_t id_size = flags & 0x0F;
    if (id_size > 8) fail(Error::unsupported);
    const uint8_t* id = in.take(id_size);
    coder.method.assign(id, id + id_size);
    if (flags & 0x10) {
      coder.in_streams = uint32_t(in.count(kMaxCoderStreams));
      coder.out_streams = uint32_t(in.count(kMaxCoderStreams));
    }
    if (flags & 0x20) {
      uint64_t size = in.count(in.left());
      const uint8_t* p = in.take(size);
      coder.properties.assign(p, p + size);
    }
    total_in += coder.in_streams;
    total_out += coder.out_streams;
    if (total_in > kMaxCoderStreams || total_out > kMaxCoderStreams) fail(Error::unsupported);
    folder.coders.push_back(std::move(coder));
  }
  if (total_in == 0 || total_out == 0) fail();  // every folder reads and writes a stream
  std::vector<bool> in_bound(total_in), out_bound(total_out);
  for (uint32_t i = 0; i + 1 < total_out; ++i) {
    BindPair pair;
    pair.in_index = uint32_t(in.count(total_in - 1));
    pair.out_index = uint32_t(in.count(total_out - 1));
    // Each stream is bound at most once, so the coder graph is a tree.
    if (in_bound[pair.in_index] || out_bound[pair.out_index]) fail();
    in_bound[pair.in_index] = out_bound[pair.out_index] = true;
    folder.bind_pairs.push_back(pair);
  }
  if (total_in < folder.bind_pairs.size() + 1) fail();
  size_t packed = total_in - folder.bind_pairs.size();
  if (packed == 1) {
    for (uint32_t i = 0; i < total_in; ++i)
      if (!in_bound[i]) folder.packed_streams.push_back(i);
    if (folder.packed_streams.size() != 1) fail();
  } else {
    for (size_t i = 0; i < packed; ++i) {
      uint32_t index = uint32_t(in.count(total_in - 1));
      if (in_bound[index]) fail();
      in_bound[index] = true;
      folder.packed_streams.push_back(index);
    }
  }
}

void read_unpack_info(ByteReader& in, StreamsInfo& info) {
  if (in.number() != property::folder) fail();
  uint64_t count = in.count(in.left());
  if (in.byte() != 0) fail(Error::unsupported);  // folders stored elsewhere
  // Grown one parsed folder at a time: memory follows the bytes really
  // present, not the count claimed.
  for (uint64_t i = 0; i < count; ++i) {
    Folder folder;
    read_folder(in, folder);
    info.folders.push_back(std::move(folder));
  }
  if (in.number() != property::coder_unpack_size) fail();
  for (auto& folder : info.folders) {
    size_t outputs = 0;
    for (const auto& coder : folder.coders) outputs += coder.out_streams;
    folder.unpack_sizes.resize(outputs);
    for (auto& size : folder.unpack_sizes) size = in.number();
  }
  for (;;) {
    uint64_t id = in.number();
    if (id == property::end) break;
    if (id != property::crc) fail();
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    read_digests(in, count, defined, crcs);
    for (size_t i = 0; i < count; ++i) {
      info.folders[i].has_crc = defined[i];
      info.folders[i].crc = crcs[i];
    }
  }
}

void read_substreams(ByteReader& in, StreamsInfo& info) {
  uint64_t id = in.number();
  if (id == property::num_unpack_stream) {
    // Every item but a folder's last needs a size byte, so the total is
    // bounded by what is left of the header.
    uint64_t total = 0;
    for (auto& folder : info.folders) {
      folder.unpack_streams = in.count(in.left() + 1);
      total = checked_add(total, folder.unpack_streams);
      if (total > uint64_t(in.left()) + info.folders.size()) fail();
    }
    id = in.number();
  }
  for (auto& folder : info.folders) {
    uint64_t left = folder.unpack_size();
    if (folder.unpack_streams == 0) continue;
    for (uint64_t i = 0; i + 1 < folder.unpack_streams; ++i) {
      if (id != property::size) fail();
      uint64_t size = in.number();
      if (size > left) fail();
      info.sizes.push_back(size);
      left -= size;
    }
    info.sizes.push_back(left);
  }
  size_t missing = 0;
  for (const auto& folder : info.folders)
    if (!(folder.unpack_streams == 1 && folder.has_crc)) missing += folder.unpack_streams;
  if (id == property::size) id = in.number();
  std::vector<bool> defined(missing, false);
  std::vector<uint32_t> crcs(missing, 0);
  for (;;) {
    if (id == property::end) break;
    if (id == property::crc) {
      read_digests(in, missing, defined, crcs);
    } else {
      fail();
    }
    id = in.number();
  }
  size_t next = 0;
  for (const auto& folder : info.folders) {
    if (folder.unpack_streams == 1 && folder.has_crc) {
      info.has_crc.push_back(true);
      info.crcs.push_back(folder.crc);
      continue;
    }
    for (uint64_t i = 0; i < folder.unpack_streams; ++i, ++next) {
      info.has_crc.push_back(defined[next]);
      info.crcs.push_back(crcs[next]);
    }
  }
}

StreamsInfo read_streams_info(ByteReader& in) {
  StreamsInfo info;
  bool substreams = false;
  for (;;) {
    uint64_t id = in.number();
    if (id == property::end) break;
    if (id == property::pack_info) {
      read_pack_info(in, info);
    } else if (id == property::unpack_info) {
      read_unpack_info(in, info);
    } else if (id == property::substreams) {
      read_substreams(in, info);
      substreams = true;
    } else {
      fail();
    }
  }
  if (!substreams) {
    for (const auto& folder : info.folders) {
      info.sizes.push_back(folder.unpack_size());
      info.has_crc.push_back(folder.has_crc);
      info.crcs.push_back(folder.crc);
    }
  }
  uint64_t next_pack = 0;
  for (auto& folder : info.folders) {
    folder.first_pack_stream = next_pack;
    next_pack += folder.packed_streams.size();
    if (next_pack > info.pack_sizes.size()) fail();
    if (folder.main_output() < 0) fail();
  }
  return info;
}

struct FileProperties {
  std::vector<bool> empty_stream, empty_file, anti;
  std::vector<std::u16string> names;
};

void read_times(ByteReader& in, std::vector<Entry>& entries, bool Entry::*has, uint64_t Entry::*value) {
  std::vector<bool> defined = in.defined_bits(entries.size());
  if (in.byte() != 0) fail(Error::unsupported);
  for (size_t i = 0; i < entries.size(); ++i)
    if (defined[i]) {
      entries[i].*has = true;
      entries[i].*value = in.u64();
    }
}

void read_files(ByteReader& in, Reader::State& state) {
  // Every item has a name ending in a two-byte terminator.
  uint64_t count = in.count(in.left() / 2);
  auto& entries = state.entries;
  entries.assign(count, Entry{});
  std::vector<bool> empty_stream(count, false), empty_file, anti;
  size_t empty_count = 0;
  bool have_names = false;
  for (;;) {
    uint64_t id = in.number();
    if (id == property::end) break;
    uint64_t size = in.number();
    ByteReader part(in.take(size), size_t(size));
    switch (id) {
      case property::empty_stream:
        empty_stream = part.bits(count);
        empty_count = size_t(std::count(empty_stream.begin(), empty_stream.end(), true));
        empty_file.assign(empty_count, false);
        anti.assign(empty_count, false);
        break;
      case property::empty_file:
        empty_file = part.bits(empty_count);
        break;
      case property::anti:
        anti = part.bits(empty_count);
        break;
      case property::name: {
        if (part.byte() != 0) fail(Error::unsupported);
        if (part.left() % 2 != 0) fail();
        size_t index = 0;
        std::u16string name;
        while (part.left() > 0) {
          char16_t c = char16_t(part.byte() | part.byte() << 8);
          if (c != 0) {
            name.push_back(c);
            continue;
          }
          if (index >= count) fail();
          entries[index++].name = std::move(name);
          name.clear();
        }
        if (index != count || !name.empty()) fail();
        have_names = true;
        break;
      }
      case property::ctime:
        read_times(part, entries, &Entry::has_ctime, &Entry::ctime);
        break;
      case property::atime:
        read_times(part, entries, &Entry::has_atime, &Entry::atime);
        break;
      case property::mtime:
        read_times(part, entries, &Entry::has_mtime, &Entry::mtime);
        break;
      case property::attributes: {
        std::vector<bool> defined = part.defined_bits(count);
        if (part.byte() != 0) fail(Error::unsupported);
        for (size_t i = 0; i < count; ++i)
          if (defined[i]) {
            entries[i].has_attributes = true;
            entries[i].attributes = part.u32();
          }
        break;
      }
      default:  // kDummy padding, comments, start positions, later additions
        break;
    }
  }
  if (!have_names && count > 0) fail();

  const StreamsInfo& streams = state.streams;
  state.entry_stream.assign(count, -1);
  state.entry_folder.assign(count, -1);
  size_t stream = 0, empty_index = 0, folder = 0;
  uint64_t in_folder = 0;
  for (size_t i = 0; i < count; ++i) {
    Entry& entry = entries[i];
    if (empty_stream[i]) {
      entry.is_directory = !empty_file[empty_index];
      entry.is_anti = anti[empty_index];
      ++empty_index;
      continue;
    }
    if (stream >= streams.sizes.size()) fail();
    while (folder < streams.folders.size() && in_folder >= streams.folders[folder].unpack_streams) {
      ++folder;
      in_folder = 0;
    }
    if (folder >= streams.folders.size()) fail();
    entry.has_stream = true;
    entry.size = streams.sizes[stream];
    entry.has_crc = streams.has_crc[stream];
    entry.crc = streams.crcs[stream];
    const Folder& f = streams.folders[folder];
    entry.encrypted = f.encrypted();
    if (in_folder == 0)
      for (size_t k = 0; k < f.packed_streams.size(); ++k) entry.packed_size += streams.pack_sizes[f.first_pack_stream + k];
    state.entry_stream[i] = int64_t(stream);
    state.entry_folder[i] = int64_t(folder);
    ++stream;
    ++in_folder;
  }
  if (stream != streams.sizes.size()) fail();
  for (auto& entry : entries)
    if (!entry.has_stream && entry.has_attributes && (entry.attributes & 0x10)) entry.is_directory = true;
}

// The absolute offsets of the packed streams, all inside [32, limit).
std::vector<uint64_t> pack_offsets(const StreamsInfo& info, uint64_t limit) {
  std::vector<uint64_t> offsets;
  uint64_t offset = checked_add(kStartHeaderSize, info.pack_position);
  for (uint64_t size : info.pack_sizes) {
    offsets.push_back(offset);
    offset = checked_add(offset, size);
    if (offset > limit) fail();
  }
  return offsets;
}

}  // namespace

int Folder::main_output() const {
  std::vector<bool> bound(unpack_sizes.size());
  for (const auto& pair : bind_pairs)
    if (pair.out_index < bound.size()) bound[pair.out_index] = true;
  for (size_t i = 0; i < bound.size(); ++i)
    if (!bound[i]) return int(i);
  return -1;
}

uint64_t Folder::unpack_size() const {
  int main = main_output();
  return main < 0 ? 0 : unpack_sizes[main];
}

bool Folder::encrypted() const {
  for (const auto& coder : coders)
    if (coder.method == kMethodAes) return true;
  return false;
}

Error Reader::State::explain(Error error, const Folder& folder) {
  if ((error == Error::damaged || error == Error::crc_mismatch) && folder.encrypted()) return Error::wrong_password;
  return error;
}

namespace {

struct FolderBuilder {
  Reader::State& state;
  const StreamsInfo& info;
  const Folder& folder;
  const std::vector<uint64_t>& offsets;
  std::vector<uint32_t> first_input;  // of each coder

  // The source for coder output `output`; every coder has one output.
  Error build(uint32_t output, int depth, std::unique_ptr<Source>& result) {
    if (depth > int(kMaxCoders) || output >= folder.coders.size()) return Error::damaged;
    const Coder& coder = folder.coders[output];
    std::vector<std::unique_ptr<Source>> inputs;
    for (uint32_t j = 0; j < coder.in_streams; ++j) {
      uint32_t index = first_input[output] + j;
      std::unique_ptr<Source> input;
      auto pair = std::find_if(folder.bind_pairs.begin(), folder.bind_pairs.end(),
                               [&](const BindPair& p) { return p.in_index == index; });
      if (pair != folder.bind_pairs.end()) {
        if (Error error = build(pair->out_index, depth + 1, input); error != Error::none) return error;
      } else {
        auto packed = std::find(folder.packed_streams.begin(), folder.packed_streams.end(), index);
        if (packed == folder.packed_streams.end()) return Error::damaged;
        size_t stream = size_t(folder.first_pack_stream + (packed - folder.packed_streams.begin()));
        input = make_range_source(*state.archive, offsets[stream], info.pack_sizes[stream]);
      }
      inputs.push_back(std::move(input));
    }
    const uint64_t size = folder.unpack_sizes[output];
    const auto& method = coder.method;
    auto single = [&]() { return inputs.size() == 1; };
    std::unique_ptr<Source> decoder;
    if (method == kMethodCopy && single()) {
      decoder = std::move(inputs[0]);
    } else if (method == kMethodLzma && single()) {
      if (Error e = make_lzma_decoder(std::move(inputs[0]), coder.properties, size, decoder); e != Error::none) return e;
    } else if (method == kMethodLzma2 && single()) {
      if (Error e = make_lzma2_decoder(std::move(inputs[0]), coder.properties, size, decoder); e != Error::none)
        return e;
    } else if (method == kMethodBcj && single()) {
      decoder = make_bcj_decoder(std::move(inputs[0]));
    } else if (method == kMethodBcj2 && inputs.size() == 4) {
      decoder = make_bcj2_decoder({std::move(inputs[0]), std::move(inputs[1]), std::move(inputs[2]), std::move(inputs[3])},
                                  size);
    } else if (method == kMethodAes && single()) {
      AesParameters parameters;
      if (!parse_aes_properties(coder.properties, parameters)) return Error::damaged;
      if (!state.password_asked) {
        state.password_asked = true;
        if (state.password_provider) state.password = state.password_provider();
      }
      if (state.password.empty()) return Error::wrong_password;
      std::array<uint8_t, 32> key;
      if (Error e = derive_aes_key(state.password, parameters, key); e != Error::none) return e;
      if (Error e = make_aes_decoder(std::move(inputs[0]), key, parameters.iv, decoder); e != Error::none) return e;
    } else {
      return Error::unsupported;
    }
    result = make_limited_source(std::move(decoder), size);
    return Error::none;
  }
};

}  // namespace

Error Reader::State::open_folder(const StreamsInfo& info, size_t index, std::unique_ptr<Source>& source) {
  const Folder& folder = info.folders[index];
  for (const auto& coder : folder.coders)
    if (coder.out_streams != 1) return Error::unsupported;
  const std::vector<uint64_t>& offsets = &info == &streams ? pack_offsets : pack_offsets_of_header;
  FolderBuilder builder{*this, info, folder, offsets, {}};
  uint32_t next = 0;
  for (const auto& coder : folder.coders) {
    builder.first_input.push_back(next);
    next += coder.in_streams;
  }
  return builder.build(uint32_t(folder.main_output()), 0, source);
}

Reader::Reader() : state_(std::make_unique<State>()) {}
Reader::~Reader() = default;

const std::vector<Entry>& Reader::entries() const { return state_->entries; }

namespace {

// Decodes an encoded header's first folder into memory, growing the buffer
// only as data really arrives.
Error decode_header(Reader::State& state, const StreamsInfo& info, std::vector<uint8_t>& header) {
  if (info.folders.empty()) return Error::damaged;
  const Folder& folder = info.folders[0];
  uint64_t size = folder.unpack_size();
  if (size > kMaxHeaderSize) return Error::unsupported;
  std::unique_ptr<Source> source;
  if (Error error = state.open_folder(info, 0, source); error != Error::none)
    return error == Error::damaged ? Reader::State::explain(error, folder) : error;
  header.clear();
  uint32_t crc = 0;
  while (header.size() < size) {
    size_t old = header.size();
    size_t chunk = size_t(std::min<uint64_t>(size - old, 1 << 20));
    header.resize(old + chunk);
    Error error = read_full(*source, header.data() + old, chunk);
    if (error == Error::none && chunk == 0) error = Error::damaged;
    if (error != Error::none) return Reader::State::explain(error, folder);
    header.resize(old + chunk);
    crc = crc32_update(crc, header.data() + old, chunk);
  }
  if (folder.has_crc && crc != folder.crc) return Reader::State::explain(Error::crc_mismatch, folder);
  return Error::none;
}

}  // namespace

Error Reader::open(InStream& archive, PasswordProvider password) {
  state_ = std::make_unique<State>();
  State& state = *state_;
  state.archive = &archive;
  state.password_provider = std::move(password);
  const uint64_t archive_size = archive.size();
  uint8_t start[kStartHeaderSize];
  if (archive_size < kStartHeaderSize) {
    if (archive_size >= 6 && archive.read_at(0, start, 6) && std::memcmp(start, kSignature, 6) == 0)
      return Error::damaged;
    return Error::not_archive;
  }
  if (!archive.read_at(0, start, kStartHeaderSize)) return Error::cannot_open;
  if (std::memcmp(start, kSignature, 6) != 0) return Error::not_archive;
  if (start[6] != 0) return Error::unsupported;
  auto le = [&](size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(start[at + i]) << (8 * i);
    return v;
  };
  if (crc32(start + 12, 20) != uint32_t(le(8, 4))) return Error::damaged;
  const uint64_t next_offset = le(12, 8), next_size = le(20, 8);
  const uint32_t next_crc = uint32_t(le(28, 4));
  if (next_size == 0) return next_offset == 0 ? Error::none : Error::damaged;
  if (next_offset > archive_size - kStartHeaderSize || next_size > archive_size - kStartHeaderSize - next_offset)
    return Error::damaged;
  if (next_size > kMaxHeaderSize) return Error::unsupported;
  const uint64_t data_end = kStartHeaderSize + next_offset;
  std::vector<uint8_t> header(next_size);
  if (!archive.read_at(data_end, header.data(), header.size())) return Error::cannot_open;
  if (crc32(header.data(), header.size()) != next_crc) return Error::damaged;

  try {
    for (int nesting = 0;; ++nesting) {
      if (nesting > kMaxHeaderNesting) return Error::damaged;
      ByteReader in(header.data(), header.size());
      uint64_t id = in.number();
      if (id == property::encoded_header) {
        StreamsInfo info = read_streams_info(in);
        state.pack_offsets_of_header = pack_offsets(info, data_end);
        std::vector<uint8_t> decoded;
        if (Error error = decode_header(state, info, decoded); error != Error::none) return error;
        header = std::move(decoded);
        continue;
      }
      if (id != property::header) return Error::damaged;
      id = in.number();
      if (id == property::archive_properties) {
        for (;;) {
          uint64_t type = in.number();
          if (type == 0) break;
          in.take(in.number());
        }
        id = in.number();
      }
      if (id == property::additional_streams) {
        read_streams_info(in);
        id = in.number();
      }
      if (id == property::main_streams) {
        state.streams = read_streams_info(in);
        state.pack_offsets = pack_offsets(state.streams, data_end);
        id = in.number();
      }
      if (id == property::files) {
        read_files(in, state);
        id = in.number();
      } else if (!state.streams.sizes.empty()) {
        return Error::damaged;
      }
      if (id != property::end) return Error::damaged;
      break;
    }
  } catch (const ParseFailure& failure) {
    state.entries.clear();
    return failure.error;
  }
  uint64_t next = 0;
  for (const auto& folder : state.streams.folders) {
    state.folder_first_stream.push_back(next);
    next += folder.unpack_streams;
  }
  return Error::none;
}

namespace {

class DiscardingSink : public ExtractSink {
 public:
  OutStream* open(size_t, const Entry&) override { return nullptr; }
  bool close(size_t, const Entry&, Error) override { return true; }
};

}  // namespace

Error Reader::extract(const std::vector<size_t>& indexes, ExtractSink& sink, const Progress& progress) {
  State& state = *state_;
  const auto& entries = state.entries;
  std::vector<bool> wanted(entries.size(), indexes.empty());
  uint64_t total = 0, done = 0;
  for (size_t index : indexes) {
    if (index >= entries.size()) return Error::no_such_item;
    wanted[index] = true;
  }
  for (size_t i = 0; i < entries.size(); ++i)
    if (wanted[i]) total += entries[i].size;

  std::vector<uint8_t> buffer(1 << 20);
  std::unique_ptr<Source> source;
  int64_t open_folder = -1;
  uint64_t next_stream = 0;  // the stream the open folder's source is at
  Error result = Error::none;

  for (size_t i = 0; i < entries.size(); ++i) {
    if (!wanted[i]) continue;
    const Entry& entry = entries[i];
    if (progress && !progress(entry.name, done, total)) return Error::cancelled;
    if (!entry.has_stream) {
      sink.open(i, entry);
      if (!sink.close(i, entry, Error::none)) return Error::cannot_write;
      continue;
    }
    const int64_t folder = state.entry_folder[i];
    const uint64_t stream = uint64_t(state.entry_stream[i]);
    const Folder& f = state.streams.folders[size_t(folder)];
    if (folder != open_folder || stream < next_stream) {
      source.reset();
      open_folder = -1;
      if (Error error = state.open_folder(state.streams, size_t(folder), source); error != Error::none) {
        sink.close(i, entry, State::explain(error, f));
        return State::explain(error, f);
      }
      open_folder = folder;
      next_stream = state.folder_first_stream[size_t(folder)];
    }
    // Items in between that were not asked for are decoded and dropped.
    for (; next_stream < stream; ++next_stream) {
      uint64_t left = state.streams.sizes[next_stream];
      while (left > 0) {
        size_t n = size_t(std::min<uint64_t>(left, buffer.size()));
        Error error = read_full(*source, buffer.data(), n);
        if (error == Error::none && n == 0) error = Error::damaged;
        if (error != Error::none) {
          sink.close(i, entry, State::explain(error, f));
          return State::explain(error, f);
        }
        left -= n;
      }
    }
    OutStream* out = sink.open(i, entry);
    uint32_t crc = 0;
    uint64_t offset = 0;
    Error error = Error::none;
    while (offset < entry.size) {
      size_t n = size_t(std::min<uint64_t>(entry.size - offset, buffer.size()));
      error = read_full(*source, buffer.data(), n);
      if (error == Error::none && n == 0) error = Error::damaged;
      if (error != Error::none) break;
      crc = crc32_update(crc, buffer.data(), n);
      if (out && !out->write_at(offset, buffer.data(), n)) {
        error = Error::cannot_write;
        break;
      }
      offset += n;
      done += n;
      if (progress && !progress(entry.name, done, total)) {
        sink.close(i, entry, Error::cancelled);
        return Error::cancelled;
      }
    }
    ++next_stream;
    if (error == Error::none && entry.has_crc && crc != entry.crc) error = Error::crc_mismatch;
    error = State::explain(error, f);
    if (!sink.close(i, entry, error) && error == Error::none) return Error::cannot_write;
    if (error == Error::crc_mismatch) {
      if (result == Error::none) result = error;
      continue;
    }
    if (error != Error::none) return error;
  }
  return result;
}

Error Reader::test(const Progress& progress) {
  DiscardingSink sink;
  return extract({}, sink, progress);
}

}  // namespace kyt::sevenzip
