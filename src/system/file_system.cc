#include "system/file_system.h"

#include <algorithm>
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

bool StdFileSystem::rename_file(const Text& from, const Text& to) {
  std::error_code error;
  if (std::filesystem::exists(host_path(to), error)) return false;
  std::filesystem::rename(host_path(from), host_path(to), error);
  return !error;
}

bool StdFileSystem::create_folders(const Text& path) {
  std::error_code error;
  std::filesystem::create_directories(host_path(path), error);
  return std::filesystem::is_directory(host_path(path), error);
}

bool StdFileSystem::exists(const Text& path) {
  std::error_code error;
  return std::filesystem::exists(host_path(path), error);
}

std::vector<Text> StdFileSystem::list_files(const Text& folder, TextView suffix) {
  std::vector<Text> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(host_path(folder), error)) {
    if (!entry.is_regular_file(error)) continue;
#ifdef _WIN32
    auto wide_name = entry.path().filename().wstring();
    Text name(wide_name.begin(), wide_name.end());
#else
    Text name = from_utf8(entry.path().filename().string());
#endif
    if (name.size() >= suffix.size() && equals_ignore_case(TextView(name).substr(name.size() - suffix.size()), suffix))
      names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
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
  spelling[key(path)] = path;
  return true;
}

bool MemoryFileSystem::set_normal_attributes(const Text& path) {
  if (!files.contains(key(path))) return false;
  read_only[key(path)] = false;
  return true;
}

bool MemoryFileSystem::remove_file(const Text& path) { return files.erase(key(path)) > 0; }

bool MemoryFileSystem::rename_file(const Text& from, const Text& to) {
  auto it = files.find(key(from));
  if (it == files.end() || files.contains(key(to)) || fail_writes) return false;
  std::string bytes = std::move(it->second);
  files.erase(it);
  files[key(to)] = std::move(bytes);
  spelling[key(to)] = to;
  return true;
}

bool MemoryFileSystem::create_folders(const Text& path) {
  if (fail_writes) return false;
  Text k = key(path);
  while (!k.empty() && k.back() == u'\\') k.pop_back();
  folders[k] = true;
  return true;
}

bool MemoryFileSystem::exists(const Text& path) {
  Text k = key(path);
  if (files.contains(k) || folders.contains(k)) return true;
  Text folder = k.ends_with(u"\\") ? k : k + u"\\";
  for (const auto& [name, bytes] : files)
    if (name.starts_with(folder)) return true;
  return false;
}

std::vector<Text> MemoryFileSystem::list_files(const Text& folder, TextView suffix) {
  Text prefix = key(folder);
  if (!prefix.empty() && prefix.back() != u'\\') prefix.push_back(u'\\');
  std::vector<Text> names;
  for (const auto& [name, bytes] : files) {
    if (!name.starts_with(prefix)) continue;
    Text rest = name.substr(prefix.size());
    if (rest.find(u'\\') != Text::npos) continue;
    // Names come back as they were written.
    if (auto spelled = spelling.find(name); spelled != spelling.end() && spelled->second.size() == name.size())
      rest = spelled->second.substr(prefix.size());
    if (rest.size() >= suffix.size() && equals_ignore_case(TextView(rest).substr(rest.size() - suffix.size()), suffix))
      names.push_back(rest);
  }
  return names;
}

}  // namespace kyt
