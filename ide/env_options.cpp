#include "ide/env_options.h"

#include <string>

#include "targets/ide_registry.h"

namespace kestrin {

void ForceEnvOptionsUpdate(Session& s, const IdeProfile& ide) {
  if (ide.envOptionsFile.empty()) return;
  const std::string globals = GlobalsKey(ide);
  auto key = s.registry.Open(globals, RegAccess::ReadWrite);
  if (!key->IsOpen()) {
    s.Log("未设置 ForceEnvOptionsUpdate: " +
          (key->Missing() ? "注册表键 " + globals + " 不存在"
                          : "无法打开注册表键 " + globals + ": " + key->LastError()) +
          ", " + std::string(ide.caption) + " 下次启动时不会据此更新 EnvOptions.proj.");
    return;
  }
  if (!key->WriteString("ForceEnvOptionsUpdate", "1")) {
    s.Log("未设置 ForceEnvOptionsUpdate: " + key->LastError());
    return;
  }
  s.Log("已设置 " + globals + "ForceEnvOptionsUpdate = 1, " + std::string(ide.caption) +
        " 下次启动时将据此更新 EnvOptions.proj.");
}

}  // namespace kestrin
