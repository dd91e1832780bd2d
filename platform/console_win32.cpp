#include <windows.h>

#include <atomic>
#include <string>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32_platform.h"

namespace kestrin {
namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  return TRUE;  // handled: the program stops its run itself
}

bool Usable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

}  // namespace

Win32Console::Win32Console(bool attach_parent) {
  out_ = GetStdHandle(STD_OUTPUT_HANDLE);
  err_ = GetStdHandle(STD_ERROR_HANDLE);
  // A window program gets standard handles only when they were redirected;
  // otherwise it writes to the console of the program that started it.
  if (attach_parent && (!Usable(out_) || !Usable(err_)) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!Usable(out_)) out_ = console;
    if (!Usable(err_)) err_ = console;
  }
}

bool Win32Console::Write(HANDLE h, std::string_view line) {
  if (broken_) return false;
  if (!Usable(h)) return true;  // nowhere to write: nothing is lost that anyone reads
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(h, &mode)) {
    const std::wstring w = Widen(line) + L"\r\n";
    for (std::size_t done = 0; done < w.size(); done += written) {
      if (!WriteConsoleW(h, w.data() + done, static_cast<DWORD>(w.size() - done), &written, nullptr) ||
          written == 0)
        return !(broken_ = true);
    }
    return true;
  }
  const std::string bytes = std::string(line) + "\r\n";
  for (std::size_t done = 0; done < bytes.size(); done += written) {
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return !(broken_ = true);  // the reader went away (ERROR_NO_DATA, ERROR_BROKEN_PIPE)
  }
  return true;
}

std::vector<std::string> Win32Arguments() {
  // By Windows' rules, except that the batch form /library:"%~dp0" (a
  // quoted folder ending in a backslash) does not take in the rest.
  return ProgramArguments(Narrow(GetCommandLineW()));
}

bool Win32Console::WriteOut(std::string_view line) { return Write(out_, line); }
bool Win32Console::WriteErr(std::string_view line) { return Write(err_, line); }
bool Win32Console::Broken() { return broken_; }
void Win32Console::CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
bool Win32Console::Interrupted() { return g_interrupted; }

void Win32Console::HandleQueuedMessages() {
  // PeekMessageW also answers the messages other threads send. A WM_QUIT
  // is taken out like the rest: the run ends by its own rules.
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

}  // namespace kestrin
