// The uninstall command: registry entries, and on request the package files.
#include "ide/uninstall.h"

#include "app/app.h"
#include "app/controls.h"
#include "build/compile.h"
#include "ide/deploy.h"
#include "targets/ide_profile.h"
#include "targets/ide_registry.h"

namespace kestrin {

DeleteResult OverwriteAndDeleteFile(FileSystem& fs, std::string_view path) {
  if (!fs.FileExists(path)) return DeleteResult::Missing;
  long long size = -1;
  if (auto probe = fs.OpenRead(path, true)) {
    size = probe->Size();
    probe->Close();
  }
  std::uint32_t attributes = 0;
  const bool had_attributes = fs.GetAttributes(path, &attributes);
  const bool reset = had_attributes && attributes != kAttrArchive &&
                     fs.SetAttributes(path, kAttrArchive);
  auto file = fs.CreateWrite(path);
  if (!file) {
    if (reset) fs.SetAttributes(path, attributes);  // the file stays as it was
    return DeleteResult::Failed;
  }
  std::string content(size > 2 ? static_cast<std::size_t>(size - 2) : 0, 'X');
  content += "\r\n";
  const bool written = file->Write(content);
  const bool closed = file->Close();
  const bool deleted = fs.RemoveFile(path);
  return written && closed && deleted ? DeleteResult::Deleted : DeleteResult::Failed;
}

namespace {

struct UninstallTexts {
  std::string_view disabledHeader;
  std::string_view systemHeader;
  std::string_view systemPrefix;
  bool logValues;
};

UninstallTexts TextsFor(int index) {
  switch (index) {
    case 0: return {"从注册表中删除禁用的设计时包信息...", "删除System32目录下的运行时包文件...", "删除：", true};
    case 1:
    case 2: return {"从注册表中删除禁用的设计时包信息...", "删除System32目录下的运行时包文件", "删除：", false};
    case 3: return {"从注册表中删除设计时包信息...", "删除System32目录下的运行时包文件", "移除：", false};
    default: return {"从注册表中删除设计时包信息...", "删除System32目录下的运行时包文件", "删除：", false};
  }
}

void RegistryPass(App& app, const IdeProfile& ide, const std::string& key_path,
                  std::string_view header, bool log_values) {
  auto key = app.registry.Open(key_path, RegAccess::ReadWrite);
  app.Log(kLogOpen);
  app.Log(header);
  app.lists.LoadDesign(ide.family);
  const ToolContext& c = app.ctx;
  for (const std::string& name : app.lists.designNames) {
    const std::string value = OutputFolder(app) + "\\" + Trim(name) + c.IdeShortSuffix + ".bpl";
    if (!key->HasValue(value)) continue;
    key->DeleteValue(value);
    if (log_values) app.Log("删除：" + value);
    app.view.PumpMessages();
  }
}

void DeleteFiles(App& app, const std::vector<std::string>& names, bool in_system_folder,
                 std::string_view success_prefix) {
  ToolContext& c = app.ctx;
  for (const std::string& name : names) {
    c.CurrentPackage = Trim(name);
    const std::string folder = in_system_folder ? GetSystemFolder(app) : OutputFolder(app);
    const std::string path = folder + "\\" + c.CurrentPackage + c.IdeShortSuffix + ".BPL";
    switch (OverwriteAndDeleteFile(app.fs, path)) {
      case DeleteResult::Deleted:
        app.Log(std::string(success_prefix) + path + " 成功.");
        app.view.RepaintLog();
        app.view.PumpMessages();
        break;
      case DeleteResult::Failed:
        app.Log("删除：" + path + " 失败.");
        break;
      case DeleteResult::Missing:
        break;
    }
  }
}

}  // namespace

void Button9Click(App& app) {
  app.view.ShowLogPage();
  if (app.selectedIde >= 0) {
    const IdeProfile& ide = kIdeProfiles[app.selectedIde];
    const UninstallTexts t = TextsFor(app.selectedIde);
    RegistryPass(app, ide, KnownPackagesKey(ide), "从注册表中删除设计时包信息...", t.logValues);
    RegistryPass(app, ide, DisabledPackagesKey(ide), t.disabledHeader, t.logValues);
    app.view.AppendCommandPane("删除设计时包信息成功.");
    if (app.view.IsChecked(ctl::kCheckBox1)) {
      app.Log(kLogOpen);
      app.Log("删除组件安装目录下的设计时包文件...");
      // Without a library folder there is nothing of the library to delete,
      // and nothing relative to the current folder is ever touched.
      if (!app.ctx.LibraryRoot.empty()) {
        std::vector<std::string> build;
        for (int i = 0, n = app.view.BuildCount(); i < n; ++i) build.push_back(app.view.BuildItem(i));
        DeleteFiles(app, build, false, "删除：");
      }
      app.Log(kLogOpen);
      app.Log(t.systemHeader);
      DeleteFiles(app, app.lists.runtime, true, t.systemPrefix);
    }
  }
  app.Log(" ");
  app.Log(kLogDone);
  TrimWorkingSetAndPump(app);
}

}  // namespace kestrin
