#include "tests/win32/driver.h"

#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>

#include "app/controls.h"

namespace kt {

std::wstring W(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

std::string U(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() > end) return false;
    Sleep(20);
  }
}

std::string TestFolder() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring p(buf, n);
  return U(p.substr(0, p.find_last_of(L'\\') + 1));
}

namespace {
struct FindData {
  DWORD pid;
  std::wstring caption_prefix;
  HWND found;
  bool any_dialog = false;
};
BOOL CALLBACK FindTop(HWND h, LPARAM l) {
  auto* d = reinterpret_cast<FindData*>(l);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid != d->pid || !IsWindowVisible(h)) return TRUE;
  wchar_t cls[64];
  GetClassNameW(h, cls, 64);
  if (wcscmp(cls, L"KestrinMainWindow") == 0 && d->caption_prefix.empty() && !d->any_dialog) {
    d->found = h;
    return FALSE;
  }
  if (d->any_dialog && wcscmp(cls, L"#32770") == 0) {
    d->found = h;
    return FALSE;
  }
  if (!d->caption_prefix.empty()) {
    wchar_t text[256] = {};
    GetWindowTextW(h, text, 256);
    if (wcscmp(cls, L"KestrinMainWindow") != 0 &&
        std::wstring(text).rfind(d->caption_prefix, 0) == 0) {
      d->found = h;
      return FALSE;
    }
  }
  return TRUE;
}
struct ChildData {
  int id;
  HWND found;
};
BOOL CALLBACK FindChild(HWND h, LPARAM l) {
  auto* d = reinterpret_cast<ChildData*>(l);
  if (GetDlgCtrlID(h) == d->id) {
    d->found = h;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

Program::Program(const std::string& exe, const std::string& folder, bool wait_for_window) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring line = L"\"" + W(exe) + L"\"";
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      W(folder).c_str(), &si, &pi_)) {
    pi_ = {};  // a failed call promises nothing of what it left there
    return;
  }
  WaitForInputIdle(pi_.hProcess, 10000);
  if (wait_for_window) FindMain(20000);
}

bool Program::FindMain(int timeout_ms) {
  return WaitUntil(
      [&] {
        FindData d{pi_.dwProcessId, L"", nullptr};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&d));
        main_ = d.found;
        return main_ != nullptr;
      },
      timeout_ms);
}

Program::~Program() {
  if (pi_.hProcess) {
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(pi_.hProcess, 1);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
  }
}

HWND Program::Ctl(int id) const {
  ChildData d{id, nullptr};
  EnumChildWindows(main_, FindChild, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

static std::string WindowText(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len)) return "<hung>";
  std::wstring buf(len + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                      SMTO_ABORTIFHUNG, 5000, &got);
  buf.resize(got);
  return U(buf);
}

std::string Program::Text(int id) const { return WindowText(Ctl(id)); }
std::string Program::Caption() const { return WindowText(main_); }

