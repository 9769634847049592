// setup.exe: hardens the process, then runs the engine.
#include <windows.h>

#include "bootstrap/startup_win32.h"
#include "system/system_library_win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  kyt::harden_dll_loading();
  int code = kyt::kExitEscapedError;
  try {
    code = kyt::run_engine();
  } catch (...) {
    // Nothing may escape the process entry point.
  }
  return code;
}
