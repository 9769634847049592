// Helpers of the 7z tests: memory streams, fixture folders, and running the
// `7z` command.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "media/sevenzip/archive.h"

namespace kyt::sevenzip::testing {

class MemoryIn : public InStream {
 public:
  explicit MemoryIn(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
  uint64_t size() override { return bytes.size(); }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    if (offset > bytes.size() || length > bytes.size() - offset) return false;
    std::copy_n(bytes.data() + offset, length, static_cast<uint8_t*>(data));
    return true;
  }
  std::vector<uint8_t> bytes;
};

class MemoryOut : public OutStream {
 public:
  bool write_at(uint64_t offset, const void* data, size_t length) override {
    if (bytes.size() < offset + length) bytes.resize(offset + length);
    std::copy_n(static_cast<const uint8_t*>(data), length, bytes.data() + offset);
    return true;
  }
  std::vector<uint8_t> bytes;
};

// Collects every extracted item's bytes and outcome.
class CollectingSink : public ExtractSink {
 public:
  struct Item {
    MemoryOut data;
    Error result = Error::none;
    bool closed = false;
  };
  OutStream* open(size_t index, const Entry&) override { return &items[index].data; }
  bool close(size_t index, const Entry&, Error result) override {
    items[index].result = result;
    items[index].closed = true;
    return true;
  }
  std::map<size_t, Item> items;
};

inline std::vector<uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::random_device entropy;
    for (;;) {
      path = std::filesystem::temp_directory_path() / ("kyt7z-" + std::to_string(entropy()));
      if (std::filesystem::create_directory(path)) break;
    }
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

// The interop tests need a POSIX shell and the 7z command: native only.
#ifdef _WIN32
inline bool have_7z() { return false; }
#else
inline bool have_7z() { return std::system("7z i >/dev/null 2>&1") == 0; }
#endif

inline int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// Text-like bytes (compress well), x86-like code (E8/E9 with near targets)
// and random bytes, all from fixed seeds.
inline std::vector<uint8_t> text_bytes(size_t size, unsigned seed) {
  static const char* words[] = {"setup ", "archive ", "folder ", "engine ", "the ", "of ", "value\n", "install "};
  std::mt19937 random(seed);
  std::vector<uint8_t> out;
  while (out.size() < size) {
    const char* w = words[random() % 8];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
  }
  out.resize(size);
  return out;
}

inline std::vector<uint8_t> code_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out;
  while (out.size() < size) {
    switch (random() % 4) {
      case 0: {  // call rel32 to one of a few functions
        uint32_t target = 0x1000 * (random() % 16) - uint32_t(out.size()) - 5;
        out.push_back(0xE8);
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(target >> (8 * i)));
        break;
      }
      case 1:
        out.push_back(0x0F);
        out.push_back(uint8_t(0x80 + random() % 16));
        for (int i = 0; i < 4; ++i) out.push_back(i < 2 ? uint8_t(random()) : 0);
        break;
      default:
        for (int i = 0; i < 6; ++i) out.push_back(uint8_t(random() % 64 + 0x40));
    }
  }
  out.resize(size);
  return out;
}

inline std::vector<uint8_t> random_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = uint8_t(random());
  return out;
}

}  // namespace kyt::sevenzip::testing
