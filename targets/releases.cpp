#include "targets/releases.h"

#include <string>
#include <vector>

#include "targets/ide_registry.h"
#include "platform/text.h"
#include "targets/library_folder.h"

namespace kestrin {

// The release counts as installed when App names an existing file and
// RootDir exists. Throws RegistryError when App is not a text value.
static bool IsInstalled(Session& s, RegistryKey& key) {
  if (!key.HasValue("App")) return false;
  std::string exe = ReadStringValue(key, "App");
  return s.fs.FileExists(exe) && key.HasValue("RootDir");
}

std::optional<std::string> WhyNotUsable(Session& s, const IdeProfile& ide) {
  const std::string where = "HKEY_CURRENT_USER\\" + std::string(ide.baseKey);
  auto key = s.registry.Open(ide.baseKey, RegAccess::Read);
  if (!key->IsOpen())
    return key->Missing() ? "没有为当前用户注册 (" + where + " 不存在)"
                          : "无法打开 " + where + ": " + key->LastError();
  if (!key->HasValue("App")) return where + " 中没有 App 值";
  std::string exe;
  try {
    exe = ReadStringValue(*key, "App");
  } catch (const RegistryError& e) {
    return std::string(e.what());
  }
  if (!s.fs.FileExists(exe)) return "App 指向的文件不存在: " + exe;
  if (!key->HasValue("RootDir")) return where + " 中没有 RootDir 值";
  return std::nullopt;
}

std::array<bool, kReleaseCount> ProbeReleases(Session& s) {
  // A release whose settings cannot be read is not offered, and the probe
  // goes on.
  std::array<bool, kReleaseCount> installed{};
  for (std::size_t i = 0; i < kReleaseCount; ++i) installed[i] = !WhyNotUsable(s, kIdeProfiles[i]);
  return installed;
}

std::string CompilerFolderOf(Session& s, const IdeProfile& ide, const std::string& current) {
  auto key = s.registry.Open(ide.baseKey, RegAccess::Read);
  if (IsInstalled(s, *key)) return NormalizeFolderPath(ReadStringValue(*key, "RootDir")) + "bin";
  return current;
}

PeMachine IdeMachine(Session& s, const IdeProfile& ide) {
  auto key = s.registry.Open(ide.baseKey, RegAccess::Read);
  std::string app;
  if (key->ReadString("App", &app) != RegRead::Ok) return PeMachine::I386;
  auto file = s.fs.OpenRead(Trim(app), false);
  if (!file) return PeMachine::I386;
  FileSource source(*file);
  const auto header = ReadModuleHeader(source);
  return header ? header->machine : PeMachine::I386;
}

}  // namespace kestrin
