/* Leaves a registry key readable but not writable: protect_key <key below
   HKEY_LOCAL_MACHINE> creates the key and gives it an access list that
   grants everyone read access only. Exit code 0 on success. */
#include <windows.h>
#include <aclapi.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HKEY key = NULL;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, NULL, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, NULL, &key, NULL))
    return 3;
  SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
  PSID everyone = NULL;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return 4;
  EXPLICIT_ACCESS_W read = {0};
  read.grfAccessPermissions = KEY_READ;
  read.grfAccessMode = SET_ACCESS;
  read.grfInheritance = NO_INHERITANCE;
  read.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  read.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  read.Trustee.ptstrName = (LPWSTR)everyone;
  PACL access = NULL;
  if (SetEntriesInAclW(1, &read, NULL, &access)) return 5;
  DWORD code = SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               NULL, NULL, access, NULL);
  RegCloseKey(key);
  if (code) {
    fprintf(stderr, "SetSecurityInfo: %lu\n", code);
    return 6;
  }
  /* The key must now refuse a value. */
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    fprintf(stderr, "the key still accepts values\n");
    return 7;
  }
  return 0;
}
