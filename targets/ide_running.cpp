#include "targets/ide_running.h"

#include <string>

#include "platform/text.h"

namespace kestrin {

bool ConfirmIdeClosed(Session& s) {
  if (!s.ctx.release) return true;
  const IdeProfile& ide = *s.ctx.release;
  std::string exe;
  {
    auto key = s.registry.Open(ide.baseKey, RegAccess::Read);
    if (key->ReadString("App", &exe) != RegRead::Ok) return true;
  }
  if (Trim(exe).empty() || !s.processes.IsRunning(Trim(exe))) return true;
  return s.view.AskYesNo(
      std::string(ide.caption) +
          " 正在运行。\n\n"
          "IDE 退出时会把它自己的设置写回注册表, 这时写入的搜索路径和设计时包设置会被覆盖; "
          "它已加载的包文件也无法被替换或删除。\n\n"
          "建议先关闭 IDE。仍要继续吗?",
      "提示");
}

}  // namespace kestrin
