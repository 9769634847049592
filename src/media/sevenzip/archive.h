// The 7z archive format: reading (listing, extracting, testing), writing and
// deleting items. Portable: no operating-system calls; all bytes go through
// the stream interfaces below, so the same code serves the build tool, the
// tests and fuzzers, and kyt.lib.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kyt::sevenzip {

// Failure codes. Values are the library's error numbers (GetLastArchiveError).
enum class Error : uint32_t {
  none = 0,
  cannot_open = 1001,        // the archive file cannot be opened or read
  not_archive = 1002,        // no 7z signature
  damaged = 1003,            // a header or a stream is malformed or truncated
  unsupported = 1004,        // a method or feature this library does not implement
  wrong_password = 1005,     // a password is needed and the one given does not fit
  crc_mismatch = 1006,       // data decoded but a checksum does not match
  cannot_write = 1007,       // an output could not be written
  unsafe_name = 1008,        // an item name would leave the destination folder
  cancelled = 1009,          // the progress callback asked to stop
  bad_switch = 1010,         // a switch text that cannot be honoured
  no_such_item = 1011,       // an item name that is not in the archive
  out_of_resources = 1018,   // memory or another resource ran out (callers may retry with less)
};

// Random-access input (the archive, or a file being compressed).
class InStream {
 public:
  virtual ~InStream() = default;
  virtual uint64_t size() = 0;
  // Reads exactly `length` bytes at `offset`; false on failure or short read.
  virtual bool read_at(uint64_t offset, void* data, size_t length) = 0;
};

// Output with positioned writes (the writer rewrites the start header last).
class OutStream {
 public:
  virtual ~OutStream() = default;
  virtual bool write_at(uint64_t offset, const void* data, size_t length) = 0;
};

// Progress: the item being processed, bytes done and total (unpacked).
// Returning false stops the operation with Error::cancelled.
using Progress = std::function<bool(const std::u16string& item, uint64_t done, uint64_t total)>;

struct Entry {
  std::u16string name;  // as stored, "\" or "/" separated
  bool is_directory = false;
  bool has_stream = false;  // false for directories and empty files
  bool is_anti = false;
  uint64_t size = 0;
  uint64_t packed_size = 0;  // of its folder, on the first item of the folder; 0 otherwise
  bool has_crc = false;
  uint32_t crc = 0;
  bool has_attributes = false;
  uint32_t attributes = 0;   // Windows attributes (low 16 bits)
  bool has_mtime = false, has_ctime = false, has_atime = false;
  uint64_t mtime = 0, ctime = 0, atime = 0;  // FILETIME values
  bool encrypted = false;
};

// Receives extracted items. `open` returns the stream for an item's data
// (nullptr: skip the data); `close` is called after its last byte with the
// outcome of the CRC check. Directories and empty files get `open` and
// `close` without data.
class ExtractSink {
 public:
  virtual ~ExtractSink() = default;
  virtual OutStream* open(size_t index, const Entry& entry) = 0;
  virtual bool close(size_t index, const Entry& entry, Error result) = 0;
};

// Supplies a password when the archive needs one; empty when none is known.
using PasswordProvider = std::function<std::u16string()>;

class Reader {
 public:
  Reader();
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the headers. An archive with encrypted headers asks for the
  // password here.
  Error open(InStream& archive, PasswordProvider password = {});
  const std::vector<Entry>& entries() const;
  // Extracts the items with these indexes (all when empty), in archive order.
  Error extract(const std::vector<size_t>& indexes, ExtractSink& sink, const Progress& progress = {});
  // Decodes everything and checks every CRC without writing anything.
  Error test(const Progress& progress = {});

  struct State;  // defined in reader_state.h, for the library's own use

 private:
  friend struct ReaderAccess;
  std::unique_ptr<State> state_;
};

enum class Method : uint8_t { copy, lzma, lzma2 };
enum class Filter : uint8_t { none, bcj, bcj2 };

struct WriterOptions {
  Method method = Method::lzma2;
  Filter filter = Filter::none;   // BCJ2 may be written as BCJ (see the README)
  int level = 5;                  // 0..9, as 7-Zip's -mx
  uint32_t dictionary = 1u << 24;
  uint32_t fast_bytes = 32;
  bool binary_tree = true;        // bt4 (true) or hc4 (false) match finder
  bool solid = true;              // one folder for all files (or per solid block)
  uint64_t solid_block_size = 0;  // 0: no limit
  int threads = 1;                // solid blocks compressed in parallel
  bool compress_headers = true;
  bool encrypt_headers = false;   // needs a password
  std::u16string password;        // empty: no encryption
};

// Parses a 7-Zip command-line switch text ("-ms=on -m0=BCJ2 -m1=LZMA2
// -m1d=23 -mhe=on -mmt=2 ..."). Switches it cannot honour are ignored;
// malformed ones give Error::bad_switch.
Error parse_switches(const std::u16string& switches, WriterOptions& options);

struct WriterItem {
  std::u16string name;  // stored name, "\" separated
  bool is_directory = false;
  uint32_t attributes = 0;
  bool has_mtime = false;
  uint64_t mtime = 0;
  // Opens the item's data; nullptr for directories. Called when the data is
  // needed, possibly on a worker thread.
  std::function<std::unique_ptr<InStream>()> open;
};

// Writes a new archive of the items.
Error write_archive(OutStream& out, const std::vector<WriterItem>& items, const WriterOptions& options,
                    const Progress& progress = {});

// Writes a copy of the archive without the named items (names compared
// without regard to case; a folder name removes everything below it).
// Folders that keep all their items are copied without decoding.
Error delete_items(InStream& archive, OutStream& out, const std::vector<std::u16string>& names,
                   const WriterOptions& options, PasswordProvider password = {}, const Progress& progress = {});

// Whether an item name is safe to create under a destination folder: not
// absolute, no drive letter, no ".." element, no device names (CON, NUL,
// COM1, ...), no alternate data streams (":"), no control characters.
bool safe_item_name(const std::u16string& name);

}  // namespace kyt::sevenzip
