#include "targets/ide_profile.h"

#include "app/app.h"
#include "app/controls.h"
#include "targets/ide_registry.h"
#include "targets/library_folder.h"

namespace kestrin {

const IdeProfile kIdeProfiles[7] = {
    {ctl::kDelphi6, "Delphi6", "Software\\Borland\\Delphi\\6.0\\", "D6", "Delphi6", IdeFamily::Delphi},
    {ctl::kDelphi7, "Delphi7", "Software\\Borland\\Delphi\\7.0\\", "D7", "Delphi7", IdeFamily::Delphi},
    {ctl::kDelphi8, "Delphi8", "Software\\Borland\\BDS\\2.0\\", "D8", "Delphi8", IdeFamily::Bds},
    {ctl::kDelphi2005, "BDS 2005", "Software\\Borland\\BDS\\3.0\\", "D9", "Delphi9", IdeFamily::Bds},
    {ctl::kBDS2006, "BDS 2006", "Software\\Borland\\BDS\\4.0\\", "D10", "Delphi10", IdeFamily::Bds},
    {ctl::kRAD2007, "RAD Studio 2007", "Software\\Borland\\BDS\\5.0\\", "D11", "Delphi11", IdeFamily::Bds},
    {ctl::kRAD2009, "RAD Studio 2009", "Software\\CodeGear\\BDS\\6.0\\", "D12", "Delphi12", IdeFamily::Bds},
};

std::string ReadStringValue(RegistryKey& key, std::string_view name, bool* expandable) {
  std::string out;
  bool is_expandable = false;
  switch (key.ReadString(name, &out, &is_expandable)) {
    case RegRead::WrongType:
      throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    case RegRead::Failed:
      // Only an absent value reads as empty: a value that is there but
      // unreadable must not be taken for empty and then overwritten.
      throw RegistryError("Failed to get data for '" + std::string(name) + "': " + key.LastError());
    case RegRead::Ok:
      if (expandable) *expandable = is_expandable;
      return out;
    default:
      return out;
  }
}

void WriteStringValue(RegistryKey& key, std::string_view name, std::string_view data,
                      bool expandable) {
  if (!key.WriteString(name, data, expandable))
    throw RegistryError("Failed to set data for '" + std::string(name) + "'");
}

std::string LibraryKey(const IdeProfile& ide) { return std::string(ide.baseKey) + "Library\\"; }
std::string KnownPackagesKey(const IdeProfile& ide) {
  return std::string(ide.baseKey) + "Known Packages\\";
}
std::string DisabledPackagesKey(const IdeProfile& ide) {
  return std::string(ide.baseKey) + "Disabled Packages\\";
}

// The release counts as installed when App names an existing file and
// RootDir exists. Throws RegistryError when App is not a text value.
static bool IsInstalled(App& app, RegistryKey& key) {
  if (!key.HasValue("App")) return false;
  std::string exe = ReadStringValue(key, "App");
  return app.fs.FileExists(exe) && key.HasValue("RootDir");
}

void ProbeIdeReleases(App& app) {
  for (int i = 0; i < 7; ++i) {
    auto key = app.registry.Open(kIdeProfiles[i].baseKey, RegAccess::Read);
    bool installed = false;
    try {
      installed = IsInstalled(app, *key);
    } catch (const RegistryError&) {
      installed = false;  // unreadable settings: not offered, and the probe goes on
    }
    app.ideAvailable[i] = installed;
  }
  app.RefreshControls();
}

void ChooseRelease(App& app, int index) {
  const IdeProfile& ide = kIdeProfiles[index];
  if (app.view.PathText().empty()) SelectDevDirClick(app);
  // Everything that can fail comes first: a release whose settings cannot be
  // read leaves the earlier choice whole (its button, lists and states).
  std::string bin_dir = app.ctx.IdeBinDir;
  {
    auto key = app.registry.Open(ide.baseKey, RegAccess::Read);
    if (IsInstalled(app, *key))
      bin_dir = NormalizeFolderPath(ReadStringValue(*key, "RootDir")) + "bin";
  }
  app.selectedIde = index;
  for (int i = 0; i < 7; ++i) app.view.SetChecked(kIdeProfiles[i].radioId, i == index);
  app.ctx.IdeBinDir = bin_dir;
  FixedList rows = BuildOrder(ide.family);
  app.view.LoadBuildList(std::vector<std::string>(rows.begin(), rows.end()));
  app.ctx.IdeShortSuffix = ide.shortSuffix;
  app.ctx.IdeLongSuffix = ide.longSuffix;
  app.Apply(StateEvent::ReleaseChosen);
  app.lists.LoadRuntime(ide.family);
}

}  // namespace kestrin
