// Writing 7z archives and rewriting them without some items.
//
// Layout written: the signature header, the packed streams of every folder
// in order, then the header (LZMA-compressed and optionally AES-encrypted
// behind an EncodedHeader), and finally the signature header's fields.
// A folder is [filter] -> method -> [AES]: coder 0 produces the items'
// bytes, each following coder feeds the one before it, and the last coder
// reads the folder's single packed stream.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "media/sevenzip/crc.h"
#include "media/sevenzip/reader_state.h"

namespace kyt::sevenzip {

void write_number(std::vector<uint8_t>& out, uint64_t value) {
  int extra = 0;
  while (extra < 8 && value >= (uint64_t(1) << (7 * (extra + 1)))) ++extra;
  if (extra == 8) {
    out.push_back(0xFF);
  } else {
    uint8_t high = uint8_t(value >> (8 * extra));
    out.push_back(uint8_t((0xFF00 >> extra) & 0xFF) | high);
  }
  for (int i = 0; i < extra; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

namespace {

// One item of the archive being written, with all its metadata.
struct OutFile {
  std::u16string name;
  bool has_stream = false;
  bool is_directory = false;
  bool is_anti = false;
  bool has_attributes = false;
  uint32_t attributes = 0;
  bool has_mtime = false, has_ctime = false, has_atime = false;
  uint64_t mtime = 0, ctime = 0, atime = 0;
};

// A folder ready to be described in the header.
struct OutFolder {
  Folder folder;
  std::vector<uint64_t> pack_sizes;
  std::vector<uint64_t> sizes;
  std::vector<bool> has_crc;
  std::vector<uint32_t> crcs;
};

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
void put_u64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void put_bits(std::vector<uint8_t>& out, const std::vector<bool>& bits) {
  uint8_t current = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    if (bits[i]) current |= uint8_t(0x80 >> (i % 8));
    if (i % 8 == 7) {
      out.push_back(current);
      current = 0;
    }
  }
  if (bits.size() % 8) out.push_back(current);
}

void put_defined(std::vector<uint8_t>& out, const std::vector<bool>& defined) {
  if (std::all_of(defined.begin(), defined.end(), [](bool b) { return b; })) {
    out.push_back(1);
  } else {
    out.push_back(0);
    put_bits(out, defined);
  }
}

void put_folder(std::vector<uint8_t>& out, const Folder& folder) {
  write_number(out, folder.coders.size());
  for (const auto& coder : folder.coders) {
    bool complex = coder.in_streams != 1 || coder.out_streams != 1;
    uint8_t flags = uint8_t(coder.method.size()) | (complex ? 0x10 : 0) | (coder.properties.empty() ? 0 : 0x20);
    out.push_back(flags);
    out.insert(out.end(), coder.method.begin(), coder.method.end());
    if (complex) {
      write_number(out, coder.in_streams);
      write_number(out, coder.out_streams);
    }
    if (!coder.properties.empty()) {
      write_number(out, coder.properties.size());
      out.insert(out.end(), coder.properties.begin(), coder.properties.end());
    }
  }
  for (const auto& pair : folder.bind_pairs) {
    write_number(out, pair.in_index);
    write_number(out, pair.out_index);
  }
  if (folder.packed_streams.size() > 1)
    for (uint32_t index : folder.packed_streams) write_number(out, index);
}

void put_streams_info(std::vector<uint8_t>& out, uint64_t pack_position, const std::vector<OutFolder>& folders,
                      bool substreams) {
  out.push_back(property::pack_info);
  write_number(out, pack_position);
  size_t pack_count = 0;
  for (const auto& f : folders) pack_count += f.pack_sizes.size();
  write_number(out, pack_count);
  out.push_back(property::size);
  for (const auto& f : folders)
    for (uint64_t size : f.pack_sizes) write_number(out, size);
  out.push_back(property::end);

  out.push_back(property::unpack_info);
  out.push_back(property::folder);
  write_number(out, folders.size());
  out.push_back(0);
  for (const auto& f : folders) put_folder(out, f.folder);
  out.push_back(property::coder_unpack_size);
  for (const auto& f : folders)
    for (uint64_t size : f.folder.unpack_sizes) write_number(out, size);
  std::vector<bool> folder_crc;
  for (const auto& f : folders) folder_crc.push_back(f.folder.has_crc);
  if (std::any_of(folder_crc.begin(), folder_crc.end(), [](bool b) { return b; })) {
    out.push_back(property::crc);
    put_defined(out, folder_crc);
    for (const auto& f : folders)
      if (f.folder.has_crc) put_u32(out, f.folder.crc);
  }
  out.push_back(property::end);

  if (substreams) {
    out.push_back(property::substreams);
    if (std::any_of(folders.begin(), folders.end(), [](const OutFolder& f) { return f.sizes.size() != 1; })) {
      out.push_back(property::num_unpack_stream);
      for (const auto& f : folders) write_number(out, f.sizes.size());
    }
    bool any_size = false;
    for (const auto& f : folders) any_size |= f.sizes.size() > 1;
    if (any_size) {
      out.push_back(property::size);
      for (const auto& f : folders)
        for (size_t i = 0; i + 1 < f.sizes.size(); ++i) write_number(out, f.sizes[i]);
    }
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    for (const auto& f : folders) {
      if (f.sizes.size() == 1 && f.folder.has_crc) continue;
      for (size_t i = 0; i < f.sizes.size(); ++i) {
        defined.push_back(f.has_crc[i]);
        crcs.push_back(f.crcs[i]);
      }
    }
    if (!defined.empty()) {
      out.push_back(property::crc);
      put_defined(out, defined);
      for (size_t i = 0; i < defined.size(); ++i)
        if (defined[i]) put_u32(out, crcs[i]);
    }
    out.push_back(property::end);
  }
  out.push_back(property::end);
}

void put_property(std::vector<uint8_t>& out, uint8_t id, const std::vector<uint8_t>& data) {
  out.push_back(id);
  write_number(out, data.size());
  out.insert(out.end(), data.begin(), data.end());
}

std::vector<uint8_t> build_header(const std::vector<OutFolder>& folders, const std::vector<OutFile>& files) {
  std::vector<uint8_t> out;
  out.push_back(property::header);
  if (!folders.empty()) {
    out.push_back(property::main_streams);
    put_streams_info(out, 0, folders, true);
  }
  if (!files.empty()) {
    out.push_back(property::files);
    write_number(out, files.size());
    std::vector<bool> empty_stream, empty_file, anti;
    for (const auto& f : files) {
      empty_stream.push_back(!f.has_stream);
      if (!f.has_stream) {
        empty_file.push_back(!f.is_directory);
        anti.push_back(f.is_anti);
      }
    }
    std::vector<uint8_t> data;
    if (!empty_file.empty()) {
      put_bits(data, empty_stream);
      put_property(out, property::empty_stream, data);
      if (std::any_of(empty_file.begin(), empty_file.end(), [](bool b) { return b; })) {
        data.clear();
        put_bits(data, empty_file);
        put_property(out, property::empty_file, data);
      }
      if (std::any_of(anti.begin(), anti.end(), [](bool b) { return b; })) {
        data.clear();
        put_bits(data, anti);
        put_property(out, property::anti, data);
      }
    }
    data.assign(1, 0);
    // Names are stored with "/": 7-Zip reads it as a separator everywhere,
    // while its non-Windows builds take "\\" for part of a file name.
    for (const auto& f : files) {
      for (char16_t c : f.name) {
        if (c == u'\\') c = u'/';
        data.push_back(uint8_t(c));
        data.push_back(uint8_t(c >> 8));
      }
      data.push_back(0);
      data.push_back(0);
    }
    put_property(out, property::name, data);
    auto put_times = [&](uint8_t id, bool OutFile::*has, uint64_t OutFile::*value) {
      std::vector<bool> defined;
      for (const auto& f : files) defined.push_back(f.*has);
      if (std::none_of(defined.begin(), defined.end(), [](bool b) { return b; })) return;
      data.clear();
      put_defined(data, defined);
      data.push_back(0);
      for (const auto& f : files)
        if (f.*has) put_u64(data, f.*value);
      put_property(out, id, data);
    };
    put_times(property::ctime, &OutFile::has_ctime, &OutFile::ctime);
    put_times(property::atime, &OutFile::has_atime, &OutFile::atime);
    put_times(property::mtime, &OutFile::has_mtime, &OutFile::mtime);
    std::vector<bool> defined;
    for (const auto& f : files) defined.push_back(f.has_attributes);
    if (std::any_of(defined.begin(), defined.end(), [](bool b) { return b; })) {
      data.clear();
      put_defined(data, defined);
      data.push_back(0);
      for (const auto& f : files)
        if (f.has_attributes) put_u32(data, f.attributes);
      put_property(out, property::attributes, data);
    }
    out.push_back(property::end);
  }
  out.push_back(property::end);
  return out;
}

// Writes to the archive from a position on and counts what went through.
class StreamSink : public Sink {
 public:
  StreamSink(OutStream& out, uint64_t position) : out_(out), position_(position) {}
  Error write(const uint8_t* data, size_t length) override {
    if (!out_.write_at(position_, data, length)) return Error::cannot_write;
    position_ += length;
    return Error::none;
  }
  uint64_t position() const { return position_; }

 private:
  OutStream& out_;
  uint64_t position_;
};

class MemorySink : public Sink {
 public:
  Error write(const uint8_t* data, size_t length) override {
    bytes.insert(bytes.end(), data, data + length);
    return Error::none;
  }
  std::vector<uint8_t> bytes;
};

class CountingSink : public Sink {
 public:
  explicit CountingSink(Sink& inner) : inner_(inner) {}
  Error write(const uint8_t* data, size_t length) override {
    count += length;
    return inner_.write(data, length);
  }
  uint64_t count = 0;

 private:
  Sink& inner_;
};

class BorrowedSource : public Source {
 public:
  explicit BorrowedSource(Source& inner) : inner_(inner) {}
  Error read(uint8_t* data, size_t& length) override { return inner_.read(data, length); }

 private:
  Source& inner_;
};

class InStreamSource : public Source {
 public:
  explicit InStreamSource(std::unique_ptr<InStream> stream) : stream_(std::move(stream)), left_(stream_->size()) {}
  Error read(uint8_t* data, size_t& length) override {
    length = size_t(std::min<uint64_t>(length, left_));
    if (length == 0) return Error::none;
    if (!stream_->read_at(offset_, data, length)) {
      length = 0;
      return Error::cannot_open;
    }
    offset_ += length;
    left_ -= length;
    return Error::none;
  }

 private:
  std::unique_ptr<InStream> stream_;
  uint64_t offset_ = 0, left_;
};

// Opens the data of one item of a folder being written.
using ItemOpener = std::function<Error(std::unique_ptr<Source>&)>;

// Shared progress accounting; workers report through it.
struct ProgressState {
  const Progress* callback = nullptr;
  std::mutex mutex;
  uint64_t done = 0, total = 0;
  std::atomic<bool> cancelled{false};
  bool report(const std::u16string& item, uint64_t bytes) {
    if (cancelled) return false;
    if (!callback || !*callback) return true;
    std::lock_guard lock(mutex);
    done += bytes;
    if (!(*callback)(item, done, total)) cancelled = true;
    return !cancelled;
  }
};

// The items of a folder one after the other, with each one's size and CRC.
class ItemsSource : public Source {
 public:
  ItemsSource(std::vector<ItemOpener> openers, std::vector<std::u16string> names, ProgressState& progress)
      : openers_(std::move(openers)), names_(std::move(names)), progress_(progress) {}
  Error read(uint8_t* data, size_t& length) override {
    while (index_ < openers_.size()) {
      if (!current_) {
        if (Error error = openers_[index_](current_); error != Error::none) return fail(error, length);
        sizes.push_back(0);
        crcs.push_back(0);
      }
      size_t n = length;
      if (Error error = current_->read(data, n); error != Error::none) return fail(error, length);
      if (n > 0) {
        sizes.back() += n;
        crcs.back() = crc32_update(crcs.back(), data, n);
        if (!progress_.report(names_[index_], n)) return fail(Error::cancelled, length);
        length = n;
        return Error::none;
      }
      current_.reset();
      ++index_;
    }
    length = 0;
    return Error::none;
  }
  std::vector<uint64_t> sizes;
  std::vector<uint32_t> crcs;

 private:
  Error fail(Error error, size_t& length) {
    length = 0;
    return error;
  }
  std::vector<ItemOpener> openers_;
  std::vector<std::u16string> names_;
  ProgressState& progress_;
  size_t index_ = 0;
  std::unique_ptr<Source> current_;
};

struct FolderJob {
  std::vector<ItemOpener> openers;
  std::vector<std::u16string> names;
  uint64_t expected_size = 0;
};

// Encodes one folder into `out` (its single packed stream).
Error encode_folder(FolderJob job, const WriterOptions& options, ProgressState& progress, Sink& out,
                    OutFolder& result) {
  ItemsSource items(std::move(job.openers), std::move(job.names), progress);
  std::unique_ptr<Source> filtered;
  Source* input = &items;
  // BCJ2 needs four packed streams and a second encoder; BCJ gives most of
  // its gain on x86 code, so a request for BCJ2 is written as BCJ.
  if (options.filter != Filter::none) {
    filtered = make_bcj_encoder(std::make_unique<BorrowedSource>(items));
    input = filtered.get();
  }
  CountingSink packed(out);
  std::unique_ptr<AesEncryptSink> aes;
  AesParameters aes_parameters;
  Sink* coder_output = &packed;
  if (!options.password.empty()) {
    aes_parameters = new_aes_parameters();
    std::array<uint8_t, 32> key;
    if (Error error = derive_aes_key(options.password, aes_parameters, key); error != Error::none) return error;
    aes = std::make_unique<AesEncryptSink>(packed, key, aes_parameters.iv);
    coder_output = aes.get();
  }
  CountingSink coded(*coder_output);
  Coder method;
  LzmaSettings settings;
  settings.dictionary = options.dictionary;
  settings.level = options.level;
  settings.fast_bytes = int(options.fast_bytes);
  settings.binary_tree = options.binary_tree;
  settings.expected_size = job.expected_size;
  Error error = Error::none;
  switch (options.method) {
    case Method::copy: {
      method.method = kMethodCopy;
      std::vector<uint8_t> buffer(1 << 16);
      for (;;) {
        size_t n = buffer.size();
        if ((error = input->read(buffer.data(), n)) != Error::none || n == 0) break;
        if ((error = coded.write(buffer.data(), n)) != Error::none) break;
      }
      break;
    }
    case Method::lzma:
      method.method = kMethodLzma;
      error = lzma_encode(*input, coded, settings, method.properties);
      break;
    case Method::lzma2:
      method.method = kMethodLzma2;
      error = lzma2_encode(*input, coded, settings, method.properties);
      break;
  }
  if (error == Error::none && aes) error = aes->finish();
  if (error != Error::none) return error;

  uint64_t total = 0;
  for (uint64_t size : items.sizes) total += size;
  Folder& folder = result.folder;
  folder = Folder{};
  if (options.filter != Filter::none) {
    folder.coders.push_back(Coder{kMethodBcj, 1, 1, {}});
    folder.unpack_sizes.push_back(total);
  }
  folder.coders.push_back(method);
  folder.unpack_sizes.push_back(total);
  if (aes) {
    folder.coders.push_back(Coder{kMethodAes, 1, 1, aes_properties(aes_parameters)});
    folder.unpack_sizes.push_back(coded.count);
  }
  for (uint32_t i = 1; i < folder.coders.size(); ++i) folder.bind_pairs.push_back({i - 1, i});
  folder.packed_streams = {uint32_t(folder.coders.size() - 1)};
  folder.unpack_streams = items.sizes.size();
  result.pack_sizes = {packed.count};
  result.sizes = items.sizes;
  result.crcs = items.crcs;
  result.has_crc.assign(items.sizes.size(), true);
  if (items.sizes.size() == 1) {
    folder.has_crc = true;
    folder.crc = items.crcs[0];
  }
  return Error::none;
}

// A folder to be written: either encoded from items or copied unchanged
// from an existing archive.
struct PlannedFolder {
  FolderJob job;
  bool copy = false;
  OutFolder copied;                         // folder description when copying
  std::vector<std::pair<uint64_t, uint64_t>> copy_ranges;  // absolute offset, size in the source archive
  InStream* copy_from = nullptr;
  std::vector<std::pair<bool, uint32_t>> expected_crcs;  // re-encoded items: the CRCs they had
};

Error copy_range(InStream& from, uint64_t offset, uint64_t size, Sink& out, ProgressState& progress) {
  std::vector<uint8_t> buffer(size_t(std::min<uint64_t>(size, 1 << 20)));
  while (size > 0) {
    size_t n = size_t(std::min<uint64_t>(size, buffer.size()));
    if (!from.read_at(offset, buffer.data(), n)) return Error::damaged;
    if (Error error = out.write(buffer.data(), n); error != Error::none) return error;
    if (!progress.report(u"", 0)) return Error::cancelled;
    offset += n;
    size -= n;
  }
  return Error::none;
}

Error produce_folder(PlannedFolder& plan, const WriterOptions& options, ProgressState& progress, Sink& out,
                     OutFolder& result) {
  if (!plan.copy) return encode_folder(std::move(plan.job), options, progress, out, result);
  result = plan.copied;
  for (const auto& [offset, size] : plan.copy_ranges)
    if (Error error = copy_range(*plan.copy_from, offset, size, out, progress); error != Error::none) return error;
  return Error::none;
}

// Writes all folders starting at offset 32; with several threads, folders
// are encoded into memory in parallel and written in order.
Error write_folders(OutStream& out, std::vector<PlannedFolder>& plans, const WriterOptions& options,
                    ProgressState& progress, std::vector<OutFolder>& results, uint64_t& end) {
  results.assign(plans.size(), OutFolder{});
  StreamSink sink(out, kStartHeaderSize);
  const size_t threads = size_t(std::clamp(options.threads, 1, 64));
  if (threads == 1 || plans.size() <= 1) {
    for (size_t i = 0; i < plans.size(); ++i)
      if (Error error = produce_folder(plans[i], options, progress, sink, results[i]); error != Error::none)
        return error;
    end = sink.position();
    return Error::none;
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::unique_ptr<MemorySink>> buffers(plans.size());
  std::vector<Error> errors(plans.size(), Error::none);
  std::vector<bool> finished(plans.size(), false);
  size_t next_job = 0, written = 0;
  bool stop = false;
  // At most twice as many folders in memory as there are threads.
  auto worker = [&] {
    for (;;) {
      size_t job;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || next_job >= plans.size() || next_job < written + 2 * threads; });
        if (stop || next_job >= plans.size()) return;
        job = next_job++;
      }
      auto buffer = std::make_unique<MemorySink>();
      Error error = produce_folder(plans[job], options, progress, *buffer, results[job]);
      std::lock_guard lock(mutex);
      buffers[job] = std::move(buffer);
      errors[job] = error;
      finished[job] = true;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (size_t i = 0; i < std::min(threads, plans.size()); ++i) pool.emplace_back(worker);
  Error result = Error::none;
  for (; written < plans.size(); ++written) {
    std::unique_ptr<MemorySink> buffer;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return bool(finished[written]); });
      buffer = std::move(buffers[written]);
      result = errors[written];
    }
    if (result == Error::none) result = sink.write(buffer->bytes.data(), buffer->bytes.size());
    if (result != Error::none) break;
    std::lock_guard lock(mutex);
    changed.notify_all();
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
    changed.notify_all();
  }
  for (auto& thread : pool) thread.join();
  end = sink.position();
  return result;
}