bool Program::Checked(int id) const {
  DWORD_PTR r = 0;
  SendMessageTimeoutW(Ctl(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
  return r == BST_CHECKED;
}

std::string Program::States() const {
  using namespace kestrin::ctl;
  std::string s;
  for (int id : {kCompileButton, kVerifyButton, kCopyButton, kInstallButton, kUninstallButton, kDeleteBplCheck})
    s += Enabled(id) ? '1' : '0';
  return s;
}

RECT Program::Place(int id) const {
  RECT r;
  GetWindowRect(Ctl(id), &r);
  MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Program::Click(int id) const {
  HWND c = Ctl(id);
  if (!c || !IsWindowEnabled(c)) return false;
  // Sent, not posted, so that the click is handled before anything the test
  // asks next (a sent question would otherwise overtake a posted click); a
  // command that runs long, or opens a dialog, is left running after a
  // short while.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(c, BM_CLICK, 0, 0, SMTO_NORMAL, 500, &result);
  return true;
}

bool Program::Responsive(int timeout_ms) const {
  DWORD_PTR r = 0;
  return SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms, &r) != 0;
}

std::string Program::Remote(HWND target, UINT msg, WPARAM w, std::size_t size, bool) const {
  // Messages that carry pointers need their buffers in the program's memory.
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, Pid());
  if (!p) return {};
  void* mem = VirtualAllocEx(p, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  std::string out;
  if (mem) {
    std::vector<wchar_t> zero(size / 2, 0);
    WriteProcessMemory(p, mem, zero.data(), size, nullptr);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(target, msg, w, reinterpret_cast<LPARAM>(mem), SMTO_ABORTIFHUNG, 5000, &r);
    std::vector<wchar_t> back(size / 2, 0);
    ReadProcessMemory(p, mem, back.data(), size, nullptr);
    out = U(std::wstring(back.data()));
    VirtualFreeEx(p, mem, 0, MEM_RELEASE);
  }
  CloseHandle(p);
  return out;
}

int Program::ListCount() const {
  DWORD_PTR r = 0;
  SendMessageTimeoutW(Ctl(kestrin::ctl::kBuildList), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                      5000, &r);
  return static_cast<int>(r);
}

bool Program::ListTicked(int index) const {
  DWORD_PTR r = 0;
  SendMessageTimeoutW(Ctl(kestrin::ctl::kBuildList), LVM_GETITEMSTATE, index,
                      LVIS_STATEIMAGEMASK, SMTO_ABORTIFHUNG, 5000, &r);
  return ((r & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

std::vector<int> Program::Ticked() const {
  std::vector<int> t;
  for (int i = 0, n = ListCount(); i < n; ++i)
    if (ListTicked(i)) t.push_back(i);
  return t;
}

std::string Program::ListText(int index) const {
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, Pid());
  if (!p) return {};
  const std::size_t text_bytes = 512;
  char* mem = static_cast<char*>(
      VirtualAllocEx(p, nullptr, sizeof(LVITEMW) + text_bytes, MEM_COMMIT, PAGE_READWRITE));
  std::string out;
  if (mem) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = reinterpret_cast<LPWSTR>(mem + sizeof(LVITEMW));
    item.cchTextMax = text_bytes / 2;
    WriteProcessMemory(p, mem, &item, sizeof item, nullptr);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(Ctl(kestrin::ctl::kBuildList), LVM_GETITEMTEXTW, index,
                        reinterpret_cast<LPARAM>(mem), SMTO_ABORTIFHUNG, 5000, &r);
    wchar_t buf[256] = {};
    ReadProcessMemory(p, mem + sizeof(LVITEMW), buf, sizeof buf - 2, nullptr);
    out = U(buf);
    VirtualFreeEx(p, mem, 0, MEM_RELEASE);
  }
  CloseHandle(p);
  return out;
}

std::string Program::StatusText(int part) const {
  return Remote(Ctl(kestrin::ctl::kStatusBar), SB_GETTEXTW, part, 1024, true);
}

std::vector<std::string> Program::LogLines() const {
  std::string t = Text(kestrin::ctl::kLogPane);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < t.size()) {
    std::size_t p = t.find("\r\n", start);
    if (p == std::string::npos) {
      lines.push_back(t.substr(start));
      break;
    }
    lines.push_back(t.substr(start, p - start));
    start = p + 2;
  }
  return lines;
}

HWND Program::WaitDialog(const std::string& title, int timeout_ms) const {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        FindData d{Pid(), W(title), nullptr, title.empty()};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&d));
        found = d.found;
        return found != nullptr;
      },
      timeout_ms);
  return found;
}

std::string Program::DialogText(HWND dialog) const {
  HWND s = GetDlgItem(dialog, 0xFFFF);
  return s ? WindowText(s) : std::string();
}

bool Program::WaitIdle(int timeout_ms) const {
  using namespace kestrin::ctl;
  return WaitUntil(
      [&] {
        if (!Visible(kCompileButton) || Visible(kStopButton)) return false;
        if (!IsWindowEnabled(Ctl(kChooseFolderButton))) return false;  // a command still runs
        auto lines = LogLines();
        return !lines.empty() && lines.back() == "========================完成======================";
      },
      timeout_ms);
}

bool Program::WaitExit(int timeout_ms) const {
  return WaitForSingleObject(pi_.hProcess, timeout_ms) == WAIT_OBJECT_0;
}

bool Program::Close(int timeout_ms) {
  PostMessageW(main_, WM_CLOSE, 0, 0);
  return WaitExit(timeout_ms);
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  return int(std::count_if(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}
bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}
bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Registry -------------------------------------------------------------------

void RegDeleteTreeUtf8(const std::string& key) { RegDeleteTreeW(HKEY_CURRENT_USER, W(key).c_str()); }

void RegCreate(const std::string& key) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, W(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(k);
}

void RegSetSz(const std::string& key, const std::string& name, const std::string& value) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, W(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                      nullptr) != ERROR_SUCCESS)
    return;
  std::wstring v = W(value);
  RegSetValueExW(k, W(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                 DWORD((v.size() + 1) * 2));
  RegCloseKey(k);
}

