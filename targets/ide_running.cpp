#include "targets/ide_running.h"

#include <string>

#include "platform/text.h"
#include "targets/library_folder.h"

namespace kestrin {

bool ConfirmIdeClosed(Session& s, const IdeProfile* release) {
  if (!release) return true;
  const IdeProfile& ide = *release;
  std::string exe;
  {
    auto key = s.registry.Open(ide.baseKey, RegAccess::Read);
    if (key->ReadString("App", &exe) != RegRead::Ok) return true;
  }
  if (Trim(exe).empty() || !s.processes.IsRunning(Trim(exe))) return true;
  return s.host.Ask(
      std::string(ide.caption) +
          " 正在运行。\n\n"
          "IDE 退出时会把它自己的设置写回注册表, 这时写入的搜索路径和设计时包设置会被覆盖; "
          "它已加载的包文件也无法被替换或删除。\n\n"
          "建议先关闭 IDE。仍要继续吗?",
      "提示");
}

bool CommandMayStart(Session& s, const Target& target, StartChecks checks, CommandResult& result) {
  if (checks.library && target.library.empty()) {
    s.host.Message(kNotLibraryNotice, "提示", MessageIcon::Information);
    result.whyNot = kNotLibraryNotice;
    return false;
  }
  if (checks.ideClosed && !ConfirmIdeClosed(s, target.release)) {
    result.answeredNo = true;
    result.whyNot = std::string(target.release->caption) + " 正在运行";
    return false;
  }
  return true;
}

}  // namespace kestrin