// Writes the header after the packed data, then the signature header.
Error finish_archive(OutStream& out, uint64_t data_end, std::vector<OutFolder>& folders,
                     const std::vector<OutFile>& files, const WriterOptions& options) {
  std::vector<uint8_t> header;
  // An archive without items is the signature header alone.
  if (!folders.empty() || !files.empty()) header = build_header(folders, files);
  const bool encrypt = options.encrypt_headers && !options.password.empty();
  if (!header.empty() && (options.compress_headers || encrypt)) {
    WriterOptions header_options;
    header_options.method = options.compress_headers ? Method::lzma : Method::copy;
    header_options.filter = Filter::none;
    header_options.level = 5;
    header_options.dictionary = 1u << 20;
    header_options.fast_bytes = 32;
    header_options.password = encrypt ? options.password : u"";
    ProgressState quiet;
    FolderJob job;
    auto bytes = std::make_shared<std::vector<uint8_t>>(std::move(header));
    job.expected_size = bytes->size();
    job.openers.push_back([bytes](std::unique_ptr<Source>& source) {
      struct VectorSource : Source {
        std::shared_ptr<std::vector<uint8_t>> bytes;
        size_t position = 0;
        Error read(uint8_t* data, size_t& length) override {
          length = std::min(length, bytes->size() - position);
          std::memcpy(data, bytes->data() + position, length);
          position += length;
          return Error::none;
        }
      };
      auto s = std::make_unique<VectorSource>();
      s->bytes = bytes;
      source = std::move(s);
      return Error::none;
    });
    job.names.push_back(u"");
    StreamSink sink(out, data_end);
    OutFolder encoded;
    if (Error error = encode_folder(std::move(job), header_options, quiet, sink, encoded); error != Error::none)
      return error;
    encoded.folder.has_crc = true;
    encoded.folder.crc = crc32(bytes->data(), bytes->size());
    encoded.sizes.clear();
    header.clear();
    header.push_back(property::encoded_header);
    put_streams_info(header, data_end - kStartHeaderSize, {encoded}, false);
    data_end = sink.position();
  }
  if (!out.write_at(data_end, header.data(), header.size())) return Error::cannot_write;
  uint8_t start[kStartHeaderSize] = {};
  std::memcpy(start, kSignature, 6);
  start[6] = 0;
  start[7] = 4;
  std::vector<uint8_t> fields;
  put_u64(fields, data_end - kStartHeaderSize);
  put_u64(fields, header.size());
  put_u32(fields, header.empty() ? 0 : crc32(header.data(), header.size()));
  if (header.empty()) fields.assign(20, 0);
  std::memcpy(start + 12, fields.data(), 20);
  uint32_t start_crc = crc32(start + 12, 20);
  for (int i = 0; i < 4; ++i) start[8 + i] = uint8_t(start_crc >> (8 * i));
  if (!out.write_at(0, start, sizeof start)) return Error::cannot_write;
  return Error::none;
}

