// Safe loading of system libraries. The process is hardened before anything
// else runs, and every optional system function is looked up through one
// table, from the system folder only, so that a DLL planted beside the setup
// (a Downloads folder) is never loaded.
#pragma once

#include <windows.h>

namespace kyt {

enum class SystemFunction {
  SetDefaultDllDirectories,
  IsWow64Process,
  Wow64DisableWow64FsRedirection,
  Wow64RevertWow64FsRedirection,
  DwmIsCompositionEnabled,
  IsThemeActive,
  GetFileVersionInfoSizeW,
  GetFileVersionInfoW,
  VerQueryValueW,
  TaskDialogIndirect,
  MsiQueryProductStateW,
  SHGetFolderPathW,
  GetSystemWow64DirectoryW,
  CreateFontIndirectW,
  DeleteObject,
  CoInitializeEx,
  CoCreateInstance,
  CoUninitialize,
  SQLConfigDataSourceW,
  SQLInstallerErrorW,
  ShellExecuteExW,
  SysAllocString,
  SysFreeString,
  Count
};

// Restricts DLL loading to the system folder: SetDefaultDllDirectories,
// SetDllDirectoryW(L"") and the safe search mode.
void harden_dll_loading();

// The function's address, or nullptr when this Windows lacks it. Each library
// is loaded once, by its full path in the system folder.
FARPROC system_function(SystemFunction function);

template <typename F>
F system_function_as(SystemFunction function) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(system_function(function)));
}

}  // namespace kyt
