// A prepared scenario for driving the program: a library tree with the
// program copied into it, and IDE releases registered for the current user.
#pragma once

#include <string>
#include <vector>

#include "tests/win32/driver.h"

namespace kt {

struct Scenario {
  // Builds a library at `library` (generated for `suffixes`) and copies
  // kestrin.exe into it; `library` may hold blanks and Chinese characters.
  Scenario(const std::string& library, std::vector<std::string> suffixes);
  ~Scenario();
  // Registers release `index` (0 = Delphi 6 .. 6 = RAD Studio 2009) with an
  // App file, a RootDir whose bin holds the stand-in compiler, and the
  // Library\, Known Packages\ and Disabled Packages\ keys.
  void RegisterIde(int index);
  std::string Exe() const { return library + "kestrin.exe"; }
  std::string Output(const std::string& long_suffix) const { return library + "Library\\" + long_suffix; }
  std::string library;  // ends in a backslash
  std::string ide_root;
};

// The release's IDE running: the stand-in compiler, copied to the release's
// App file and started there, waits until it is ended at the end of scope.
class RunningIde {
 public:
  explicit RunningIde(int index);
  RunningIde(const RunningIde&) = delete;  // it closes its process's handles once
  RunningIde& operator=(const RunningIde&) = delete;
  ~RunningIde();
  bool Started() const { return pi_.hProcess != nullptr; }

 private:
  PROCESS_INFORMATION pi_{};
};

// A compiled package as verify takes it: a package module named `module`
// ("dxCoreD7.bpl") of the build's bitness, as the IDE's program is.
std::string PackageBytes(const std::string& module);

// Removes every release's settings from the registry.
void ClearIdeSettings();
std::string BaseKey(int index);
std::string SystemFolder();

}  // namespace kt