// When blocks are compressed in parallel and no block size was given, the
// data is cut into blocks of at most four dictionaries (as a multi-threaded
// LZMA2 coder would) and small enough to give every thread two blocks, so
// that no thread is left with a long tail; never below 1 MiB.
uint64_t effective_block_size(const WriterOptions& options, uint64_t total) {
  if (options.solid_block_size != 0) return options.solid_block_size;
  if (options.threads <= 1) return 0;
  uint64_t balanced = total / (uint64_t(options.threads) * 2) + 1;
  return std::max<uint64_t>(std::min<uint64_t>(uint64_t(options.dictionary) * 4, balanced), 1 << 20);
}

}  // namespace

Error write_archive(OutStream& out, const std::vector<WriterItem>& items, const WriterOptions& options,
                    const Progress& progress) {
  if (options.encrypt_headers && options.password.empty()) return Error::bad_switch;
  std::vector<OutFile> files;
  std::vector<PlannedFolder> plans;
  ProgressState state;
  state.callback = &progress;
  std::vector<uint64_t> sizes;
  for (const auto& item : items) {
    uint64_t size = 0;
    if (!item.is_directory) {
      if (!item.open) return Error::cannot_open;
      auto stream = item.open();
      if (!stream) return Error::cannot_open;
      size = stream->size();
    }
    sizes.push_back(size);
    state.total += size;
  }
  const uint64_t block_size = effective_block_size(options, state.total);
  uint64_t block_fill = 0;
  std::vector<OutFile> with_data, without_data;
  for (size_t index = 0; index < items.size(); ++index) {
    const WriterItem& item = items[index];
    const uint64_t size = sizes[index];
    OutFile file;
    file.name = item.name;
    file.is_directory = item.is_directory;
    file.has_attributes = true;
    file.attributes = item.attributes | (item.is_directory ? 0x10u : 0u);
    file.has_mtime = item.has_mtime;
    file.mtime = item.mtime;
    if (size == 0) {
      without_data.push_back(file);
      continue;
    }
    file.has_stream = true;
    bool new_folder = plans.empty() || !options.solid || (block_size != 0 && block_fill + size > block_size && block_fill > 0);
    if (new_folder) {
      plans.emplace_back();
      block_fill = 0;
    }
    FolderJob& job = plans.back().job;
    auto open = item.open;
    job.openers.push_back([open](std::unique_ptr<Source>& source) {
      auto stream = open();
      if (!stream) return Error::cannot_open;
      source = std::make_unique<InStreamSource>(std::move(stream));
      return Error::none;
    });
    job.names.push_back(item.name);
    job.expected_size += size;
    block_fill += size;
    with_data.push_back(file);
  }
  // Items with data come first, in folder order, then the empty ones.
  files = std::move(with_data);
  files.insert(files.end(), without_data.begin(), without_data.end());
  std::vector<OutFolder> folders;
  uint64_t end = kStartHeaderSize;
  if (Error error = write_folders(out, plans, options, state, folders, end); error != Error::none) return error;
  return finish_archive(out, end, folders, files, options);
}

