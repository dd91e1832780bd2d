// kestrin.com, the console program beside kestrin.exe: scripts and consoles
// wait for it and get its exit code (they do not wait for a window program).
// Typed as "kestrin" in cmd.exe or PowerShell it is found before kestrin.exe;
// without arguments it starts the window.
#include <windows.h>
#include <objbase.h>

#include "app/unattended.h"
#include "platform/text.h"
#include "platform/win32_handle.h"
#include "platform/win32_platform.h"

namespace {

// Starts kestrin.exe from this program's folder and leaves it running.
int StartWindow(kestrin::Console& console) {
  std::wstring exe(32768, L'\0');
  exe.resize(GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size())));
  exe = exe.substr(0, exe.find_last_of(L'.')) + L".exe";
  std::wstring line = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    console.WriteErr("无法启动 " + kestrin::Narrow(exe) + ": " + kestrin::SystemErrorText(GetLastError()));
    return kestrin::kExitIncomplete;
  }
  kestrin::UniqueHandle thread(pi.hThread), process(pi.hProcess);  // not waited for
  return kestrin::kExitDone;
}

}  // namespace

int wmain() {
  using namespace kestrin;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  Win32Console console;
  const auto args = Win32Arguments();
  if (args.empty()) return StartWindow(console);
  Win32Services os;
  return RunUnattended(Platform{os.registry, os.fs, os.processes, os.shell}, console, args,
                       [] { return static_cast<std::uint64_t>(GetTickCount64()); });
}
