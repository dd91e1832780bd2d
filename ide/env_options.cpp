#include "ide/env_options.h"

#include <optional>
#include <string>

#include "ide/env_options_file.h"
#include "ide/folder_list.h"
#include "targets/ide_registry.h"
#include "targets/library_folder.h"

namespace kestrin {

bool ForceEnvOptionsUpdate(Session& s, const IdeProfile& ide) {
  if (ide.envOptionsFile.empty()) return true;
  const std::string globals = GlobalsKey(ide);
  auto key = s.registry.Open(globals, RegAccess::ReadWrite);
  if (!key->IsOpen()) {
    s.Log("未设置 ForceEnvOptionsUpdate: " +
          (key->Missing() ? "注册表键 " + globals + " 不存在"
                          : "无法打开注册表键 " + globals + ": " + key->LastError()) +
          ", " + std::string(ide.caption) + " 下次启动时不会据此更新 EnvOptions.proj.");
    return key->Missing();
  }
  if (!key->WriteString("ForceEnvOptionsUpdate", "1")) {
    s.Log("未设置 ForceEnvOptionsUpdate: " + key->LastError());
    return false;
  }
  s.Log("已设置 " + globals + "ForceEnvOptionsUpdate = 1, " + std::string(ide.caption) +
        " 下次启动时将据此更新 EnvOptions.proj.");
  return true;
}

bool AddFoldersToEnvOptionsFile(Session& s, const IdeProfile& ide,
                                const std::vector<std::string>& folders) {
  if (ide.envOptionsFile.empty()) return true;
  const std::string appdata = s.shell.RoamingAppDataFolder();
  if (appdata.empty()) {
    s.Log("未更新 EnvOptions.proj: 无法取得当前用户的应用程序数据目录: " + s.shell.LastError());
    return false;
  }
  const std::string file = JoinPath(appdata, ide.envOptionsFile);
  auto left_alone = [&](const std::string& why) {
    s.Log("未更新 " + file + ": " + why);
    return false;
  };
  switch (s.fs.Probe(file)) {
    case PathKind::File: break;
    case PathKind::Missing:
      left_alone("文件不存在.");
      return true;
    case PathKind::Directory: return left_alone("这是一个文件夹.");
    case PathKind::Error: return left_alone("无法读取文件: " + s.fs.LastError());
  }
  std::string bytes, why;
  if (!ReadWholeFile(s.fs, file, &bytes)) return left_alone("无法读取文件: " + s.fs.LastError());
  const auto decoded = DecodeProjectFile(bytes, &why);
  std::optional<PropertySpot> spot;
  if (decoded) spot = FindFirstGroupProperty(decoded->text, "Win32LibraryPath", &why);
  if (!spot) return left_alone("无法识别文件内容 (" + why + ").");
  const std::string merged = MergeSearchPath(spot->value, folders);
  if (merged == spot->value) {
    s.Log("未更改 " + file + ": Win32LibraryPath 已包含库的全部目录.");
    return true;
  }
  const std::string addition = merged.substr(spot->value.size());
  std::string out;
  if (!EncodeProjectFile(AddToProperty(decoded->text, *spot, addition), decoded->encoding, &out))
    return left_alone("写入失败: 新内容无法转换为文件的编码.");
  if (auto error = ReplaceFileContents(
          s.fs, file, [&out](File& f) { return f.Write(out); }, s.processes.CurrentProcessId()))
    return left_alone("写入失败: " + *error);
  if (spot->present)
    s.Log("已更新 " + file + ": Win32LibraryPath 中添加了 " +
          (addition[0] == ';' ? addition.substr(1) : addition) + ".");
  else
    s.Log("已更新 " + file + ": 添加了 Win32LibraryPath = " + merged + ".");
  return true;
}

}  // namespace kestrin
