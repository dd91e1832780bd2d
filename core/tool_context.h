// What the user has chosen so far: the library folder and the IDE release
// that every command works on.
#pragma once

#include <string>

#include "catalogue/ide_profiles.h"

namespace kestrin {

struct ToolContext {
  std::string libraryRoot;              // the library's folder, ending in a backslash
  const IdeProfile* release = nullptr;  // the chosen IDE release; none at start
  std::string ideBinDir;                // "<RootDir>\bin" of the chosen release
  std::string ideShortSuffix;           // "D6" .. "D12"
  std::string ideLongSuffix;            // "Delphi6" .. "Delphi12"
  bool stopRequested = false;           // the running compile stops after its package
};

}  // namespace kestrin
