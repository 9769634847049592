/* A library that registers itself: DllRegisterServer writes
   HKEY_CURRENT_USER\Software\KytSelfReg "Registered", DllUnregisterServer
   removes the key again. */
#include <windows.h>

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KytSelfReg", 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL))
    return E_FAIL;
  DWORD one = 1;
  RegSetValueExW(key, L"Registered", 0, REG_DWORD, (const BYTE*)&one, sizeof(one));
  RegCloseKey(key);
  return S_OK;
}

__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
  return RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KytSelfReg") ? E_FAIL : S_OK;
}
