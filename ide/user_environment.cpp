#include "ide/user_environment.h"

#include "app/app.h"
#include "build/compile.h"
#include "ide/install.h"
#include "targets/ide_profile.h"
#include "targets/ide_registry.h"

namespace kestrin {

namespace {

constexpr std::string_view kEnvironmentKey = "Environment\\";
constexpr std::string_view kPathValue = "Path";

}  // namespace

bool ConfirmIdeClosed(App& app) {
  if (app.selectedIde < 0) return true;
  const IdeProfile& ide = kIdeProfiles[app.selectedIde];
  std::string exe;
  {
    auto key = app.registry.Open(ide.baseKey, RegAccess::Read);
    if (key->ReadString("App", &exe) != RegRead::Ok) return true;
  }
  if (Trim(exe).empty() || !app.processes.IsRunning(Trim(exe))) return true;
  return app.view.AskYesNo(
      std::string(ide.caption) +
          " 正在运行。\n\n"
          "IDE 退出时会把它自己的设置写回注册表, 这时写入的搜索路径和设计时包设置会被覆盖; "
          "它已加载的包文件也无法被替换或删除。\n\n"
          "建议先关闭 IDE。仍要继续吗?",
      "提示");
}

std::optional<std::string> AddPathEntry(std::string_view value, std::string_view folder) {
  std::string merged = MergeSearchPath(value, {std::string(folder)});
  if (merged == value) return std::nullopt;
  return merged;
}

std::optional<std::string> RemovePathEntry(std::string_view value, std::string_view folder) {
  const std::string key = FolderListKey(folder);
  std::string out;
  bool removed = false, first = true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = value.find(';', start);
    const std::string_view entry =
        value.substr(start, end == std::string_view::npos ? end : end - start);
    if (!key.empty() && FolderListKey(entry) == key) {
      removed = true;
    } else {
      if (!first) out += ';';
      out += entry;
      first = false;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (!removed) return std::nullopt;
  return out;
}

void AddOutputFolderToUserPath(App& app) {
  const std::string folder = OutputFolder(app);
  auto key = app.registry.Open(kEnvironmentKey, RegAccess::ReadWrite);
  bool expandable = true;  // a new user PATH is expandable, as Windows makes it
  const std::string value = ReadStringValue(*key, kPathValue, &expandable);
  auto merged = AddPathEntry(value, folder);
  if (!merged) {
    app.Log("输出目录已在当前用户的 PATH 环境变量中: " + folder);
    return;
  }
  WriteStringValue(*key, kPathValue, *merged, expandable);
  app.shell.AnnounceEnvironmentChange();
  app.Log("已将输出目录加入当前用户的 PATH 环境变量: " + folder);
  app.Log("之后启动的 IDE 和程序会在这里找到运行时包; 卸载时会删除这一项.");
}

void RemoveOutputFolderFromUserPath(App& app) {
  const std::string folder = OutputFolder(app);
  auto key = app.registry.Open(kEnvironmentKey, RegAccess::ReadWrite);
  std::string value;
  bool expandable = false;
  if (key->ReadString(kPathValue, &value, &expandable) != RegRead::Ok) return;
  auto reduced = RemovePathEntry(value, folder);
  if (!reduced) return;
  if (!key->WriteString(kPathValue, *reduced, expandable)) {
    app.Log("无法从当前用户的 PATH 环境变量中删除 " + folder + ": " + key->LastError());
    return;
  }
  app.shell.AnnounceEnvironmentChange();
  app.Log("已从当前用户的 PATH 环境变量中删除输出目录: " + folder);
}

void ForceEnvOptionsUpdate(App& app, const IdeProfile& ide) {
  if (&ide != &kIdeProfiles[5] && &ide != &kIdeProfiles[6]) return;  // RAD Studio 2007, 2009
  const std::string globals = std::string(ide.baseKey) + "Globals\\";
  auto key = app.registry.Open(globals, RegAccess::ReadWrite);
  if (!key->IsOpen()) {
    const std::string why = key->OpenError();
    app.Log("未设置 ForceEnvOptionsUpdate: " +
            (why.empty() ? "注册表键 " + globals + " 不存在" : "无法打开注册表键 " + globals + ": " + why) +
            ", " + std::string(ide.caption) + " 下次启动时不会据此更新 EnvOptions.proj.");
    return;
  }
  if (!key->WriteString("ForceEnvOptionsUpdate", "1")) {
    app.Log("未设置 ForceEnvOptionsUpdate: " + key->LastError());
    return;
  }
  app.Log("已设置 " + globals + "ForceEnvOptionsUpdate = 1, " + std::string(ide.caption) +
          " 下次启动时将据此更新 EnvOptions.proj.");
}

}  // namespace kestrin
