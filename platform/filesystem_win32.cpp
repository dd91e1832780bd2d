#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/text.h"
#include "platform/win32_handle.h"
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
  explicit Win32File(UniqueHandle h) : h_(std::move(h)) {}
  ~Win32File() override { Close(); }
  long long Read(char* buf, std::size_t n) override {
    DWORD got = 0;
    if (!ReadFile(h_.Get(), buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &got, nullptr))
      return Fail(), -1;
    return got;
  }
  long long ReadAt(long long offset, char* buf, std::size_t n) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(h_.Get(), buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) return 0;
      return Fail(), -1;
    }
    return got;
  }
  bool Write(std::string_view data) override {
    while (!data.empty()) {
      DWORD wrote = 0;
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
      if (!WriteFile(h_.Get(), data.data(), chunk, &wrote, nullptr)) return Fail();
      data.remove_prefix(wrote);
    }
    return true;
  }
  long long Size() override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(h_.Get(), &s)) return Fail(), -1;
    return s.QuadPart;
  }
  bool Flush() override { return FlushFileBuffers(h_.Get()) || Fail(); }
  bool Close() override { return h_.Reset() || Fail(); }

 private:
  UniqueHandle h_;
};

// A path as the wide W functions take it. From MAX_PATH on (folders: from
// 248, the limit of CreateDirectoryW) an absolute path gets the "\\?\"
// form, which lifts the limit; shorter ones stay as they are.
std::wstring PathW(std::string_view path) {
  std::wstring w = Widen(path);
  if (w.size() < 248 || w.rfind(L"\\\\?\\", 0) == 0) return w;
  if (w.size() > 2 && w[1] == L':' && w[2] == L'\\') return L"\\\\?\\" + w;
  if (w.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + w.substr(2);
  return w;
}

// Back from the "\\?\" form to the ordinary one.
std::wstring PlainW(std::wstring w) {
  if (w.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + w.substr(8);
  if (w.rfind(L"\\\\?\\", 0) == 0) return w.substr(4);
  return w;
}

// FILE_ID_INFO and its class, which the headers declare only for programs
// built for Windows 8 and later; earlier systems refuse the class.
struct FileIdInformation {
  ULONGLONG volumeSerialNumber;
  BYTE fileId[16];
};
constexpr auto kFileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// The 128-bit file id where the system offers it (ReFS's 64-bit index is
// not unique), else the 64-bit index; a volume without file ids gives 0,
// and all ones is the system's "no id" (FILE_INVALID_FILE_ID): both unknown.
FileId IdentityOf(HANDLE h, const BY_HANDLE_FILE_INFORMATION& bh) {
  FileIdInformation fid;
  if (GetFileInformationByHandleEx(h, kFileIdInfoClass, &fid, sizeof fid)) {
    FileId id{fid.volumeSerialNumber, 0, 0};
    std::memcpy(&id.low, fid.fileId, 8);
    std::memcpy(&id.high, fid.fileId + 8, 8);
    return id;
  }
  const std::uint64_t index =
      (static_cast<std::uint64_t>(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
  return FileId{bh.dwVolumeSerialNumber, 0, index == ~std::uint64_t{0} ? 0 : index};
}

long long FileTimeValue(const FILETIME& t) {
  return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                t.dwLowDateTime);
}

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
  DWORD a = GetFileAttributesW(PathW(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

PathKind Win32FileSystem::Probe(std::string_view path) {
  DWORD a = GetFileAttributesW(PathW(path).c_str());
  if (a != INVALID_FILE_ATTRIBUTES)
    return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
  Fail();
  return g_last_error == ERROR_FILE_NOT_FOUND || g_last_error == ERROR_PATH_NOT_FOUND
             ? PathKind::Missing
             : PathKind::Error;
}

bool Win32FileSystem::Inspect(std::string_view path, FileInfo* info) {
  const std::wstring w = PathW(path);
  DWORD a = GetFileAttributesW(w.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return Fail();
  // No access asked for: this opens files that others hold without sharing.
  const UniqueHandle h(CreateFileW(w.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return Fail();
  BY_HANDLE_FILE_INFORMATION bh;
  if (!GetFileInformationByHandle(h.Get(), &bh)) return Fail();
  info->id = IdentityOf(h.Get(), bh);
  info->links = bh.nNumberOfLinks;
  info->reparse = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info->size = static_cast<long long>((static_cast<std::uint64_t>(bh.nFileSizeHigh) << 32) |
                                      bh.nFileSizeLow);
  info->modified = FileTimeValue(bh.ftLastWriteTime);
  return true;
}

bool Win32FileSystem::DirExists(std::string_view path) {
  DWORD a = GetFileAttributesW(PathW(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32FileSystem::MakeDir(std::string_view path) {
  return CreateDirectoryW(PathW(path).c_str(), nullptr) || Fail();
}

std::string Win32FileSystem::ShortPath(std::string_view path) {
  if (path.empty()) return {};
  std::wstring w = PathW(path);
  DWORD n = GetShortPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring s(n, L'\0');
  n = GetShortPathNameW(w.c_str(), s.data(), n);
  if (n == 0) return {};
  s.resize(n);
  return Narrow(PlainW(s));
}

std::string Win32FileSystem::LongPath(std::string_view path) {
  if (path.empty()) {
    g_last_error = ERROR_PATH_NOT_FOUND;
    return {};
  }
  std::wstring w = PathW(path);
  DWORD n = GetLongPathNameW(w.c_str(), nullptr, 0);
  if (n == 0) return Fail(), std::string();
  std::wstring l(n, L'\0');
  n = GetLongPathNameW(w.c_str(), l.data(), n);
  if (n == 0) return Fail(), std::string();
  if (n >= l.size()) {  // renamed between the two calls
    g_last_error = ERROR_INSUFFICIENT_BUFFER;
    return {};
  }
  l.resize(n);
  return Narrow(PlainW(l));
}

bool Win32FileSystem::ListDir(std::string_view folder, std::vector<DirEntry>* out) {
  out->clear();
  std::wstring pattern = PathW(folder);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L"*";
  WIN32_FIND_DATAW fd;
  UniqueFind find(FindFirstFileW(pattern.c_str(), &fd));
  if (!find) return Fail();
  do {
    std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    out->push_back({Narrow(name), fd.dwFileAttributes});
  } while (FindNextFileW(find.Get(), &fd));
  // The listing ends with "no more files"; any other error cut it short,
  // and what was read so far is not the whole folder.
  const DWORD ended = GetLastError();
  find.Reset();
  std::sort(out->begin(), out->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  if (ended != ERROR_NO_MORE_FILES) {
    SetLastError(ended);
    return Fail();
  }
  return true;
}

bool Win32FileSystem::GetAttributes(std::string_view path, std::uint32_t* attrs) {
  DWORD a = GetFileAttributesW(PathW(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return Fail();
  *attrs = a;
  return true;
}

bool Win32FileSystem::SetAttributes(std::string_view path, std::uint32_t attrs) {
  return SetFileAttributesW(PathW(path).c_str(), attrs) || Fail();
}

std::unique_ptr<File> Win32FileSystem::OpenRead(std::string_view path, bool exclusive) {
  UniqueHandle h(CreateFileW(PathW(path).c_str(), GENERIC_READ, exclusive ? 0 : FILE_SHARE_READ,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return Fail(), nullptr;
  return std::make_unique<Win32File>(std::move(h));
}

std::unique_ptr<File> Win32FileSystem::CreateWrite(std::string_view path) {
  // Open first, then empty: CREATE_ALWAYS would refuse a hidden file.
  UniqueHandle h(CreateFileW(PathW(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return Fail(), nullptr;
  if (!SetEndOfFile(h.Get())) return Fail(), nullptr;
  return std::make_unique<Win32File>(std::move(h));
}

bool Win32FileSystem::RemoveFile(std::string_view path) {
  return DeleteFileW(PathW(path).c_str()) || Fail();
}

bool Win32FileSystem::ReplaceWith(std::string_view from, std::string_view to) {
  return MoveFileExW(PathW(from).c_str(), PathW(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         Fail();
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
