#include <algorithm>

#include "platform/text.h"
#include "platform/win32_platform.h"

namespace kestrin {
namespace {

thread_local DWORD g_last_error = 0;

bool Fail() {
  g_last_error = GetLastError();
  return false;
}

class Win32File : public File {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { Close(); }
  long long Read(char* buf, std::size_t n) override {
    DWORD got = 0;
    if (!ReadFile(h_, buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &got, nullptr))
      return Fail(), -1;
    return got;
  }
  bool Write(std::string_view data) override {
    while (!data.empty()) {
      DWORD wrote = 0;
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
      if (!WriteFile(h_, data.data(), chunk, &wrote, nullptr)) return Fail();
      data.remove_prefix(wrote);
    }
    return true;
  }
  long long Size() override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(h_, &s)) return Fail(), -1;
    return s.QuadPart;
  }
  bool Close() override {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok || Fail();
  }

 private:
  HANDLE h_;
};

}  // namespace

std::string SystemErrorText(DWORD code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring w = n && buf ? std::wstring(buf, n) : L"error " + std::to_wstring(code);
  if (buf) LocalFree(buf);
  while (!w.empty() && (w.back() == L'\r' || w.back() == L'\n' || w.back() == L' ')) w.pop_back();
  return Narrow(w);
}

bool Win32FileSystem::FileExists(std::string_view path) {
  DWORD a = GetFileAttributesW(Widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::DirExists(std::string_view path) {
  DWORD a = GetFileAttributesW(Widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::MakeDir(std::string_view path) {
  return CreateDirectoryW(Widen(path).c_str(), nullptr) || Fail();
}

std::string Win32FileSystem::ShortPath(std::string_view path) {
  if (path.empty()) return {};
  std::wstring w = Widen(path);
  DWORD n = GetShortPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring s(n, L'\0');
  n = GetShortPathNameW(w.c_str(), s.data(), n);
  if (n == 0) return {};
  s.resize(n);
  return Narrow(s);
}

bool Win32FileSystem::ListDir(std::string_view folder, std::vector<DirEntry>* out) {
  out->clear();
  std::wstring pattern = Widen(folder);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L"*";
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return Fail();
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    out->push_back({Narrow(name), fd.dwFileAttributes});
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(out->begin(), out->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool Win32FileSystem::GetAttributes(std::string_view path, std::uint32_t* attrs) {
  DWORD a = GetFileAttributesW(Widen(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return Fail();
  *attrs = a;
  return true;
}

bool Win32FileSystem::SetAttributes(std::string_view path, std::uint32_t attrs) {
  return SetFileAttributesW(Widen(path).c_str(), attrs) || Fail();
}

std::unique_ptr<File> Win32FileSystem::OpenRead(std::string_view path, bool exclusive) {
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, exclusive ? 0 : FILE_SHARE_READ,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(), nullptr;
  return std::make_unique<Win32File>(h);
}

std::unique_ptr<File> Win32FileSystem::CreateWrite(std::string_view path) {
  // Open first, then empty: CREATE_ALWAYS would refuse a hidden file.
  HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(), nullptr;
  if (!SetEndOfFile(h)) {
    Fail();
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<Win32File>(h);
}

bool Win32FileSystem::RemoveFile(std::string_view path) {
  return DeleteFileW(Widen(path).c_str()) || Fail();
}

std::string Win32FileSystem::LastError() { return SystemErrorText(g_last_error); }

std::string Win32FileSystem::ExecutableFolder() {
  std::wstring buf(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  buf.resize(n);
  return Narrow(buf.substr(0, buf.find_last_of(L'\\') + 1));
}

std::string Win32FileSystem::SystemFolder() {
  // The IDE and the programs built with the library are 32-bit: their
  // packages belong where 32-bit programs load DLLs from. A 32-bit program
  // asks for the system folder, and Windows redirects its writes there on
  // 64-bit systems; a 64-bit program has to name that folder itself.
  wchar_t buf[MAX_PATH + 1];
#ifdef _WIN64
  UINT n = GetSystemWow64DirectoryW(buf, MAX_PATH);
#else
  UINT n = GetSystemDirectoryW(buf, MAX_PATH);
#endif
  if (n == 0 || n > MAX_PATH) return Fail(), std::string();
  std::wstring s(buf, n);
  while (!s.empty() && s.back() == L'\\') s.pop_back();
  return Narrow(s);
}

}  // namespace kestrin
