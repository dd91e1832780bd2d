// The seven IDE releases the tool serves, and everything in which they differ.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "catalogue/catalogue.h"

namespace kestrin {

// The texts of the uninstall that differ between releases.
struct UninstallTexts {
  std::string_view disabledHeader;  // header of the "Disabled Packages" pass
  std::string_view systemHeader;    // header of the system-folder pass
  std::string_view systemPrefix;    // start of a system-folder success line
  bool logsEachValue;               // one log line per deleted registry value
};

struct IdeProfile {
  std::string_view name;         // for the command line: Delphi7, BDS2005, RAD2009
  std::string_view caption;      // the release button's caption, also used in the log
  std::string_view baseKey;      // below HKEY_CURRENT_USER, with the closing backslash
  std::string_view shortSuffix;  // of package file names: cxGridD7.dpk
  std::string_view longSuffix;   // names the output folder: Library\Delphi7
  IdeFamily family;              // which package lists the release builds
  UninstallTexts uninstall;
  // The user's EnvOptions.proj, below the roaming application data folder
  // (%APPDATA%); empty for the releases without one. Command-line builds of
  // the release read their paths from it; the IDE rewrites it from the
  // registry when Globals\ForceEnvOptionsUpdate is "1".
  std::string_view envOptionsFile;
  // The IDE's own dialogs, as its menus reach them: the library path, and
  // the environment variables.
  std::string_view libraryDialog;
  std::string_view environmentDialog;
  // Other names users write for the release, blank-separated ("D2009
  // Delphi2009"); besides these the name, the caption and both suffixes
  // count, each with or without blanks, letter case aside.
  std::string_view otherNames;
};

inline constexpr std::size_t kReleaseCount = 7;

// In the order of the release buttons, from Delphi 6 to RAD Studio 2009.
extern const std::array<IdeProfile, kReleaseCount> kIdeProfiles;

// The release a user's name for it names, or null.
const IdeProfile* ReleaseNamed(std::string_view name);

// The position of `ide` in kIdeProfiles.
inline std::size_t ReleaseIndex(const IdeProfile& ide) {
  return static_cast<std::size_t>(&ide - kIdeProfiles.data());
}

}  // namespace kestrin
