// 7z library benchmark against the 7z command: builds a ~100 MB mixed
// corpus (text, x86-like code, random bytes, many small files) from fixed
// seeds in a temporary folder, then compares compression and extraction
// speed and the compression ratio, LZMA2 at -mx5 settings (16 MiB
// dictionary, bt4, 32 fast bytes), one thread each, plus one two-thread run.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "media/sevenzip/archive.h"

namespace fs = std::filesystem;
using namespace kyt::sevenzip;

namespace {

class FileIn : public InStream {
 public:
  explicit FileIn(const fs::path& path) : file_(std::fopen(path.c_str(), "rb")) {
    if (file_) {
      std::fseek(file_, 0, SEEK_END);
      size_ = uint64_t(std::ftell(file_));
      std::fseek(file_, 0, SEEK_SET);
    }
  }
  ~FileIn() override {
    if (file_) std::fclose(file_);
  }
  uint64_t size() override { return size_; }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    if (!file_ || (offset != position_ && std::fseek(file_, long(offset), SEEK_SET) != 0)) return false;
    size_t n = std::fread(data, 1, length, file_);
    position_ = offset + n;
    return n == length;
  }

 private:
  std::FILE* file_;
  uint64_t size_ = 0, position_ = 0;
};

class FileOut : public OutStream {
 public:
  explicit FileOut(const fs::path& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~FileOut() override {
    if (file_) std::fclose(file_);
  }
  bool write_at(uint64_t offset, const void* data, size_t length) override {
    if (!file_ || (offset != position_ && std::fseek(file_, long(offset), SEEK_SET) != 0)) return false;
    position_ = offset + length;
    return std::fwrite(data, 1, length, file_) == length;
  }

 private:
  std::FILE* file_;
  uint64_t position_ = 0;
};

class FolderSink : public ExtractSink {
 public:
  explicit FolderSink(fs::path root) : root_(std::move(root)) {}
  OutStream* open(size_t, const Entry& entry) override {
    fs::path path = root_ / to_path(entry.name);
    if (entry.is_directory) {
      fs::create_directories(path);
      return nullptr;
    }
    fs::create_directories(path.parent_path());
    current_ = std::make_unique<FileOut>(path);
    return current_.get();
  }
  bool close(size_t, const Entry&, Error result) override {
    current_.reset();
    if (result != Error::none) failures++;
    return true;
  }
  int failures = 0;

