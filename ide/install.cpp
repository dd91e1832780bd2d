// The install command: search path and design-time packages into the IDE.
#include "ide/install.h"

#include "app/app.h"
#include "build/compile.h"
#include "ide/user_environment.h"
#include "platform/text.h"
#include "targets/ide_profile.h"
#include "targets/ide_registry.h"

namespace kestrin {

std::string FolderListKey(std::string_view folder) {
  std::string k = ToLowerAscii(Trim(folder));
  while (!k.empty() && (k.back() == '\\' || k.back() == '/')) k.pop_back();
  return k;
}

std::string MergeSearchPath(std::string_view old_value, const std::vector<std::string>& folders) {
  std::vector<std::string> seen;
  std::size_t start = 0;
  while (start <= old_value.size()) {
    std::size_t end = old_value.find(';', start);
    if (end == std::string_view::npos) end = old_value.size();
    seen.push_back(FolderListKey(old_value.substr(start, end - start)));
    start = end + 1;
  }
  std::string result(old_value);
  for (const std::string& f : folders) {
    std::string key = FolderListKey(f);
    if (key.empty()) continue;
    bool present = false;
    for (const auto& s : seen) present = present || s == key;
    if (present) continue;
    seen.push_back(key);
    if (!result.empty() && result.back() != ';') result += ';';
    result += f;
  }
  return result;
}

void Button8Click(App& app) {
  ToolContext& c = app.ctx;
  if (!ConfirmIdeClosed(app)) return;
  app.view.ShowLogPage();
  if (LibraryFolderMissing(app) || app.selectedIde < 0) return;
  const IdeProfile& ide = kIdeProfiles[app.selectedIde];

  // The output folder of the release being installed, as it is now: the
  // fields of an earlier compile run may be empty or name another release.
  const std::string out = app.fs.ShortPath(OutputFolder(app));
  std::vector<std::string> folders = {out, out, out};
  for (std::string_view product : kProductSourceFolders)
    folders.push_back(c.LibraryRoot + std::string(product) + "\\Sources");
  c.IdeSearchPathAddition.clear();
  for (const std::string& f : folders) {
    if (f.empty()) continue;
    if (!c.IdeSearchPathAddition.empty()) c.IdeSearchPathAddition += ';';
    c.IdeSearchPathAddition += f;
  }

  auto library = app.registry.Open(LibraryKey(ide), RegAccess::ReadWrite);
  const std::string old_path = ReadStringValue(*library, "Search Path");
  WriteStringValue(*library, "Search Path", MergeSearchPath(old_path, folders));
  auto known = app.registry.Open(KnownPackagesKey(ide), RegAccess::ReadWrite);
  app.lists.LoadDesign(ide.family);

  app.Log(kLogOpen);
  app.Log("安装到：" + std::string(ide.caption));
  app.Log("添加搜索路径：" + c.IdeSearchPathAddition);
  const auto& names = app.lists.designNames;
  const auto& descriptions = app.lists.designDescriptions;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = OutputFolder(app) + "\\" + Trim(names[i]) + c.IdeShortSuffix + ".bpl";
    const std::string description = i < descriptions.size() ? Trim(descriptions[i]) : std::string();
    if (app.fs.FileExists(path)) {
      WriteStringValue(*known, path, description);
      app.Log("添加设计时包:" + path + " 到注册表成功.");
    }
    app.view.PumpMessages();
  }
  ForceEnvOptionsUpdate(app, ide);
  app.Log(" ");
  app.Log(kLogDone);
  TrimWorkingSetAndPump(app);
}

}  // namespace kestrin
