#include "ide/install.h"

#include <set>
#include <string>
#include <vector>

#include "ide/env_options.h"
#include "ide/folder_list.h"
#include "ide/load_model.h"
#include "ide/user_path.h"
#include "platform/text.h"
#include "targets/ide_registry.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

namespace {

// What an IDE started now makes of the packages just registered: a module
// that only the output folder holds puts that folder on the user's PATH,
// and each package it still cannot load is named as 诊断 names it.
int CheckRegistered(Session& s, const Target& t, const std::vector<std::string>& registered) {
  std::vector<Finding> errors = UnloadableRegistrations(s, t, registered);
  for (const Finding& f : errors) {
    if (f.problem != Problem::MissingModule || !s.fs.FileExists(JoinPath(OutputFolder(t), f.module))) continue;
    AddOutputFolderToUserPath(s, t, f.package + " 需要 " + f.module);
    errors = UnloadableRegistrations(s, t, registered);
    break;
  }
  std::set<std::string> unloadable;
  for (const Finding& f : errors) unloadable.insert(ToLowerAscii(f.registeredAs));
  for (const Finding& f : OneFindingPerCause(std::move(errors))) {
    s.Log("错误: " + f.text);
    s.Log("    办法: " + f.advice);
  }
  return static_cast<int>(unloadable.size());
}

}  // namespace

std::string UnloadableLine(int unloadable) {
  return "未完成: 安装 — " + std::to_string(unloadable) + " 个设计时包 IDE 无法加载";
}

InstallResult Install(Session& s, const InstallRequest& request) {
  InstallResult result;
  const Target& c = request.target;
  if (!CommandMayStart(s, c, {}, result) || !c.release) return result;
  const IdeProfile& ide = *c.release;

  // The output folder of the release being installed, as it is now, in its
  // short form (empty when it does not exist yet), then every product's
  // Sources.
  const std::string out = s.fs.ShortPath(OutputFolder(c));
  std::vector<std::string> folders = {out, out, out};
  for (std::string_view product : kProductSourceFolders)
    folders.push_back(ProductSourceFolder(c, product));
  std::string addition;
  for (const std::string& f : folders) {
    if (f.empty()) continue;
    if (!addition.empty()) addition += ';';
    addition += f;
  }

  auto library = s.registry.Open(LibraryKey(ide), RegAccess::ReadWrite);
  const std::string old_path = ReadStringValue(*library, "Search Path");
  WriteStringValue(*library, "Search Path", MergeSearchPath(old_path, folders));
  auto known = s.registry.Open(KnownPackagesKey(ide), RegAccess::ReadWrite);

  s.OpenBlock("安装到：" + std::string(ide.caption));
  s.Log("添加搜索路径：" + addition);
  const FixedList names = DesignNames(ide.family);
  const FixedList descriptions = DesignDescriptions(ide.family);
  std::vector<std::string> registered;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = PackageFile(OutputFolder(c), Trim(names[i]), c.shortSuffix(), ".bpl");
    const std::string description = i < descriptions.size() ? Trim(descriptions[i]) : std::string();
    if (s.fs.FileExists(path)) {
      WriteStringValue(*known, path, description);
      registered.push_back(path);
      s.Log("添加设计时包:" + path + " 到注册表成功.");
    }
  }
  result.failures += !AddFoldersToEnvOptionsFile(s, ide, folders);
  result.failures += !ForceEnvOptionsUpdate(s, ide);
  result.unloadable = CheckRegistered(s, c, registered);
  s.LogDone();
  s.processes.TrimWorkingSet();
  result.started = true;
  return result;
}

}  // namespace kestrin
