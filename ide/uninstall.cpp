// The uninstall command: registry entries, and on request the package files.
#include "ide/uninstall.h"

#include <string>

#include "app/app.h"
#include "app/controls.h"
#include "build/compile.h"
#include "ide/deploy.h"
#include "ide/user_environment.h"
#include "targets/ide_profile.h"
#include "targets/ide_registry.h"

namespace kestrin {

DeleteResult OverwriteAndDeleteFile(FileSystem& fs, std::string_view path, std::string* reason) {
  auto fail = [&] {
    if (reason) *reason = fs.LastError();
    return DeleteResult::Failed;
  };
  switch (fs.Probe(path)) {
    case PathKind::Missing:
    case PathKind::Directory: return DeleteResult::Missing;
    case PathKind::Error: return fail();
    case PathKind::File: break;
  }
  // Never write through a name that is not the only way to the content.
  FileInfo info;
  if (!fs.Inspect(path, &info)) return fail();
  if (info.reparse || info.links > 1) {
    if (fs.RemoveFile(path)) return DeleteResult::Deleted;
    std::uint32_t a = 0;
    if (fs.GetAttributes(path, &a) && (a & kAttrReadOnly) &&
        fs.SetAttributes(path, a & ~std::uint32_t{kAttrReadOnly}) && fs.RemoveFile(path))
      return DeleteResult::Deleted;
    return fail();
  }
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
    const DeleteResult r = fail();
    if (reset) fs.SetAttributes(path, attributes);  // the file stays as it was
    return r;
  }
  // In fixed blocks: a file of any size is rewritten without holding it.
  constexpr std::size_t kBlock = 64 * 1024;
  const std::string block(kBlock, 'X');
  std::string error;
  bool written = true;
  for (long long left = size > 2 ? size - 2 : 0; written && left > 0;) {
    const std::size_t n = left < static_cast<long long>(kBlock) ? static_cast<std::size_t>(left) : kBlock;
    written = file->Write(std::string_view(block.data(), n));
    left -= static_cast<long long>(n);
  }
  written = written && file->Write("\r\n");
  if (!written) error = fs.LastError();
  const bool closed = file->Close();
  if (!closed && error.empty()) error = fs.LastError();
  const bool deleted = fs.RemoveFile(path);
  if (!deleted && error.empty()) error = fs.LastError();
  if (written && closed && deleted) return DeleteResult::Deleted;
  if (reason) *reason = error;
  return DeleteResult::Failed;
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

// Returns the number of entries that could not be removed.
int RegistryPass(App& app, const IdeProfile& ide, const std::string& key_path,
                 std::string_view header, bool log_values) {
  auto key = app.registry.Open(key_path, RegAccess::ReadWrite);
  app.Log(kLogOpen);
  app.Log(header);
  app.lists.LoadDesign(ide.family);
  // A key that is there but cannot be opened is not an empty key.
  if (const std::string why = key->OpenError(); !why.empty()) {
    app.Log("无法打开注册表键 " + key_path + ": " + why);
    return 1;
  }
  const ToolContext& c = app.ctx;
  int failures = 0;
  for (const std::string& name : app.lists.designNames) {
    const std::string value = OutputFolder(app) + "\\" + Trim(name) + c.IdeShortSuffix + ".bpl";
    if (!key->HasValue(value)) continue;
    if (!key->DeleteValue(value)) {
      app.Log("删除：" + value + " 失败. " + key->LastError());
      ++failures;
      continue;
    }
    if (log_values) app.Log("删除：" + value);
    app.view.PumpMessages();
  }
  return failures;
}

void DeleteFiles(App& app, const std::vector<std::string>& names, const std::string& folder,
                 std::string_view success_prefix) {
  ToolContext& c = app.ctx;
  for (const std::string& name : names) {
    c.CurrentPackage = Trim(name);
    const std::string path = folder + "\\" + c.CurrentPackage + c.IdeShortSuffix + ".BPL";
    std::string reason;
    switch (OverwriteAndDeleteFile(app.fs, path, &reason)) {
      case DeleteResult::Deleted:
        app.Log(std::string(success_prefix) + path + " 成功.");
        app.view.RepaintLog();
        app.view.PumpMessages();
        break;
      case DeleteResult::Failed:
        app.Log("删除：" + path + " 失败." + (reason.empty() ? "" : " " + reason));
        break;
      case DeleteResult::Missing:
        break;
    }
  }
}

}  // namespace

void Button9Click(App& app) {
  if (!ConfirmIdeClosed(app)) return;
  app.view.ShowLogPage();
  if (app.selectedIde >= 0) {
    const IdeProfile& ide = kIdeProfiles[app.selectedIde];
    const UninstallTexts t = TextsFor(app.selectedIde);
    int failures =
        RegistryPass(app, ide, KnownPackagesKey(ide), "从注册表中删除设计时包信息...", t.logValues);
    failures += RegistryPass(app, ide, DisabledPackagesKey(ide), t.disabledHeader, t.logValues);
    app.view.AppendCommandPane(failures == 0 ? std::string("删除设计时包信息成功.")
                                             : "部分设计时包信息未能删除(" +
                                                   std::to_string(failures) + " 项), 详见日志.");
    // The PATH entry a copy without administrator rights made, if any.
    if (!app.ctx.LibraryRoot.empty()) RemoveOutputFolderFromUserPath(app);
    ForceEnvOptionsUpdate(app, ide);
    if (app.view.IsChecked(ctl::kCheckBox1)) {
      const std::string system_folder = GetSystemFolder(app);
      if (system_folder.empty())
        throw CommandError("无法取得系统目录, 未删除任何包文件: " + app.fs.LastError());
      app.Log(kLogOpen);
      app.Log("删除组件安装目录下的设计时包文件...");
      // Without a library folder there is nothing of the library to delete,
      // and nothing relative to the current folder is ever touched.
      if (!app.ctx.LibraryRoot.empty()) {
        std::vector<std::string> build;
        for (int i = 0, n = app.view.BuildCount(); i < n; ++i) build.push_back(app.view.BuildItem(i));
        DeleteFiles(app, build, OutputFolder(app), "删除：");
      }
      app.Log(kLogOpen);
      app.Log(t.systemHeader);
      DeleteFiles(app, app.lists.runtime, system_folder, t.systemPrefix);
    }
  }
  app.Log(" ");
  app.Log(kLogDone);
  TrimWorkingSetAndPump(app);
}

}  // namespace kestrin
