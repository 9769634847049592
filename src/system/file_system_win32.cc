#include "system/file_system_win32.h"

#include <algorithm>

#include "system/handle_win32.h"

namespace kyt {

std::optional<std::string> Win32FileSystem::read_file(const Text& path) {
  UniqueFile file(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return std::nullopt;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD done = 0;
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 24));
    if (!ReadFile(file.get(), bytes.data() + offset, chunk, &done, nullptr)) return std::nullopt;
    if (done == 0) break;
    offset += done;
  }
  bytes.resize(offset);
  return bytes;
}

bool Win32FileSystem::write_file(const Text& path, std::string_view bytes) {
  UniqueFile file(CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  size_t offset = 0;
  while (offset < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 24));
    DWORD done = 0;
    if (!WriteFile(file.get(), bytes.data() + offset, chunk, &done, nullptr)) return false;
    offset += done;
  }
  return true;
}

bool Win32FileSystem::set_normal_attributes(const Text& path) {
  return SetFileAttributesW(wide(path), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool Win32FileSystem::remove_file(const Text& path) { return DeleteFileW(wide(path)) != 0; }

bool Win32FileSystem::rename_file(const Text& from, const Text& to) {
  return MoveFileExW(wide(from), wide(to), MOVEFILE_COPY_ALLOWED) != 0;
}

bool Win32FileSystem::create_folders(const Text& path) {
  Text folder = path;
  while (folder.size() > 1 && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  DWORD attributes = GetFileAttributesW(wide(folder));
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  size_t slash = folder.find_last_of(u"\\/");
  if (slash != Text::npos && slash > 0) {
    Text parent = folder.substr(0, slash);
    // Drive roots ("C:") and the start of a network path are not created.
    if (parent.back() != u':' && parent.find_first_not_of(u"\\") != Text::npos) create_folders(parent);
  }
  return CreateDirectoryW(wide(folder), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool Win32FileSystem::exists(const Text& path) { return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES; }

std::vector<Text> Win32FileSystem::list_files(const Text& folder, TextView suffix) {
  std::vector<Text> names;
  Text pattern = folder;
  if (!pattern.empty() && pattern.back() != u'\\') pattern.push_back(u'\\');
  pattern += u"*";
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(wide(pattern), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    Text name = from_wide(data.cFileName);
    if (name.size() >= suffix.size() && equals_ignore_case(TextView(name).substr(name.size() - suffix.size()), suffix))
      names.push_back(std::move(name));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

Text system_error_text(unsigned long code) {
  wchar_t* buffer = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = length ? from_wide(buffer, length) : u"error " + decimal(static_cast<int64_t>(code));
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  return text;
}

}  // namespace kyt
