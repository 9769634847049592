#include "ui/win32_host.h"

#include <pthread.h>

#include <windows.h>
#include <commctrl.h>

#include "system/handle_win32.h"
#include "system/system_library_win32.h"
#include "ui/language_dialog_win32.h"

namespace kyt {

void show_message_box(TextView title, TextView text, MessageIcon icon) {
  UINT style = MB_OK | MB_TASKMODAL;
  switch (icon) {
    case MessageIcon::error: style |= MB_ICONERROR; break;
    case MessageIcon::warning: style |= MB_ICONWARNING; break;
    case MessageIcon::information: style |= MB_ICONINFORMATION; break;
  }
  Text title_text(title), body(text);
  MessageBoxW(nullptr, wide(body), wide(title_text), style);
}

int user_locale_identifier(bool default_language) {
  wchar_t text[16] = {};
  if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, default_language ? LOCALE_IDEFAULTLANGUAGE : LOCALE_ILANGUAGE, text, 16))
    return 0;
  return static_cast<int>(wcstol(text, nullptr, 16));  // written as hexadecimal digits, "0407"
}

int Win32Host::user_locale(bool default_language) { return user_locale_identifier(default_language); }

std::optional<size_t> Win32Host::choose_language(const std::vector<Text>& names, size_t preselected,
                                                 const LanguageDialogTexts& texts) {
  return show_language_dialog(names, preselected, texts);
}

// Yes, No, Cancel, No to All, Yes to All: a task dialog with five buttons
// (0 to 4), or a Yes/No/Cancel box where task dialogs are missing.
void Win32Host::end_thread_by_force(std::thread& thread) {
  // The threads are winpthreads threads; their Windows handle is ended.
  if (HANDLE handle = pthread_gethandle(thread.native_handle())) TerminateThread(handle, 1);
}

int Win32Host::ask_five(TextView title, TextView text) {
  using TaskDialogFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
  Text caption(title), content(text);
  if (auto task_dialog = system_function_as<TaskDialogFn>(SystemFunction::TaskDialogIndirect)) {
    const TASKDIALOG_BUTTON buttons[] = {
        {100, L"&Yes"}, {101, L"&No"}, {102, L"&Cancel"}, {103, L"No to &All"}, {104, L"Yes to A&ll"}};
    TASKDIALOGCONFIG config = {};
    config.cbSize = sizeof(config);
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    config.pszWindowTitle = wide(caption);
    config.pszContent = wide(content);
    config.pButtons = buttons;
    config.cButtons = 5;
    config.nDefaultButton = 100;
    int pressed = 0;
    if (SUCCEEDED(task_dialog(&config, &pressed, nullptr, nullptr)))
      return pressed >= 100 && pressed <= 104 ? pressed - 100 : 2;
  }
  switch (MessageBoxW(nullptr, wide(content), wide(caption), MB_YESNOCANCEL | MB_ICONQUESTION | MB_TASKMODAL)) {
    case IDYES: return 0;
    case IDNO: return 1;
    default: return 2;
  }
}

void Win32Host::show_message(TextView title, TextView text, MessageIcon icon) { show_message_box(title, text, icon); }

void Win32Host::process_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

uint64_t Win32Host::tick_count() { return GetTickCount64(); }

int64_t Win32Host::current_second() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 10000000);
}

std::pair<Text, Text> Win32Host::date_and_time(int64_t second) {
  uint64_t ticks = static_cast<uint64_t>(second) * 10000000;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}, local;
  SYSTEMTIME time;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time)) return {};
  wchar_t date_text[128] = {}, time_text[128] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date_text, 128);
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, time_text, 128);
  return {from_wide(date_text), from_wide(time_text)};
}

}  // namespace kyt
