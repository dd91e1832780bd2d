#include "platform/text.h"
#include "platform/win32_platform.h"

namespace kestrin {
namespace {

class Win32Child : public ChildProcess {
 public:
  Win32Child(HANDLE process, HANDLE read) : process_(process), read_(read) {}
  ~Win32Child() override {
    if (!ended_) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    CloseHandle(read_);
  }
  std::size_t ReadAvailable(std::string* out) override {
    std::size_t total = 0;
    char buf[65536];
    for (;;) {
      DWORD avail = 0;
      if (!PeekNamedPipe(read_, nullptr, 0, nullptr, &avail, nullptr) || avail == 0) break;
      DWORD got = 0;
      if (!ReadFile(read_, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) || got == 0)
        break;
      out->append(buf, got);
      total += got;
    }
    return total;
  }
  bool Wait(int timeout_ms) override {
    if (ended_) return true;
    DWORD r = MsgWaitForMultipleObjectsEx(1, &process_, static_cast<DWORD>(timeout_ms), QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) ended_ = true;
    return ended_;
  }
  void Terminate() override {
    if (!ended_) TerminateProcess(process_, 1);
  }

 private:
  HANDLE process_, read_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<ChildProcess> Win32ProcessLauncher::Start(std::string_view command_line) {
  if (command_line.empty()) return nullptr;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  // A large pipe lets a chatty compiler run ahead of the reader.
  if (!CreatePipe(&read, &write, &sa, 1 << 20)) return nullptr;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  // Standard input is the empty device: a child that reads gets the end at
  // once (a null handle is not that everywhere: Wine passes its own on).
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) input = nullptr;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = input;
  si.hStdOutput = write;
  si.hStdError = write;
  std::wstring line = Widen(command_line);
  line.push_back(L'\0');
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                           NORMAL_PRIORITY_CLASS | CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(write);  // only the child writes now
  if (input) CloseHandle(input);
  if (!ok) {
    CloseHandle(read);
    return nullptr;
  }
  CloseHandle(pi.hThread);
  return std::make_unique<Win32Child>(pi.hProcess, read);
}

void Win32ProcessLauncher::TrimWorkingSet() {
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

}  // namespace kestrin
