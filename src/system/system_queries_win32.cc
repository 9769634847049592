#include "system/system_queries_win32.h"

#include <windows.h>
#include <shlobj.h>

#include "system/handle_win32.h"
#include "system/system_library_win32.h"

namespace kyt {

namespace {

// Calls `fill(buffer, size)` with a growing buffer until the answer fits;
// `fill` returns the length it needs or wrote, 0 on failure.
template <typename Fill>
Text grow_buffer(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return from_wide(buffer.c_str(), wcslen(buffer.c_str()));
    buffer.assign(length + 1, L'\0');
  }
  return {};
}

Text registry_string(HKEY root, const wchar_t* key, const wchar_t* value, REGSAM view = 0) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) return {};
  UniqueKey owner(opened);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(opened, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(opened, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return {};
  return from_wide(data.c_str());
}

Text shell_folder(int csidl) {
  using Fn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
  auto get = system_function_as<Fn>(SystemFunction::SHGetFolderPathW);
  if (!get) return {};
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(get(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) return {};
  return from_wide(buffer);
}

struct FolderCodes {
  int user;
  int all;
};
// CSIDL values by "Get Folder Location" code; -1 marks the codes with their
// own lookup.
constexpr FolderCodes kFolders[] = {
    {32, 32}, {33, 33}, {5, 46},  {6, 31},  {13, 53}, {39, 54}, {14, 55}, {19, 19}, {27, 27}, {-1, -1},
    {-1, -1}, {48, 47}, {11, 22}, {7, 24},  {2, 23},  {26, 35}, {59, 59}, {0, 25},  {20, 20}, {40, 62},
    {38, 43}, {8, 8},   {9, 9},   {-1, -1}, {21, 21}, {-1, -1}, {-1, -1}, {-1, -1}, {28, 28},
};

}  // namespace

bool running_under_wow64() {
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL wow64 = FALSE;
  if (auto is_wow64 = system_function_as<Fn>(SystemFunction::IsWow64Process)) is_wow64(GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

Text Win32SystemQueries::expand_environment(TextView text) {
  Text source(text);
  return grow_buffer([&](wchar_t* buffer, DWORD size) { return ExpandEnvironmentStringsW(wide(source), buffer, size); });
}

std::vector<Text> Win32SystemQueries::environment_block() {
  std::vector<Text> entries;
  wchar_t* block = GetEnvironmentStringsW();
  if (!block) return entries;
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    if (*entry == L'=') continue;  // per-drive current folders, not variables
    entries.push_back(from_wide(entry));
  }
  FreeEnvironmentStringsW(block);
  return entries;
}

int Win32SystemQueries::installer_product_state(const Text& product_code) {
  using QueryFn = INT(WINAPI*)(LPCWSTR);
  auto query = system_function_as<QueryFn>(SystemFunction::MsiQueryProductStateW);
  return query ? query(wide(product_code)) : -1;
}

std::optional<std::array<uint16_t, 4>> Win32SystemQueries::file_version(const Text& path) {
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  auto size_of = system_function_as<SizeFn>(SystemFunction::GetFileVersionInfoSizeW);
  auto info_of = system_function_as<InfoFn>(SystemFunction::GetFileVersionInfoW);
  auto query = system_function_as<QueryFn>(SystemFunction::VerQueryValueW);
  if (!size_of || !info_of || !query) return std::nullopt;
  DWORD ignored = 0;
  DWORD size = size_of(wide(path), &ignored);
  if (size == 0) return std::nullopt;
  std::string data(size, '\0');
  if (!info_of(wide(path), 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!query(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed || length < sizeof(*fixed))
    return std::nullopt;
  return std::array<uint16_t, 4>{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                 HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
}

std::optional<Text> Win32SystemQueries::create_temporary_file(const Text& folder, TextView prefix) {
  Text prefix_text(prefix);
  wchar_t path[MAX_PATH + 1];
  if (!GetTempFileNameW(wide(folder), wide(prefix_text), 0, path)) return std::nullopt;
  return from_wide(path);
}

Text Win32SystemQueries::full_path(const Text& path) {
  Text full = grow_buffer([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(wide(path), size, buffer, nullptr); });
  return full.empty() ? path : full;
}

bool Win32SystemQueries::path_exists(const Text& path) {
  return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

Text Win32SystemQueries::short_path(const Text& path) {
  return grow_buffer([&](wchar_t* buffer, DWORD size) { return GetShortPathNameW(wide(path), buffer, size); });
}

Text Win32SystemQueries::long_path(const Text& path) {
  return grow_buffer([&](wchar_t* buffer, DWORD size) { return GetLongPathNameW(wide(path), buffer, size); });
}

Text Win32SystemQueries::folder_location(int code, bool all_users, TextView mode64) {
  if (code < 0 || code >= static_cast<int>(std::size(kFolders))) return {};
  const FolderCodes& codes = kFolders[code];
  if (codes.user >= 0) return with_backslash(shell_folder(all_users ? codes.all : codes.user));
  switch (code) {
    case 9:
      return with_backslash(registry_string(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup",
                                            L"BootDir"));
    case 10: {
      Text drive;
      for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_CDROM) drive = from_wide(root);
      }
      return drive;
    }
    case 23: {
      if (running_under_wow64() && mode64 == u"Win32") {
        using Fn = UINT(WINAPI*)(LPWSTR, UINT);
        if (auto wow = system_function_as<Fn>(SystemFunction::GetSystemWow64DirectoryW))
          return with_backslash(grow_buffer([&](wchar_t* buffer, DWORD size) { return wow(buffer, size); }));
      }
      return with_backslash(grow_buffer([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); }));
    }
    case 25:
      return with_backslash(grow_buffer([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); }));
    case 26: {
      Text app_data = registry_string(HKEY_CURRENT_USER,
                                      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\",
                                      L"AppData");
      return app_data.empty() ? Text() : with_backslash(app_data) + u"Microsoft\\Internet Explorer\\Quick Launch\\";
    }
    case 27: {
      Text root = registry_string(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\InetStp", L"PathWWWRoot");
      if (!root.empty()) return with_backslash(expand_environment(root));
      Text entry = registry_string(HKEY_LOCAL_MACHINE,
                                   L"SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters\\Virtual Roots\\", L"/");
      if (entry.empty()) return {};
      return with_backslash(entry.substr(0, entry.find(u',')));
    }
    default:
      return {};
  }
}

}  // namespace kyt
