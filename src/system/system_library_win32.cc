#include "system/system_library_win32.h"

#include <array>
#include <mutex>
#include <string>

namespace kyt {

namespace {

struct Entry {
  const wchar_t* library;
  const char* function;
};

// One row per optional function, in the order of SystemFunction.
constexpr std::array<Entry, static_cast<size_t>(SystemFunction::Count)> kTable = {{
    {L"kernel32.dll", "SetDefaultDllDirectories"},
    {L"kernel32.dll", "IsWow64Process"},
    {L"kernel32.dll", "Wow64DisableWow64FsRedirection"},
    {L"kernel32.dll", "Wow64RevertWow64FsRedirection"},
    {L"dwmapi.dll", "DwmIsCompositionEnabled"},
    {L"uxtheme.dll", "IsThemeActive"},
    {L"version.dll", "GetFileVersionInfoSizeW"},
    {L"version.dll", "GetFileVersionInfoW"},
    {L"version.dll", "VerQueryValueW"},
    {L"comctl32.dll", "TaskDialogIndirect"},
    {L"msi.dll", "MsiQueryProductStateW"},
    {L"shell32.dll", "SHGetFolderPathW"},
    {L"kernel32.dll", "GetSystemWow64DirectoryW"},
    {L"gdi32.dll", "CreateFontIndirectW"},
    {L"gdi32.dll", "DeleteObject"},
    {L"ole32.dll", "CoInitializeEx"},
    {L"ole32.dll", "CoCreateInstance"},
    {L"ole32.dll", "CoUninitialize"},
    {L"odbccp32.dll", "SQLConfigDataSourceW"},
    {L"odbccp32.dll", "SQLInstallerErrorW"},
    {L"shell32.dll", "ShellExecuteExW"},
    {L"oleaut32.dll", "SysAllocString"},
    {L"oleaut32.dll", "SysFreeString"},
}};

[[maybe_unused]] std::wstring system_folder() {
  wchar_t buffer[MAX_PATH];
  UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return L"C:\\Windows\\System32\\";
  std::wstring folder(buffer, length);
  if (folder.back() != L'\\') folder.push_back(L'\\');
  return folder;
}

HMODULE load_system_library(const wchar_t* name) {
#ifdef KYT_UNHARDENED
  // Test-only build that shows what the hardening prevents: a bare name is
  // searched for in the program's folder first.
  return LoadLibraryW(name);
#else
  if (HMODULE loaded = GetModuleHandleW(name)) return loaded;
  std::wstring path = system_folder() + name;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Windows before the search flags rejects them; the full path still keeps
  // the program's folder out of the search.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryExW(path.c_str(), nullptr, 0);
  return module;
#endif
}

}  // namespace

void harden_dll_loading() {
#ifndef KYT_UNHARDENED
  // kernel32 is always mapped; look the functions up without loading anything.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  using SetDefault = BOOL(WINAPI*)(DWORD);
  using SetSearch = BOOL(WINAPI*)(DWORD);
  if (auto set_default = reinterpret_cast<SetDefault>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories"))))
    set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
  if (auto set_search = reinterpret_cast<SetSearch>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "SetSearchPathMode"))))
    set_search(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
#endif
}

FARPROC system_function(SystemFunction function) {
  static std::array<FARPROC, kTable.size()> resolved{};
  static std::array<bool, kTable.size()> looked_up{};
  static std::mutex mutex;
  size_t i = static_cast<size_t>(function);
  if (i >= kTable.size()) return nullptr;
  std::lock_guard lock(mutex);
  if (!looked_up[i]) {
    looked_up[i] = true;
    if (HMODULE module = load_system_library(kTable[i].library)) resolved[i] = GetProcAddress(module, kTable[i].function);
  }
  return resolved[i];
}

}  // namespace kyt