 private:
  static fs::path to_path(const std::u16string& name) {
    std::string s;
    for (char16_t c : name) s.push_back(c == u'\\' ? '/' : char(c));  // the corpus names are ASCII
    return s;
  }
  fs::path root_;
  std::unique_ptr<FileOut> current_;
};

void write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> text(size_t size, std::mt19937& random) {
  static const char* words[] = {"setup ", "archive ", "install ", "folder ", "component ", "the ", "and ", "of ",
                                "registry ", "value ", "key\n", "file\n", "window ", "progress ", "error ", "user "};
  std::vector<uint8_t> out;
  out.reserve(size);
  while (out.size() < size) {
    const char* w = words[random() % 16];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    if (random() % 50 == 0) {
      std::string number = std::to_string(random() % 100000) + " ";
      out.insert(out.end(), number.begin(), number.end());
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> code(size_t size, std::mt19937& random) {
  std::vector<uint8_t> out;
  out.reserve(size);
  std::vector<uint8_t> snippets[32];
  for (auto& s : snippets)
    for (size_t i = 0, n = 4 + random() % 24; i < n; ++i) s.push_back(uint8_t(random() % 7 == 0 ? random() : random() % 32 + 0x40));
  while (out.size() < size) {
    if (random() % 3 == 0) {
      uint32_t target = 0x400 * (random() % 512) - uint32_t(out.size()) - 5;
      out.push_back(0xE8);
      for (int i = 0; i < 4; ++i) out.push_back(uint8_t(target >> (8 * i)));
    } else {
      const auto& s = snippets[random() % 32];
      out.insert(out.end(), s.begin(), s.end());
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> noise(size_t size, std::mt19937& random) {
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = uint8_t(random());
  return out;
}

uint64_t build_corpus(const fs::path& root) {
  std::mt19937 random(20240601);
  uint64_t total = 0;
  auto add = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    write(root / name, bytes);
    total += bytes.size();
  };
  for (int i = 0; i < 5; ++i) add("text/book" + std::to_string(i) + ".txt", text(7 << 20, random));
  for (int i = 0; i < 5; ++i) add("bin/module" + std::to_string(i) + ".dll", code(5 << 20, random));
  for (int i = 0; i < 4; ++i) add("media/blob" + std::to_string(i) + ".dat", noise(5 << 20, random));
  for (int i = 0; i < 2000; ++i)
    add("small/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + (i % 3 ? ".txt" : ".bin"),
        i % 3 ? text(4000 + random() % 12000, random) : code(4000 + random() % 12000, random));
  return total;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double run_timed(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return seconds_since(start);
}

std::vector<WriterItem> corpus_items(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& item : fs::recursive_directory_iterator(root))
    if (item.is_regular_file()) files.push_back(item.path());
  std::sort(files.begin(), files.end());
  std::vector<WriterItem> items;
  for (const auto& path : files) {
    WriterItem item;
    std::string relative = fs::relative(path, root).string();
    item.name.assign(relative.begin(), relative.end());
    item.attributes = 0x20;
    item.open = [path] { return std::unique_ptr<InStream>(new FileIn(path)); };
    items.push_back(item);
  }
  return items;
}

double ours_compress(const std::vector<WriterItem>& items, const fs::path& archive, int threads) {
  WriterOptions options;
  options.method = Method::lzma2;
  options.level = 5;
  options.dictionary = 1u << 24;
  options.fast_bytes = 32;
  options.threads = threads;
  auto start = std::chrono::steady_clock::now();
  FileOut out(archive);
  Error error = write_archive(out, items, options);
  if (error != Error::none) std::fprintf(stderr, "write_archive failed: %u\n", unsigned(error));
  return seconds_since(start);
}

double ours_extract(const fs::path& archive, const fs::path& destination) {
  auto start = std::chrono::steady_clock::now();
  FileIn in(archive);
  Reader reader;
  FolderSink sink(destination);
  Error error = reader.open(in);
  if (error == Error::none) error = reader.extract({}, sink);
  if (error != Error::none || sink.failures) std::fprintf(stderr, "extract failed: %u\n", unsigned(error));
  return seconds_since(start);
}

}  // namespace

int main() {
  if (std::system("7z i >/dev/null 2>&1") != 0) {
    std::printf("7z is not installed: nothing to compare with\n");
    return 0;
  }
  fs::path temp = fs::temp_directory_path() / ("kyt-archive-bench-" + std::to_string(::getpid()));
  fs::path corpus = temp / "corpus";
  const double megabytes = double(build_corpus(corpus)) / (1 << 20);
  auto items = corpus_items(corpus);
  std::printf("corpus: %.1f MB in %zu files (text, x86-like code, random, small files)\n", megabytes, items.size());
  const std::string settings = " -m0=LZMA2 -mx5 -md=16m -mfb=32 -ms=on -mhc=on";
  auto size_of = [](const fs::path& p) { return double(fs::file_size(p)); };

  for (int threads : {1, 2}) {
    fs::path ours = temp / ("ours" + std::to_string(threads) + ".7z");
    fs::path theirs = temp / ("7z" + std::to_string(threads) + ".7z");
    double ours_c = ours_compress(items, ours, threads);
    double theirs_c = run_timed("cd '" + corpus.string() + "' && 7z a -bd -mmt=" + std::to_string(threads) + settings +
                                " '" + theirs.string() + "' .");
    std::printf("compress  %d thread%s: ours %6.2f MB/s, 7z %6.2f MB/s (x%.2f); ratio ours %.4f, 7z %.4f (%+.2f%%)\n",
                threads, threads > 1 ? "s" : " ", megabytes / ours_c, megabytes / theirs_c, theirs_c / ours_c,
                size_of(ours) / (megabytes * (1 << 20)), size_of(theirs) / (megabytes * (1 << 20)),
                100.0 * (size_of(ours) / size_of(theirs) - 1));
    if (threads == 1) {
      // Both extract the archive 7z made, to disk.
      double ours_x = ours_extract(theirs, temp / "x-ours");
      double theirs_x = run_timed("7z x -bd -mmt=1 -o'" + (temp / "x-7z").string() + "' '" + theirs.string() + "'");
      double ours_own = ours_extract(ours, temp / "x-ours-own");
      std::printf("extract   1 thread : ours %6.2f MB/s, 7z %6.2f MB/s (x%.2f); ours on its own archive %6.2f MB/s\n",
                  megabytes / ours_x, megabytes / theirs_x, theirs_x / ours_x, megabytes / ours_own);
      fs::remove_all(temp / "x-ours");
      fs::remove_all(temp / "x-7z");
      fs::remove_all(temp / "x-ours-own");
    }
  }
  fs::remove_all(temp);
  return 0;
}
