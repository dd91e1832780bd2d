// loadprobe: loads each module named on its command line with LoadLibraryW,
// as a program would, and prints one line per module:
//   <path>\t<0, or the error code of the failed load>
// A module that loaded is checked further: each slot of the import table of
// every package module now in the process (it and the packages it brought
// in) must hold what GetProcAddress gives for that function of the module
// it names (Wine puts a stub there for a function the module lacks, where
// Windows fails the load with 127). When one does not, the code printed is
// 127 and a line "\tunbound: <module>!<function>" follows for each.
// Exit code: 0 when every module loaded with every import bound, else 1.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

// The imports of a loaded module whose slot differs from GetProcAddress.
std::vector<std::string> Unbound(HMODULE module) {
  std::vector<std::string> bad;
  auto* base = reinterpret_cast<const unsigned char*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return bad;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    const char* name = reinterpret_cast<const char*>(base + d->Name);
    HMODULE target = GetModuleHandleA(name);
    auto* lookup = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    auto* slot = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; lookup->u1.AddressOfData; ++lookup, ++slot) {
      std::string function;
      FARPROC want = nullptr;
      if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) {
        const WORD ordinal = static_cast<WORD>(IMAGE_ORDINAL(lookup->u1.Ordinal));
        function = "#";
        function += std::to_string(ordinal);
        if (target) want = GetProcAddress(target, MAKEINTRESOURCEA(ordinal));
      } else {
        auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + lookup->u1.AddressOfData);
        function = reinterpret_cast<const char*>(byName->Name);
        if (target) want = GetProcAddress(target, function.c_str());
      }
      if (!want || reinterpret_cast<ULONG_PTR>(want) != static_cast<ULONG_PTR>(slot->u1.Function))
        bad.push_back(std::string(name).append("!").append(function));
    }
  }
  return bad;
}

// The unbound imports of every package module in the process.
std::vector<std::string> UnboundInPackages() {
  std::vector<std::string> bad;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
  if (snap == INVALID_HANDLE_VALUE) return bad;
  MODULEENTRY32W e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Module32FirstW(snap, &e); ok; ok = Module32NextW(snap, &e)) {
    const std::wstring name = e.szModule;
    if (name.size() < 4 || _wcsicmp(name.c_str() + name.size() - 4, L".bpl") != 0) continue;
    for (std::string& b : Unbound(e.hModule)) bad.push_back(std::move(b));
  }
  CloseHandle(snap);
  return bad;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: loadprobe <module>...\n");
    return 2;
  }
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  int result = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string path = Utf8(argv[i]);
    HMODULE m = LoadLibraryW(argv[i]);
    if (!m) {
      std::printf("%s\t%lu\n", path.c_str(), GetLastError());
      result = 1;
      continue;
    }
    const std::vector<std::string> bad = UnboundInPackages();
    std::printf("%s\t%lu\n", path.c_str(), bad.empty() ? 0ul : static_cast<unsigned long>(ERROR_PROC_NOT_FOUND));
    for (const std::string& b : bad) std::printf("\tunbound: %s\n", b.c_str());
    if (!bad.empty()) result = 1;
    FreeLibrary(m);
  }
  std::fflush(stdout);
  return result;
}
