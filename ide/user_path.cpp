#include "ide/user_path.h"

#include <string>

#include "ide/folder_list.h"
#include "targets/ide_registry.h"
#include "targets/library_folder.h"

namespace kestrin {
namespace {

constexpr std::string_view kEnvironmentKey = "Environment\\";
constexpr std::string_view kPathValue = "Path";

}  // namespace

void AddOutputFolderToUserPath(Session& s) {
  const std::string folder = OutputFolder(s.ctx);
  auto key = s.registry.Open(kEnvironmentKey, RegAccess::ReadWrite);
  bool expandable = true;  // a new user PATH is expandable, as Windows makes it
  const std::string value = ReadStringValue(*key, kPathValue, &expandable);
  auto merged = AddPathEntry(value, folder);
  if (!merged) {
    s.Log("输出目录已在当前用户的 PATH 环境变量中: " + folder);
    return;
  }
  WriteStringValue(*key, kPathValue, *merged, expandable);
  s.shell.AnnounceEnvironmentChange();
  s.Log("已将输出目录加入当前用户的 PATH 环境变量: " + folder);
  s.Log("之后启动的 IDE 和程序会在这里找到运行时包; 卸载时会删除这一项.");
}

void RemoveOutputFolderFromUserPath(Session& s) {
  const std::string folder = OutputFolder(s.ctx);
  auto key = s.registry.Open(kEnvironmentKey, RegAccess::ReadWrite);
  std::string value;
  bool expandable = false;
  if (key->ReadString(kPathValue, &value, &expandable) != RegRead::Ok) return;
  auto reduced = RemovePathEntry(value, folder);
  if (!reduced) return;
  if (!key->WriteString(kPathValue, *reduced, expandable)) {
    s.Log("无法从当前用户的 PATH 环境变量中删除 " + folder + ": " + key->LastError());
    return;
  }
  s.shell.AnnounceEnvironmentChange();
  s.Log("已从当前用户的 PATH 环境变量中删除输出目录: " + folder);
}

}  // namespace kestrin
