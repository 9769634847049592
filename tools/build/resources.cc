#include "build/resources.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "base/text.h"
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

}  // namespace

bool build_resource_archive(const std::string& folder, std::string& archive, std::string& error) {
  namespace fs = std::filesystem;
  std::vector<sevenzip::WriterItem> items;
  if (!folder.empty()) {
    std::error_code failure;
    fs::path root(folder);
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
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      sevenzip::WriterItem item;
      std::string relative = fs::relative(path, root).generic_string();
      std::replace(relative.begin(), relative.end(), '/', '\\');
      item.name = from_utf8(relative);
      if (fs::is_directory(path, failure)) {
        item.is_directory = true;
        item.attributes = 0x10;
      } else {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) {
          error = path.string() + ": cannot be read";
          return false;
        }
        auto shared = std::make_shared<std::string>(std::move(bytes));
        item.attributes = 0x20;
        item.open = [shared] { return std::make_unique<BytesIn>(*shared); };
      }
      items.push_back(std::move(item));
    }
  }
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
