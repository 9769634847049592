#include "system/process_paths_win32.h"

#include <windows.h>

#include <string>

#include "system/handle_win32.h"

namespace kyt {

Text module_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return from_wide(buffer.c_str(), length);
    buffer.resize(buffer.size() * 2);
  }
}

Text temporary_folder() {
  wchar_t buffer[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  Text folder = length ? from_wide(buffer, length) : Text(u"C:\\");
  std::wstring long_buffer(32768, L'\0');
  DWORD long_length = GetLongPathNameW(wide(folder), long_buffer.data(), 32768);
  if (long_length && long_length < 32768) folder = from_wide(long_buffer.c_str(), long_length);
  folder = with_backslash(folder);
  CreateDirectoryW(wide(folder), nullptr);
  return folder;
}

}  // namespace kyt