namespace {

bool name_matches(const std::u16string& name, const std::u16string& pattern) {
  auto fold = [](char16_t c) -> char16_t {
    if (c == u'/') return u'\\';
    if (c >= u'a' && c <= u'z') return char16_t(c - 32);
    return c;
  };
  if (name.size() < pattern.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i)
    if (fold(name[i]) != fold(pattern[i])) return false;
  return name.size() == pattern.size() || name[pattern.size()] == u'\\' || name[pattern.size()] == u'/';
}

}  // namespace

Error delete_items(InStream& archive, OutStream& out, const std::vector<std::u16string>& names,
                   const WriterOptions& options, PasswordProvider password, const Progress& progress) {
  Reader reader;
  if (Error error = reader.open(archive, std::move(password)); error != Error::none) return error;
  Reader::State& state = ReaderAccess::state(reader);
  const auto& entries = state.entries;
  std::vector<bool> removed(entries.size(), false);
  for (const auto& name : names) {
    bool found = false;
    for (size_t i = 0; i < entries.size(); ++i)
      if (name_matches(entries[i].name, name)) removed[i] = found = true;
    if (!found) return Error::no_such_item;
  }
  ProgressState progress_state;
  progress_state.callback = &progress;
  const StreamsInfo& streams = state.streams;
  std::vector<std::vector<size_t>> folder_items(streams.folders.size());
  std::vector<OutFile> files, empty_files;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (state.entry_folder[i] >= 0) folder_items[size_t(state.entry_folder[i])].push_back(i);
  }
  std::vector<PlannedFolder> plans;
  // The re-encoded folders read from shared decoders that must outlive the jobs.
  struct Decoded {
    std::unique_ptr<Source> source;
    uint64_t next_stream = 0;
  };
  std::vector<std::shared_ptr<Decoded>> decoders;
  auto to_file = [](const Entry& e) {
    OutFile f;
    f.name = e.name;
    f.has_stream = e.has_stream;
    f.is_directory = e.is_directory;
    f.is_anti = e.is_anti;
    f.has_attributes = e.has_attributes;
    f.attributes = e.attributes;
    f.has_mtime = e.has_mtime, f.has_ctime = e.has_ctime, f.has_atime = e.has_atime;
    f.mtime = e.mtime, f.ctime = e.ctime, f.atime = e.atime;
    return f;
  };
  for (size_t folder = 0; folder < streams.folders.size(); ++folder) {
    const auto& members = folder_items[folder];
    size_t kept = size_t(std::count_if(members.begin(), members.end(), [&](size_t i) { return !removed[i]; }));
    if (kept == 0) continue;
    const Folder& f = streams.folders[folder];
    PlannedFolder plan;
    if (kept == members.size()) {
      // Unchanged folder: its packed streams are copied as they are.
      plan.copy = true;
      plan.copy_from = &archive;
      plan.copied.folder = f;
      const uint64_t first = state.folder_first_stream[folder];
      for (size_t k = 0; k < f.packed_streams.size(); ++k) {
        size_t stream = size_t(f.first_pack_stream + k);
        plan.copied.pack_sizes.push_back(streams.pack_sizes[stream]);
        plan.copy_ranges.push_back({state.pack_offsets[stream], streams.pack_sizes[stream]});
      }
      for (uint64_t s = first; s < first + f.unpack_streams; ++s) {
        plan.copied.sizes.push_back(streams.sizes[s]);
        plan.copied.has_crc.push_back(streams.has_crc[s]);
        plan.copied.crcs.push_back(streams.crcs[s]);
      }
      for (size_t i : members) files.push_back(to_file(entries[i]));
      plans.push_back(std::move(plan));
      continue;
    }
    auto decoded = std::make_shared<Decoded>();
    if (Error error = state.open_folder(streams, folder, decoded->source); error != Error::none)
      return Reader::State::explain(error, f);
    decoded->next_stream = state.folder_first_stream[folder];
    for (size_t i : members) {
      if (removed[i]) continue;
      const uint64_t stream = uint64_t(state.entry_stream[i]);
      const uint64_t size = entries[i].size;
      Reader::State* reader_state = &state;
      plan.job.openers.push_back([decoded, stream, size, reader_state, &f](std::unique_ptr<Source>& source) {
        std::vector<uint8_t> skip(1 << 16);
        for (; decoded->next_stream < stream; ++decoded->next_stream) {
          uint64_t left = reader_state->streams.sizes[decoded->next_stream];
          while (left > 0) {
            size_t n = size_t(std::min<uint64_t>(left, skip.size()));
            Error error = read_full(*decoded->source, skip.data(), n);
            if (error == Error::none && n == 0) error = Error::damaged;
            if (error != Error::none) return Reader::State::explain(error, f);
            left -= n;
          }
        }
        ++decoded->next_stream;
        source = make_limited_source(std::make_unique<BorrowedSource>(*decoded->source), size);
        return Error::none;
      });
      plan.job.names.push_back(entries[i].name);
      plan.job.expected_size += size;
      plan.expected_crcs.push_back({entries[i].has_crc, entries[i].crc});
      files.push_back(to_file(entries[i]));
    }
    decoders.push_back(decoded);
    plans.push_back(std::move(plan));
  }
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].has_stream && !removed[i]) empty_files.push_back(to_file(entries[i]));
  files.insert(files.end(), empty_files.begin(), empty_files.end());
  std::vector<OutFolder> folders;
  uint64_t end = kStartHeaderSize;
  // Re-encoding shares decoders between jobs of one folder only, so the
  // folders may still be produced in parallel.
  if (Error error = write_folders(out, plans, options, progress_state, folders, end); error != Error::none)
    return error;
  // Re-encoded items get their CRCs recomputed; a mismatch with the old
  // ones means the source archive was damaged.
  for (size_t k = 0; k < plans.size(); ++k)
    for (size_t i = 0; i < plans[k].expected_crcs.size(); ++i) {
      const auto& [has_crc, crc] = plans[k].expected_crcs[i];
      if (i >= folders[k].crcs.size() || (has_crc && folders[k].crcs[i] != crc))
        return Error::crc_mismatch;
    }
  return finish_archive(out, end, folders, files, options);
}

}  // namespace kyt::sevenzip
