/* Starts a program and prints its full 32-bit exit code, which a Linux shell
 * would only see truncated to 8 bits.
 *   exit_code_runner.exe program.exe [arguments...]  */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: exit_code_runner program [arguments]\n");
    return 2;
  }
  /* The child's command line is ours without our own program name. */
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    line = wcschr(line + 1, L'"');
    line = line ? line + 1 : L"";
  } else {
    while (*line && *line != L' ') ++line;
  }
  while (*line == L' ') ++line;
  wchar_t* child = _wcsdup(line);
  STARTUPINFOW startup = {0};
  PROCESS_INFORMATION process;
  startup.cb = sizeof(startup);
  if (!CreateProcessW(NULL, child, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    fwprintf(stderr, L"cannot start %ls: error %lu\n", argv[1], GetLastError());
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("exit code %lu\n", (unsigned long)code);
  return 0;
}
