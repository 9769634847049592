/* Stands in for a tool the engine starts (ngen.exe, regasm.exe, ...): appends
   its command line and working folder to <own path>.log and exits with the
   number in <own path>.exit (0 when there is none). */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(void) {
  wchar_t self[MAX_PATH], path[MAX_PATH + 8], folder[MAX_PATH];
  GetModuleFileNameW(NULL, self, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, folder);
  swprintf(path, MAX_PATH + 8, L"%ls.log", self);
  FILE* log = _wfopen(path, L"ab");
  if (log) {
    char line[4 * MAX_PATH + 4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, 4096, NULL, NULL);
    fprintf(log, "%s|", n ? line : "?");
    n = WideCharToMultiByte(CP_UTF8, 0, folder, -1, line, sizeof line, NULL, NULL);
    fprintf(log, "%s\n", n ? line : "?");
    fclose(log);
  }
  swprintf(path, MAX_PATH + 8, L"%ls.exit", self);
  FILE* code = _wfopen(path, L"rb");
  int exit_code = 0;
  if (code) {
    if (fscanf(code, "%d", &exit_code) != 1) exit_code = 99;
    fclose(code);
  }
  return exit_code;
}
