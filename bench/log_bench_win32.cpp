// Log benchmark (Win32): appends 1,000,000 lines to the real log pane the
// way a command's events do (a thousand at a time, the message loop between
// them), and reports the time and the peak working set; then one line of a
// million characters.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/app.h"
#include "app/controls.h"
#include "app/main_window_win32.h"
#include "platform/win32_platform.h"

namespace {

// The window's turns until nothing waits: what a message loop does.
void RunTheLoop() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

}  // namespace

int main() {
  using namespace kestrin;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // as the program does
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&icc);
  Win32Services os;
  MainWindow window;
  App app(Platform{os.registry, os.fs, os.processes, os.shell}, window);
  if (!window.Create(app, GetModuleHandleW(nullptr))) return 1;
  const int lines = 1000000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < lines; ++i) {
    window.AppendLog("编译：dxSkinOffice2007SilverD7.dpk line " + std::to_string(i));
    if (i % 1000 == 999) RunTheLoop();
    if (i % 100000 == 99999) {
      PROCESS_MEMORY_COUNTERS m{};
      m.cb = sizeof m;
      GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
      std::printf("  %d lines: working set %.0f MB\n", i + 1, m.WorkingSetSize / 1048576.0);
      std::fflush(stdout);
    }
  }
  RunTheLoop();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int length = GetWindowTextLengthW(window.Control(ctl::kLogPane));
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
  std::printf("appended %d lines (%d characters) in %.2f s; peak working set %.1f MB (goal < 50 MB)\n",
              lines, length, seconds, pmc.PeakWorkingSetSize / 1048576.0);
  // One line of a million characters and no blank, as a compiler gone wrong
  // may write: the window's turn that takes it in.
  window.AppendLog(std::string(1000000, 'x'));
  start = std::chrono::steady_clock::now();
  RunTheLoop();
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("one line of 1000000 characters without a blank: %.3f s\n", seconds);
  return 0;
}
