#include "ui/language_dialog_win32.h"

#include <windows.h>

#include "system/handle_win32.h"
#include "system/system_library_win32.h"

namespace kyt {

namespace {

constexpr wchar_t kClassName[] = L"TSetLanguage";
constexpr int kComboId = 100;

struct DialogState {
  std::optional<size_t> result;
  bool done = false;
  HWND combo = nullptr;
};

LRESULT CALLBACK language_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (!state) break;
      if (LOWORD(wparam) == IDOK) {
        LRESULT selection = SendMessageW(state->combo, CB_GETCURSEL, 0, 0);
        if (selection != CB_ERR) state->result = static_cast<size_t>(selection);
        state->done = true;
        return 0;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        state->done = true;
        return 0;
      }
      break;
    case WM_CLOSE:
      if (state) state->done = true;
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The message font of the desktop, through gdi32 loaded from the system folder.
class MessageFont {
 public:
  MessageFont() {
    using CreateFontFn = HFONT(WINAPI*)(const LOGFONTW*);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
      if (auto create = system_function_as<CreateFontFn>(SystemFunction::CreateFontIndirectW))
        font_ = create(&metrics.lfMessageFont);
  }
  ~MessageFont() {
    using DeleteObjectFn = BOOL(WINAPI*)(HGDIOBJ);
    if (font_)
      if (auto remove = system_function_as<DeleteObjectFn>(SystemFunction::DeleteObject)) remove(font_);
  }
  MessageFont(const MessageFont&) = delete;
  MessageFont& operator=(const MessageFont&) = delete;
  void apply(HWND control) const {
    if (font_) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }

 private:
  HFONT font_ = nullptr;
};

}  // namespace

std::optional<size_t> show_language_dialog(const std::vector<Text>& names, size_t preselected,
                                           const LanguageDialogTexts& texts) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = language_dialog_procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!window_class.hIcon) window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  RegisterClassExW(&window_class);  // fails harmlessly when registered by an earlier call

  const int width = 360, height = 170;
  RECT frame = {0, 0, width, height};
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  DWORD extended = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  AdjustWindowRectEx(&frame, style, FALSE, extended);
  int outer_width = frame.right - frame.left, outer_height = frame.bottom - frame.top;
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int x = work.left + (work.right - work.left - outer_width) / 2;
  int y = work.top + (work.bottom - work.top - outer_height) / 2;

  Text caption = texts.caption, prompt = texts.prompt, ok = texts.ok, cancel = texts.cancel;
  HWND window = CreateWindowExW(extended, kClassName, wide(caption), style, x, y, outer_width, outer_height, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return preselected;  // no window: the preselection stands
  DialogState state;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

  MessageFont font;
  HWND label = CreateWindowExW(0, L"STATIC", wide(prompt), WS_CHILD | WS_VISIBLE, 16, 16, width - 32, 36, window,
                               nullptr, instance, nullptr);
  state.combo = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                                16, 60, width - 32, 200, window, reinterpret_cast<HMENU>(kComboId), instance, nullptr);
  HWND ok_button = CreateWindowExW(0, L"BUTTON", wide(ok), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                                   width - 192, height - 44, 84, 28, window, reinterpret_cast<HMENU>(IDOK), instance,
                                   nullptr);
  HWND cancel_button = CreateWindowExW(0, L"BUTTON", wide(cancel), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                       width - 100, height - 44, 84, 28, window,
                                       reinterpret_cast<HMENU>(IDCANCEL), instance, nullptr);
  for (HWND control : {label, state.combo, ok_button, cancel_button}) font.apply(control);
  for (const Text& name : names) SendMessageW(state.combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name)));
  SendMessageW(state.combo, CB_SETCURSEL, preselected < names.size() ? preselected : 0, 0);

  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  SetFocus(state.combo);
  MSG message;
  while (!state.done && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window, &message)) continue;  // Tab, Enter and Escape
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(window);
  return state.result;
}

}  // namespace kyt
