#include "ui/win32_host.h"

#include <windows.h>

#include "system/handle_win32.h"

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

void Win32Host::show_message(TextView title, TextView text, MessageIcon icon) { show_message_box(title, text, icon); }

void Win32Host::process_messages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

uint64_t Win32Host::tick_count() { return GetTickCount64(); }

}  // namespace kyt
