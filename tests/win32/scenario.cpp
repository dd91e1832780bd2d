#include "tests/win32/scenario.h"

#include <filesystem>
#include <stdexcept>

#include "platform/pe_module.h"
#include "platform/win32_platform.h"
#include "catalogue/ide_profiles.h"
#include "tools/mklib/samplelib.h"
#include "tools/pewriter/package_writer.h"

namespace kt {

std::string BaseKey(int index) {
  std::string k(kestrin::kIdeProfiles[index].baseKey);
  return k.substr(0, k.size() - 1);
}

void ClearIdeSettings() {
  RegDeleteTreeUtf8("Software\\Borland");
  RegDeleteTreeUtf8("Software\\CodeGear");
}

// Where 32-bit programs load packages from: the program under test must copy
// there whatever its own bitness.
std::string SystemFolder() {
  wchar_t buf[MAX_PATH];
#ifdef _WIN64
  UINT n = GetSystemWow64DirectoryW(buf, MAX_PATH);
#else
  UINT n = GetSystemDirectoryW(buf, MAX_PATH);
#endif
  return U(std::wstring(buf, n));
}

Scenario::Scenario(const std::string& lib, std::vector<std::string> suffixes) {
  library = lib.back() == '\\' ? lib : lib + "\\";
  RemoveTree(library.substr(0, library.size() - 1));
  ClearIdeSettings();
  kestrin::Win32FileSystem fs;
  kestrin::SampleLibraryOptions o;
  o.root = library;
  o.suffixes = std::move(suffixes);
  std::string error;
  if (!kestrin::GenerateSampleLibrary(fs, o, nullptr, &error)) throw std::runtime_error(error);
  CopyFileUtf8(TestFolder() + "kestrin.exe", Exe());
  CopyFileUtf8(TestFolder() + "kestrin.com", library + "kestrin.com");
  ide_root = "C:\\kestrin-tests\\Borland IDE\\";
}

Scenario::~Scenario() { ClearIdeSettings(); }

RunningIde::RunningIde(int index) {
  std::string exe;
  if (!RegRead(BaseKey(index), "App", &exe) || !CopyFileUtf8(TestFolder() + "dcc32.exe", exe)) return;
  SetEnvironmentVariableW(L"KESTRIN_DCC_HANG", L"*");
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring line = L"\"" + W(exe) + L"\"";
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &si, &pi_))
    pi_ = {};
  SetEnvironmentVariableW(L"KESTRIN_DCC_HANG", nullptr);
}

RunningIde::~RunningIde() {
  if (!Started()) return;
  TerminateProcess(pi_.hProcess, 0);
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

void Scenario::RegisterIde(int index) {
  const std::string root = ide_root + kestrin::kIdeProfiles[index].longSuffix.data();
  RemoveTree(root);  // nothing left from an earlier test
  MakeDirs(root + "\\bin");
  CopyFileUtf8(TestFolder() + "dcc32.exe", root + "\\bin\\dcc32.exe");
  // The IDE's program, a module of this build's bitness as the packages the
  // stand-in writes are; and its own packages (rtl70.bpl ... in bin, their
  // .dcp in lib), which the stand-in's packages import by module name.
  CopyFileUtf8(TestFolder() + "loadprobe.exe", root + "\\bin\\ide.exe");
  const std::string number = kestrin::pe::IdePackageNumber(std::string(kestrin::kIdeProfiles[index].shortSuffix));
  std::string error;
  if (!number.empty() && !kestrin::pe::WriteIdePackages(std::filesystem::path(W(root)), number, &error))
    throw std::runtime_error(error);
  const std::string base = BaseKey(index);
  RegSetSz(base, "App", root + "\\bin\\ide.exe");
  RegSetSz(base, "RootDir", root);
  RegSetSz(base + "\\Library", "Search Path", "$(DELPHI)\\Lib;$(DELPHI)\\Bin");
  RegCreate(base + "\\Known Packages");
  RegCreate(base + "\\Disabled Packages");
}

std::string PackageBytes(const std::string& module) {
  kestrin::pe::PackageSpec p;
  p.module = module;
  p.pe32plus = kestrin::pe::kOwnModulesArePe32Plus;
  p.flags = kestrin::package_flags::kPackageModule | kestrin::package_flags::kRunOnly;
  return kestrin::pe::WritePackage(p);
}

}  // namespace kt
