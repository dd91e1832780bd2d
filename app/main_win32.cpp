// Program entry: the one window and its message loop; with arguments, a run
// without the window (for scripts, kestrin.com beside it is the one to call:
// a window program does not make cmd.exe wait).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "app/app.h"
#include "app/main_window_win32.h"
#include "app/unattended.h"
#include "platform/text.h"
#include "platform/win32_platform.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  using namespace kestrin;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (const auto args = Win32Arguments(); !args.empty()) {
    Win32Services os;
    Win32Console console(/*attach_parent=*/true);
    return RunUnattended(Platform{os.registry, os.fs, os.processes, os.shell}, console, args,
                         [] { return static_cast<std::uint64_t>(GetTickCount64()); });
  }
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                           ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  Win32Services os;
  MainWindow window;
  App app(Platform{os.registry, os.fs, os.processes, os.shell}, window);
  if (!window.Create(app, instance)) return 1;
  os.shell.SetOwner(window.hwnd());

  app.Start();  // the start-up checks, before the window is on screen
  window.FlushLog();
  ShowWindow(window.hwnd(), show == SW_HIDE ? SW_SHOWNORMAL : show);
  UpdateWindow(window.hwnd());

  MSG msg;
  int code = 0;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsWindow(window.hwnd()) || !IsDialogMessageW(window.hwnd(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    code = 0;
  }
  if (msg.message == WM_QUIT) code = static_cast<int>(msg.wParam);
  CoUninitialize();
  return code;
}
