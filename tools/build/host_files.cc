#include "build/host_files.h"

#include <fstream>
#include <iterator>

namespace kyt::build {

namespace fs = std::filesystem;

fs::path host_path(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string utf8_path(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string beside(const std::string& file, const std::string& relative) {
  fs::path path = host_path(relative);
  if (path.is_absolute() || path.has_root_name()) return relative;
  return utf8_path(host_path(file).parent_path() / path);
}

std::optional<std::string> read_host_file(const std::string& path) {
  std::error_code failure;
  fs::path host = host_path(path);
  if (!fs::is_regular_file(host, failure)) return std::nullopt;
  std::ifstream in(host, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return std::nullopt;
  return bytes;
}

StagedOutput::~StagedOutput() {
  std::error_code ignored;
  for (const Item& item : items_) fs::remove_all(item.temporary, ignored);
}

bool StagedOutput::stage(const fs::path& target, Item& item, std::string& error) {
  std::error_code failure;
  item.target = target;
  item.temporary = target;
  item.temporary += ".partial";
  fs::remove_all(item.temporary, failure);
  if (!target.parent_path().empty()) fs::create_directories(target.parent_path(), failure);
  if (failure) {
    error = utf8_path(target.parent_path()) + ": cannot create the folder (" + failure.message() + ")";
    return false;
  }
  items_.push_back(item);
  return true;
}

bool StagedOutput::add_file(const std::string& path, std::string_view bytes, std::string& error) {
  Item item;
  if (!stage(host_path(path), item, error)) return false;
  std::ofstream out(item.temporary, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = path + ": cannot be written";
    return false;
  }
  return true;
}

bool StagedOutput::add_folder(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files,
                              std::string& error) {
  Item item;
  if (!stage(host_path(path), item, error)) return false;
  std::error_code failure;
  fs::create_directories(item.temporary, failure);
  for (const auto& [source, relative] : files) {
    if (failure) break;
    fs::path target = item.temporary / host_path(relative);
    fs::create_directories(target.parent_path(), failure);
    if (!failure) fs::copy_file(host_path(source), target, fs::copy_options::overwrite_existing, failure);
    if (failure) error = source + ": cannot be copied to " + path + "/" + relative + " (" + failure.message() + ")";
  }
  if (failure && error.empty()) error = path + ": cannot create the folder (" + failure.message() + ")";
  return !failure;
}

bool StagedOutput::commit(std::string& error) {
  for (const Item& item : items_) {
    std::error_code failure;
    fs::remove_all(item.target, failure);
    if (!failure) fs::rename(item.temporary, item.target, failure);
    if (failure) {
      error = utf8_path(item.target) + ": cannot be replaced (" + failure.message() + ")";
      return false;
    }
  }
  items_.clear();
  return true;
}

}  // namespace kyt::build
