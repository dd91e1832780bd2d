#include "ide/user_path.h"

#include <optional>
#include <string>

#include "ide/folder_list.h"
#include "targets/ide_registry.h"
#include "targets/library_folder.h"

namespace kestrin {
namespace {

constexpr std::string_view kEnvironmentKey = "Environment\\";
constexpr std::string_view kPathValue = "Path";

// Why `folder` cannot be an entry of PATH, or nothing when it can.
std::optional<std::string> UnfitForPath(FileSystem& fs, std::string_view folder) {
  if (folder.find(';') != std::string_view::npos) return "含有分号 (;), 而 PATH 用分号分隔各项.";
  if (folder.find('%') != std::string_view::npos)
    return "含有百分号 (%), PATH 会把它当作环境变量展开.";
  if (!fs.IsFullyQualified(folder))
    return "不是完整路径, 只接受以盘符开头 (如 C:\\) 或以 \\\\服务器\\共享\\ 开头的路径.";
  return std::nullopt;
}

bool LogRefusal(Session& s, std::string_view folder, std::string_view why) {
  s.Log("无法把输出目录加入当前用户的 PATH 环境变量 (未作任何修改): " + std::string(folder) + " " +
        std::string(why));
  return false;
}

// The output folder as the add writes it into PATH: its long form, or the
// folder as it is where that cannot be had (a folder removed since).
std::string OutputFolderAsAdded(Session& s, const Target& target) {
  const std::string folder = OutputFolder(target);
  if (!s.fs.IsFullyQualified(folder)) return folder;
  const std::string long_form = s.fs.LongPath(folder);
  return long_form.empty() ? folder : long_form;
}

}  // namespace

bool AddOutputFolderToUserPath(Session& s, const Target& target, std::string_view reason) {
  const std::string given = OutputFolder(target);
  if (auto why = UnfitForPath(s.fs, given)) return LogRefusal(s, given, *why);
  // An 8.3 form would not be found again once the program is started by
  // the long one: the entry is always the long form.
  const std::string folder = s.fs.LongPath(given);
  if (folder.empty()) return LogRefusal(s, given, "无法取得它的长路径形式: " + s.fs.LastError());
  if (auto why = UnfitForPath(s.fs, folder)) return LogRefusal(s, folder, *why);

  auto key = s.registry.Open(kEnvironmentKey, RegAccess::ReadWrite);
  bool expandable = true;  // a new user PATH is expandable, as Windows makes it
  const std::string value = ReadStringValue(*key, kPathValue, &expandable);
  auto merged = AddPathEntry(value, folder);
  if (!merged) {
    s.Log("输出目录已在当前用户的 PATH 环境变量中: " + folder);
    return true;
  }
  // The record comes first: an entry without one would be taken for the
  // user's own and kept by the uninstall.
  auto record = s.registry.Create(kUserPathRecordKey);
  if (!record->WriteString(folder, folder))
    throw RegistryError("无法在 HKEY_CURRENT_USER\\" + std::string(kUserPathRecordKey) +
                        " 中记录本工具添加的 PATH 项, 未修改 PATH 环境变量: " + record->LastError());
  if (!key->WriteString(kPathValue, *merged, expandable)) {
    record->DeleteValue(folder);
    throw RegistryError("Failed to set data for '" + std::string(kPathValue) + "'");
  }
  s.shell.AnnounceEnvironmentChange();
  s.Log("已将输出目录加入当前用户的 PATH 环境变量: " + folder +
        (reason.empty() ? std::string() : " (" + std::string(reason) + ")"));
  s.Log("之后启动的 IDE 和程序会在这里找到运行时包; 卸载时会删除这一项.");
  return true;
}

bool RemoveOutputFolderFromUserPath(Session& s, const Target& target) {
  const std::string folder = OutputFolderAsAdded(s, target);
  auto record = s.registry.Open(kUserPathRecordKey, RegAccess::ReadWrite);
  auto key = s.registry.Open(kEnvironmentKey, RegAccess::ReadWrite);
  std::string value;
  bool expandable = false;
  switch (key->ReadString(kPathValue, &value, &expandable)) {
    case RegRead::Ok: break;
    case RegRead::Missing: value.clear(); break;
    case RegRead::WrongType:
      s.Log("当前用户的 PATH 环境变量不是文本 (REG_SZ 或 REG_EXPAND_SZ), 未检查其中的输出目录: " +
            folder);
      return false;
    case RegRead::Failed:
      s.Log("无法读取当前用户的 PATH 环境变量, 未检查其中的输出目录 " + folder + ": " +
            key->LastError());
      return false;
  }
  auto reduced = RemovePathEntry(value, folder);
  if (!reduced) {
    // The entry is gone (removed by hand): so is the reason for its record.
    if (record->HasValue(folder)) record->DeleteValue(folder);
    return true;
  }
  if (!record->IsOpen() && !record->Missing()) {
    s.Log("无法读取 HKEY_CURRENT_USER\\" + std::string(kUserPathRecordKey) +
          ", PATH 中的输出目录保留: " + folder + ": " + record->LastError());
    return false;
  }
  if (!record->HasValue(folder)) {
    s.Log("PATH 中的输出目录不是本工具添加的, 保留: " + folder);
    return true;
  }
  if (!key->WriteString(kPathValue, *reduced, expandable)) {
    s.Log("无法从当前用户的 PATH 环境变量中删除 " + folder + ": " + key->LastError());
    return false;
  }
  s.shell.AnnounceEnvironmentChange();
  s.Log("已从当前用户的 PATH 环境变量中删除输出目录: " + folder);
  if (record->DeleteValue(folder)) return true;
  s.Log("无法删除 HKEY_CURRENT_USER\\" + std::string(kUserPathRecordKey) + " 中的记录 " + folder + ": " +
        record->LastError());
  return false;
}

}  // namespace kestrin
