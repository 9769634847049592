/* The setup part of an ODBC driver for the installation tests: ConfigDSNW
   keeps a data source as a key under Software\ODBC\ODBC.INI (the user's, or
   the machine's for a system data source) holding its attributes. */
#include <windows.h>

__declspec(dllexport) BOOL WINAPI ConfigDSNW(HWND owner, WORD request, LPCWSTR driver, LPCWSTR attributes) {
  const wchar_t* name = NULL;
  for (const wchar_t* a = attributes; *a; a += wcslen(a) + 1)
    if (!_wcsnicmp(a, L"DSN=", 4)) name = a + 4;
  if (!name) return FALSE;
  HKEY root = request == 4 || request == 6 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  wchar_t path[512] = L"Software\\ODBC\\ODBC.INI\\";
  wcscat(path, name);
  if (request == 3 || request == 6) return RegDeleteKeyW(root, path) == ERROR_SUCCESS;
  HKEY key;
  if (RegCreateKeyExW(root, path, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL)) return FALSE;
  RegSetValueExW(key, L"Driver", 0, REG_SZ, (const BYTE*)driver, (DWORD)(wcslen(driver) + 1) * 2);
  for (const wchar_t* a = attributes; *a; a += wcslen(a) + 1) {
    const wchar_t* equals = wcschr(a, L'=');
    if (!equals || !_wcsnicmp(a, L"DSN=", 4)) continue;
    wchar_t value_name[128] = {0};
    wcsncpy(value_name, a, equals - a < 127 ? equals - a : 127);
    RegSetValueExW(key, value_name, 0, REG_SZ, (const BYTE*)(equals + 1), (DWORD)(wcslen(equals + 1) + 1) * 2);
  }
  RegCloseKey(key);
  return TRUE;
}
