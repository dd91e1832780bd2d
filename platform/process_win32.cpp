#include "platform/text.h"
#include "platform/win32_handle.h"
#include "platform/win32_platform.h"

#include <tlhelp32.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace kestrin {
namespace {

thread_local DWORD g_last_error = 0;

// A child whose output comes through the read end of a named pipe opened
// for overlapped reads: one read is always outstanding, and its event is
// what a wait waits on, beside the process itself.
class Win32Child : public ChildProcess {
 public:
  Win32Child(UniqueHandle process, UniqueHandle read, UniqueHandle job)
      : read_(std::move(read)), process_(std::move(process)), job_(std::move(job)),
        event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    overlapped_.hEvent = event_.Get();
    Issue();
  }
  ~Win32Child() override {
    if (!ended_ && WaitForSingleObject(process_.Get(), 0) != WAIT_OBJECT_0) {
      Terminate();
      WaitForSingleObject(process_.Get(), 1000);
    }
    // The read still outstanding writes into this object: it is cancelled
    // and waited for before the buffer goes.
    if (pending_ && CancelIoEx(read_.Get(), &overlapped_)) {
      DWORD got = 0;
      GetOverlappedResult(read_.Get(), &overlapped_, &got, TRUE);
    }
    // Then the job goes first (the members' reverse order): closing it ends
    // whatever the child left running.
  }
  std::size_t ReadAvailable(std::string* out) override {
    std::size_t total = 0;
    while (pending_) {
      DWORD got = 0;
      if (!GetOverlappedResult(read_.Get(), &overlapped_, &got, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) break;
        pending_ = false;  // the pipe is closed: every writer is gone
        closed_ = true;
        break;
      }
      pending_ = false;
      out->append(buffer_, got);
      total += got;
      Issue();
    }
    return total;
  }
  bool Ended() override {
    if (!ended_ && WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0) ended_ = true;
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
  // What a wait waits on for this child: its outstanding read, and its end.
  void WaitSet(std::vector<HANDLE>* handles) const {
    if (pending_) handles->push_back(event_.Get());
    if (!ended_) handles->push_back(process_.Get());
  }

 private:
  // Starts the next read; one that completes at once is taken by the next
  // ReadAvailable (its event is set either way).
  void Issue() {
    if (closed_ || !event_) return;
    if (ReadFile(read_.Get(), buffer_, sizeof buffer_, nullptr, &overlapped_) ||
        GetLastError() == ERROR_IO_PENDING) {
      pending_ = true;
      return;
    }
    closed_ = true;  // broken pipe: the child and what it started are gone
  }

  UniqueHandle read_, process_, job_, event_;  // closed in the reverse order
  OVERLAPPED overlapped_{};
  char buffer_[65536];
  bool pending_ = false, closed_ = false, ended_ = false;
};

// A pipe whose read end takes overlapped reads (an anonymous pipe does not)
// and whose write end the child inherits. False with the error kept.
bool MakeOutputPipe(UniqueHandle* read, UniqueHandle* write) {
  static std::atomic<unsigned> counter{0};
  const std::wstring name = L"\\\\.\\pipe\\kestrin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(counter++);
  // A large pipe lets a chatty compiler run ahead of the reader.
  read->Reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 1 << 20, 0,
                               nullptr));
  if (!*read) return false;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  write->Reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(*write);
}

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
  UniqueHandle read, write;
  if (!MakeOutputPipe(&read, &write)) {
    g_last_error = GetLastError();
    return nullptr;
  }
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
  Win32ChildSet() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
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
    if (wake_) handles.push_back(wake_.Get());
    for (const auto& c : children_) c->WaitSet(&handles);
    // At most 16 compilers run at once: two handles each and the wake-up
    // stay far below the system's limit.
    if (handles.size() > MAXIMUM_WAIT_OBJECTS) handles.resize(MAXIMUM_WAIT_OBJECTS);
    const DWORD timeout = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    if (handles.empty()) Sleep(timeout);
    else WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeout);
  }
  void Wake() override {
    if (wake_) SetEvent(wake_.Get());
  }

 private:
  UniqueHandle wake_;
  std::vector<std::unique_ptr<Win32Child>> children_;
};

}  // namespace

std::unique_ptr<ChildSet> Win32ProcessLauncher::NewChildSet() {
  return std::make_unique<Win32ChildSet>();
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