void RegSetDword(const std::string& key, const std::string& name, DWORD value) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, W(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(k, W(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  RegCloseKey(k);
}

bool RegRead(const std::string& key, const std::string& name, std::string* value, DWORD* type) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, W(key).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  DWORD t = 0, size = 0;
  bool ok = RegQueryValueExW(k, W(name).c_str(), nullptr, &t, nullptr, &size) == ERROR_SUCCESS;
  if (ok) {
    std::wstring buf(size / 2 + 1, L'\0');
    RegQueryValueExW(k, W(name).c_str(), nullptr, &t, reinterpret_cast<BYTE*>(buf.data()), &size);
    buf.resize(wcslen(buf.c_str()));
    if (value) *value = U(buf);
    if (type) *type = t;
  }
  RegCloseKey(k);
  return ok;
}

std::vector<std::string> RegValueNames(const std::string& key) {
  std::vector<std::string> names;
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, W(key).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[1024];
    DWORD len = 1024;
    if (RegEnumValueW(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(U(std::wstring(name, len)));
  }
  RegCloseKey(k);
  return names;
}

// Files ----------------------------------------------------------------------

bool MakeDirs(const std::string& path) {
  std::wstring p = W(path);
  for (std::size_t i = 3; i <= p.size(); ++i)
    if (i == p.size() || p[i] == L'\\') CreateDirectoryW(p.substr(0, i).c_str(), nullptr);
  DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteFileUtf8(const std::string& path, const std::string& data) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  BOOL ok = WriteFile(h, data.data(), DWORD(data.size()), &n, nullptr);
  CloseHandle(h);
  return ok && n == data.size();
}

bool ReadFileUtf8(const std::string& path, std::string* data) {
  HANDLE h = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  data->clear();
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n) data->append(buf, n);
  CloseHandle(h);
  return true;
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyFileUtf8(const std::string& from, const std::string& to) {
  return CopyFileW(W(from).c_str(), W(to).c_str(), FALSE) != FALSE;
}

void RemoveTree(const std::string& path) {
  std::wstring p = W(path);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((p + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring n = fd.cFileName;
      if (n == L"." || n == L"..") continue;
      std::wstring child = p + L"\\" + n;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link goes, never what it leads to.
        if (!RemoveDirectoryW(child.c_str()) && !DeleteFileW(child.c_str()) &&
            RunUnix("/bin/rm", {"-f", UnixPath(U(child))}))
          WaitUntil([&] { return GetFileAttributesW(child.c_str()) == INVALID_FILE_ATTRIBUTES; }, 5000);
        continue;
      }
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(U(child));
      else DeleteFileW(child.c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(p.c_str());
}

std::vector<std::string> FilesIn(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(W(folder + "\\" + pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(U(fd.cFileName));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

std::string UnixPath(const std::string& path) {
  using ToUnix = char*(__cdecl*)(LPCWSTR);
  auto to_unix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!to_unix) return {};
  char* unix_path = to_unix(W(path).c_str());
  if (!unix_path) return {};
  std::string r = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return r;
}

bool RunUnix(const std::string& program, const std::vector<std::string>& args) {
  std::string line = program;
  for (const auto& a : args) line += " \"" + a + "\"";
  std::wstring cmd = W(line);
  std::wstring exe = L"Z:" + W(program);
  std::replace(exe.begin(), exe.end(), L'/', L'\\');
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    fprintf(stderr, "RunUnix: %s failed to start (%lu)\n", line.c_str(), GetLastError());
    return false;
  }
  // Wine starts a Linux program without a process or thread handle, and
  // writes left-over values into `pi` (hProcess 0; hThread once this
  // process's own HKEY_LOCAL_MACHINE root, which a close would take from
  // every later registry call): nothing of it is closed. Callers wait for
  // the program's effect.
  return true;
}

int CountProcesses(const std::wstring& exe) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e))
    if (_wcsicmp(e.szExeFile, exe.c_str()) == 0) ++n;
  CloseHandle(snap);
  return n;
}

// `cmd.exe /c <command>`, as a batch file or a CI runner would start it.
Script RunScript(const std::string& command, int timeout_ms) {
  Script r;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &sa, 1 << 20)) {
    r.err = "cannot make a pipe: error " + std::to_string(GetLastError());
    return r;
  }
  if (!CreatePipe(&err_read, &err_write, &sa, 1 << 20)) {
    r.err = "cannot make a pipe: error " + std::to_string(GetLastError());
    CloseHandle(out_read);
    CloseHandle(out_write);
    return r;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input;
  si.hStdOutput = out_write;
  si.hStdError = err_write;
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
  std::wstring line = L"cmd.exe /c \"" + W(command) + L"\"";
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  const DWORD start_error = GetLastError();
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  auto drain = [](HANDLE pipe, std::string* to) {
    for (DWORD avail = 0; PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr) && avail;) {
      std::string chunk(avail, '\0');
      DWORD got = 0;
      if (!ReadFile(pipe, chunk.data(), avail, &got, nullptr) || got == 0) break;
      to->append(chunk.data(), got);
    }
  };
  if (!started) r.err = "cannot start cmd.exe: error " + std::to_string(start_error);
  if (started) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT && GetTickCount64() < end) {
      drain(out_read, &r.out);
      drain(err_read, &r.err);
    }
    drain(out_read, &r.out);
    drain(err_read, &r.err);
    GetExitCodeProcess(pi.hProcess, &r.code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out_read);
  CloseHandle(err_read);
  return r;
}

}  // namespace kt
