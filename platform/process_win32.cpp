#include "platform/text.h"
#include "platform/win32_handle.h"
#include "platform/win32_platform.h"

#include <tlhelp32.h>

#include <utility>

namespace kestrin {
namespace {

thread_local DWORD g_last_error = 0;

class Win32Child : public ChildProcess {
 public:
  Win32Child(UniqueHandle process, UniqueHandle read, UniqueHandle job)
      : read_(std::move(read)), process_(std::move(process)), job_(std::move(job)) {}
  ~Win32Child() override {
    if (!ended_) {
      Terminate();
      WaitForSingleObject(process_.Get(), 1000);
    }
    // Then the job goes first (the members' reverse order): closing it ends
    // whatever the child left running.
  }
  std::size_t ReadAvailable(std::string* out) override {
    std::size_t total = 0;
    char buf[65536];
    for (;;) {
      DWORD avail = 0;
      if (!PeekNamedPipe(read_.Get(), nullptr, 0, nullptr, &avail, nullptr) || avail == 0) break;
      DWORD got = 0;
      if (!ReadFile(read_.Get(), buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) || got == 0)
        break;
      out->append(buf, got);
      total += got;
    }
    return total;
  }
  bool Wait(int timeout_ms) override {
    if (ended_) return true;
    HANDLE process = process_.Get();
    DWORD r = MsgWaitForMultipleObjectsEx(1, &process, static_cast<DWORD>(timeout_ms), QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0) ended_ = true;
    return ended_;
  }
  void Terminate() override {
    if (ended_) return;
    // The whole job: the compiler and anything it started.
    if (!job_ || !TerminateJobObject(job_.Get(), 1)) TerminateProcess(process_.Get(), 1);
  }
  int ExitCode() override {
    DWORD code = 0;
    if (!ended_ || !GetExitCodeProcess(process_.Get(), &code)) return -1;
    return static_cast<int>(code);
  }
  HANDLE process() const { return process_.Get(); }
  bool ended() const { return ended_; }

 private:
  UniqueHandle read_, process_, job_;  // closed in the reverse order
  bool ended_ = false;
};

// A job that ends every process in it when its last handle closes, so that
// the child and everything it starts go with the program.
UniqueHandle MakeKillOnCloseJob() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    job.Reset();
  return job;
}

}  // namespace

namespace {

std::unique_ptr<Win32Child> StartChild(std::string_view command_line) {
  if (command_line.empty()) {
    g_last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  // A large pipe lets a chatty compiler run ahead of the reader.
  if (!CreatePipe(&read_end, &write_end, &sa, 1 << 20)) {
    g_last_error = GetLastError();
    return nullptr;
  }
  UniqueHandle read(read_end), write(write_end);
  SetHandleInformation(read.Get(), HANDLE_FLAG_INHERIT, 0);
  // Standard input is the empty device: a child that reads gets the end at
  // once (a null handle is not that everywhere: Wine passes its own on).
  UniqueHandle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                 OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = input ? input.Get() : nullptr;
  si.hStdOutput = write.Get();
  si.hStdError = write.Get();
  std::wstring line = Widen(command_line);
  line.push_back(L'\0');
  PROCESS_INFORMATION pi{};
  // Started suspended, so that it is in the job before it can start anything.
  BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                           NORMAL_PRIORITY_CLASS | CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                           nullptr, &si, &pi);
  if (!ok) {
    g_last_error = GetLastError();
    return nullptr;
  }
  write.Reset();  // only the child writes now
  input.Reset();
  UniqueHandle process(pi.hProcess), thread(pi.hThread);
  // Where the program itself runs in a job that allows no nesting (before
  // Windows 8), the child runs without one and is ended alone.
  UniqueHandle job = MakeKillOnCloseJob();
  if (job && !AssignProcessToJobObject(job.Get(), process.Get())) job.Reset();
  ResumeThread(thread.Get());
  return std::make_unique<Win32Child>(std::move(process), std::move(read), std::move(job));
}

class Win32ChildSet : public ChildSet {
 public:
  explicit Win32ChildSet(bool window_messages) : window_messages_(window_messages) {}
  ChildProcess* Start(std::string_view command_line) override {
    auto child = StartChild(command_line);
    if (!child) return nullptr;
    children_.push_back(std::move(child));
    return children_.back().get();
  }
  void Remove(ChildProcess* child) override {
    std::erase_if(children_, [&](const std::unique_ptr<Win32Child>& c) { return c.get() == child; });
  }
  void Wait(int timeout_ms) override {
    std::vector<HANDLE> handles;
    for (const auto& c : children_)
      if (!c->ended()) handles.push_back(c->process());
    if (handles.size() >= MAXIMUM_WAIT_OBJECTS) handles.resize(MAXIMUM_WAIT_OBJECTS - 1);
    const DWORD timeout = static_cast<DWORD>(timeout_ms);
    if (window_messages_)
      MsgWaitForMultipleObjectsEx(static_cast<DWORD>(handles.size()), handles.data(), timeout,
                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    else if (handles.empty())
      Sleep(timeout);
    else
      WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
  }

 private:
  const bool window_messages_;
  std::vector<std::unique_ptr<Win32Child>> children_;
};

}  // namespace

std::unique_ptr<ChildSet> Win32ProcessLauncher::NewChildSet() {
  return std::make_unique<Win32ChildSet>(window_messages_);
}

// The full, long form of a path, for comparing program files.
static std::wstring CanonicalPath(const std::wstring& path) {
  std::wstring full(32768, L'\0');
  DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return path;
  full.resize(n);
  std::wstring longer(32768, L'\0');
  n = GetLongPathNameW(full.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
  if (n == 0 || n >= longer.size()) return full;
  longer.resize(n);
  return longer;
}

bool Win32ProcessLauncher::IsRunning(std::string_view image_path) {
  const std::wstring wanted = CanonicalPath(Widen(image_path));
  const UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return false;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  bool found = false;
  for (BOOL ok = Process32FirstW(snap.Get(), &e); ok && !found; ok = Process32NextW(snap.Get(), &e)) {
    const UniqueHandle h(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.th32ProcessID));
    if (!h) continue;  // access denied and the like: not the IDE, as far as we can tell
    std::wstring image(32768, L'\0');
    DWORD n = static_cast<DWORD>(image.size());
    if (QueryFullProcessImageNameW(h.Get(), 0, image.data(), &n)) {
      image.resize(n);
      found = CompareStringOrdinal(CanonicalPath(image).c_str(), -1, wanted.c_str(), -1, TRUE) ==
              CSTR_EQUAL;
    }
  }
  return found;
}

std::string Win32ProcessLauncher::LastError() { return SystemErrorText(g_last_error); }

int Win32ProcessLauncher::UsableProcessors() {
  DWORD_PTR process_mask = 0, system_mask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask)) return 1;
  int n = 0;
  for (; process_mask; process_mask &= process_mask - 1) ++n;
  return n > 0 ? n : 1;
}

void Win32ProcessLauncher::TrimWorkingSet() {
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

}  // namespace kestrin
