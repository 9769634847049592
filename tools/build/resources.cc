#include "build/resources.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "base/text.h"
#include "build/host_files.h"
#include "media/sevenzip/archive.h"

namespace kyt::build {

namespace {

class BytesIn : public sevenzip::InStream {
 public:
  explicit BytesIn(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() override { return bytes_.size(); }
  bool read_at(uint64_t offset, void* data, size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length) std::memcpy(data, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::string bytes_;
};

class BytesOut : public sevenzip::OutStream {
 public:
  explicit BytesOut(std::string& bytes) : bytes_(bytes) {}
  bool write_at(uint64_t offset, const void* data, size_t length) override {
    if (length == 0) return true;
    if (bytes_.size() < offset + length) bytes_.resize(offset + length);
    std::memcpy(bytes_.data() + offset, data, length);
    return true;
  }

 private:
  std::string& bytes_;
};

// The item's data, opened as often as the writer needs it.
std::function<std::unique_ptr<sevenzip::InStream>()> opener(std::string bytes) {
  auto shared = std::make_shared<std::string>(std::move(bytes));
  return [shared]() -> std::unique_ptr<sevenzip::InStream> { return std::make_unique<BytesIn>(*shared); };
}

}  // namespace

bool build_resource_archive(const std::string& folder, std::string& archive, std::string& error,
                            const std::vector<std::pair<Text, std::string>>& generated) {
  namespace fs = std::filesystem;
  std::vector<sevenzip::WriterItem> items;
  if (!folder.empty()) {
    std::error_code failure;
    fs::path root = host_path(folder);
    if (!fs::is_directory(root, failure)) {
      error = folder + ": not a folder";
      return false;
    }
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root, failure); !failure && it != fs::recursive_directory_iterator();
         it.increment(failure))
      paths.push_back(it->path());
    if (failure) {
      error = folder + ": " + failure.message();
      return false;
    }
    for (const auto& path : paths) {
      sevenzip::WriterItem item;
      item.name = replace_all(from_utf8(utf8_path(path.lexically_relative(root))), u"/", u"\\");
      if (fs::is_directory(path, failure)) {
        item.is_directory = true;
        item.attributes = 0x10;
      } else {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) {
          error = utf8_path(path) + ": cannot be read";
          return false;
        }
        item.attributes = 0x20;
        item.open = opener(std::move(bytes));
      }
      items.push_back(std::move(item));
    }
  }
  for (const auto& [name, bytes] : generated) {
    for (const auto& item : items)
      if (equals_ignore_case(item.name, name)) {
        error = folder + ": the build writes " + to_utf8(name) + " itself; remove the file of that name";
        return false;
      }
    sevenzip::WriterItem item;
    item.name = name;
    item.attributes = 0x20;
    item.open = opener(bytes);
    items.push_back(std::move(item));
  }
  std::sort(items.begin(), items.end(),
            [](const sevenzip::WriterItem& a, const sevenzip::WriterItem& b) { return a.name < b.name; });
  sevenzip::WriterOptions options;
  archive.clear();
  BytesOut out(archive);
  sevenzip::Error result = sevenzip::write_archive(out, items, options);
  if (result != sevenzip::Error::none) {
    error = "the resource archive could not be written (error " + std::to_string(static_cast<int>(result)) + ")";
    return false;
  }
  return true;
}

}  // namespace kyt::build
