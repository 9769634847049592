/* Holds a file open without sharing for a number of seconds, as a running
   program holds its own image. */
#include <windows.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  Sleep((DWORD)_wtoi(argv[2]) * 1000);
  CloseHandle(file);
  return 0;
}
