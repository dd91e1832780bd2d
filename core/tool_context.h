// What the user has chosen so far (the library folder and the IDE release
// every command works on), and what the commands leave for each other.
#pragma once

#include <map>
#include <string>

#include "catalogue/ide_profiles.h"

namespace kestrin {

struct ToolContext {
  std::string libraryRoot;              // the library's folder, ending in a backslash
  const IdeProfile* release = nullptr;  // the chosen IDE release; none at start
  std::string ideBinDir;                // "<RootDir>\bin" of the chosen release
  std::string ideShortSuffix;           // "D6" .. "D12"
  std::string ideLongSuffix;            // "Delphi6" .. "Delphi12"
  bool stopRequested = false;           // no compiler starts any more in the running compile
  // For each release (by its long suffix), the packages the last compile run
  // failed (lower-case name) and why; the verification names the reasons.
  std::map<std::string, std::map<std::string, std::string>> lastCompileFailures;
};

}  // namespace kestrin
