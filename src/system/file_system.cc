#include "system/file_system.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kyt {

namespace {
std::filesystem::path host_path(const Text& path) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
  return std::filesystem::path(to_utf8(path));
#endif
}
}  // namespace

std::optional<std::string> StdFileSystem::read_file(const Text& path) {
  std::ifstream in(host_path(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool StdFileSystem::write_file(const Text& path, std::string_view bytes) {
  std::ofstream out(host_path(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool StdFileSystem::set_normal_attributes(const Text& path) {
  std::error_code error;
  std::filesystem::permissions(host_path(path), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add, error);
  return !error;
}

bool StdFileSystem::remove_file(const Text& path) {
  std::error_code error;
  return std::filesystem::remove(host_path(path), error);
}

namespace {
Text key(const Text& path) { return to_lower(path); }
}  // namespace

std::optional<std::string> MemoryFileSystem::read_file(const Text& path) {
  auto it = files.find(key(path));
  if (it == files.end()) return std::nullopt;
  return it->second;
}

bool MemoryFileSystem::write_file(const Text& path, std::string_view bytes) {
  if (fail_writes || read_only[key(path)]) return false;
  files[key(path)] = std::string(bytes);
  return true;
}

bool MemoryFileSystem::set_normal_attributes(const Text& path) {
  if (!files.contains(key(path))) return false;
  read_only[key(path)] = false;
  return true;
}

bool MemoryFileSystem::remove_file(const Text& path) { return files.erase(key(path)) > 0; }

}  // namespace kyt
