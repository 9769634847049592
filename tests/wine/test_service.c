/* A service for the installation tests: it runs until it is told to stop. */
#include <windows.h>

static SERVICE_STATUS_HANDLE status_handle;
static HANDLE stop_event;

static void report(DWORD state) {
  SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, state, state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0,
                           NO_ERROR, 0, 0, 0};
  SetServiceStatus(status_handle, &status);
}

static DWORD WINAPI handler(DWORD control, DWORD type, LPVOID data, LPVOID context) {
  if (control == SERVICE_CONTROL_STOP) {
    report(SERVICE_STOP_PENDING);
    SetEvent(stop_event);
  }
  return NO_ERROR;
}

static void WINAPI service_main(DWORD argc, LPWSTR* argv) {
  status_handle = RegisterServiceCtrlHandlerExW(L"KytTestService", handler, NULL);
  stop_event = CreateEventW(NULL, TRUE, FALSE, NULL);
  report(SERVICE_RUNNING);
  WaitForSingleObject(stop_event, INFINITE);
  report(SERVICE_STOPPED);
}

int wmain(void) {
  SERVICE_TABLE_ENTRYW table[] = {{(LPWSTR)L"KytTestService", service_main}, {NULL, NULL}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
