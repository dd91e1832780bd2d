// Every command of the window and of the run without it, declared once: its
// button, when it is enabled, its switch, its name in the run's lines and
// its usage line. The window lays out its buttons from this table, App
// enables them from it, and the run without the window reads its switches
// and writes its usage from it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "app/controls.h"
#include "core/command.h"

namespace kestrin {

enum class CommandId { Compile, Verify, Copy, Install, Uninstall, Diagnose };

// What a command's end (or the choice of a release) means for the enabled
// commands of the window.
enum class StateEvent { None, ReleaseChosen, CompileEnded, VerifyEnded, CopyEnded };

// What the end of a command (or the choice of a release) does to a
// command's button.
enum class Turn : char { Keep, On, Off };

struct CommandSpec {
  CommandId id;
  int button;                    // its control id
  std::string_view caption;      // the button's caption
  int top;                       // the button's place in the command group
  std::string_view hint;         // its tooltip; empty for none
  std::string_view step;         // its name in the run's lines: "编译"
  std::string_view switchName;   // its switch in the run without the window
  std::string_view usage;        // its line in the usage text
  // Its button after a release is chosen, a compile, a verify and a copy.
  Turn afterRelease, afterCompile, afterVerify, afterCopy;
};

// The height of a command button.
inline constexpr int kCommandButtonHeight = 28;

// In the order of the buttons and of the steps of a run without the window.
inline constexpr std::array<CommandSpec, 6> kCommands = {{
    {CommandId::Compile, ctl::kCompileButton, "编译(&C)", 14, "编译组件包", "编译", "compile",
     "编译包", Turn::On, Turn::On, Turn::On, Turn::On},
    {CommandId::Verify, ctl::kVerifyButton, "验证(&R)", 44,
     "验证组件包是否编译完成\r\n如果有未编译成功的，请点击‘编译’按钮重新编译！", "验证", "verify",
     "验证每个包都已编译", Turn::On, Turn::On, Turn::On, Turn::On},
    {CommandId::Copy, ctl::kCopyButton, "复制(&P)", 74, "复制运行时包到System32目录", "复制", "copy",
     "把运行时包复制到系统目录", Turn::Off, Turn::Off, Turn::On, Turn::On},
    {CommandId::Install, ctl::kInstallButton, "安装(&S)", 104, "安装DEV组件到Delphi", "安装",
     "install", "把库的目录和设计时包登记到 IDE", Turn::Off, Turn::Off, Turn::On, Turn::On},
    {CommandId::Uninstall, ctl::kUninstallButton, "卸载(&U)", 134, "", "卸载", "uninstall",
     "从 IDE 中卸载 (只能单独使用)", Turn::On, Turn::Keep, Turn::Keep, Turn::Keep},
    {CommandId::Diagnose, ctl::kDiagnoseButton, "诊断(&D)", 164,
     "检查 IDE 启动时能否加载本库的包:\r\n找不到的依赖包、重复的单元、先被找到的旧包 (只读)", "诊断",
     "diagnose", "检查 IDE 启动时能否加载本库的包 (只读, 不作任何修改)", Turn::On, Turn::Keep,
     Turn::Keep, Turn::Keep},
}};

inline constexpr std::size_t kCommandCount = kCommands.size();

inline constexpr const CommandSpec& Spec(CommandId id) {
  return kCommands[static_cast<std::size_t>(id)];
}

// The state that follows a command that got to its work (a compile also
// after an error part-way: the output folder is then as unknown as after a
// stop, and copy and install wait for a verification).
inline constexpr StateEvent EndedEvent(CommandId id) {
  switch (id) {
    case CommandId::Compile: return StateEvent::CompileEnded;
    case CommandId::Verify: return StateEvent::VerifyEnded;
    case CommandId::Copy: return StateEvent::CopyEnded;
    default: return StateEvent::None;
  }
}

// What `event` does to the button of `spec`.
inline constexpr Turn TurnAfter(const CommandSpec& spec, StateEvent event) {
  switch (event) {
    case StateEvent::ReleaseChosen: return spec.afterRelease;
    case StateEvent::CompileEnded: return spec.afterCompile;
    case StateEvent::VerifyEnded: return spec.afterVerify;
    case StateEvent::CopyEnded: return spec.afterCopy;
    case StateEvent::None: break;
  }
  return Turn::Keep;
}

}  // namespace kestrin
