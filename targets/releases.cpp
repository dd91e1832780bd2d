#include "targets/releases.h"

#include <string>
#include <vector>

#include "targets/ide_registry.h"
#include "targets/library_folder.h"

namespace kestrin {

// The release counts as installed when App names an existing file and
// RootDir exists. Throws RegistryError when App is not a text value.
static bool IsInstalled(Session& s, RegistryKey& key) {
  if (!key.HasValue("App")) return false;
  std::string exe = ReadStringValue(key, "App");
  return s.fs.FileExists(exe) && key.HasValue("RootDir");
}

std::array<bool, kReleaseCount> ProbeReleases(Session& s) {
  std::array<bool, kReleaseCount> installed{};
  for (std::size_t i = 0; i < kReleaseCount; ++i) {
    auto key = s.registry.Open(kIdeProfiles[i].baseKey, RegAccess::Read);
    try {
      installed[i] = IsInstalled(s, *key);
    } catch (const RegistryError&) {
      installed[i] = false;  // unreadable settings: not offered, and the probe goes on
    }
  }
  return installed;
}

StateEvent ChooseRelease(Session& s, const IdeProfile& ide) {
  if (s.view.PathText().empty()) ChooseLibraryFolder(s);
  // A release whose RootDir is gone keeps the compiler folder of the one
  // chosen before.
  std::string bin_dir = s.ctx.ideBinDir;
  {
    auto key = s.registry.Open(ide.baseKey, RegAccess::Read);
    if (IsInstalled(s, *key)) bin_dir = NormalizeFolderPath(ReadStringValue(*key, "RootDir")) + "bin";
  }
  s.ctx.release = &ide;
  s.ctx.ideBinDir = bin_dir;
  FixedList rows = BuildOrder(ide.family);
  s.view.LoadBuildList(std::vector<std::string>(rows.begin(), rows.end()));
  s.ctx.ideShortSuffix = ide.shortSuffix;
  s.ctx.ideLongSuffix = ide.longSuffix;
  return StateEvent::ReleaseChosen;
}

}  // namespace kestrin
