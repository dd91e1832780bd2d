// The seven IDE releases the tool serves.
#pragma once

#include <string_view>

#include "catalogue/catalogue.h"

namespace kestrin {

struct IdeProfile {
  int radioId;
  std::string_view caption;
  std::string_view baseKey;  // below HKEY_CURRENT_USER, with the closing backslash
  std::string_view shortSuffix;
  std::string_view longSuffix;
  IdeFamily family;
};

extern const IdeProfile kIdeProfiles[7];

class App;
// The start-up probe: enables the release buttons of the installed releases.
void ProbeIdeReleases(App& app);

}  // namespace kestrin
