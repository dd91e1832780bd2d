// What every command works with: the user's choices, the system's services
// and the window. Commands take a Session; the window routes its clicks to
// them and applies the state each one returns.
#pragma once

#include <functional>
#include <stdexcept>
#include <string_view>

#include "core/tool_context.h"
#include "core/view.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace kestrin {

class FileIndex;

// An error that stops the running command; its text is shown in a box.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Platform {
  Registry& registry;
  FileSystem& fs;
  ProcessLauncher& processes;
  Shell& shell;
};

// What a command's end means for the enabled commands of the window.
enum class StateEvent { None, ReleaseChosen, CompileEnded, VerifyEnded, CopyEnded };

inline constexpr std::string_view kAppTitle = "Kestrin";
// The frame of every command's block in the log.
inline constexpr std::string_view kLogOpen = "=================================================";
inline constexpr std::string_view kLogDone = "========================完成======================";

class Session {
 public:
  Session(Platform os, View& view)
      : registry(os.registry), fs(os.fs), processes(os.processes), shell(os.shell), view(view) {}

  ToolContext ctx;
  Registry& registry;
  FileSystem& fs;
  ProcessLauncher& processes;
  Shell& shell;
  View& view;
  // Asked while a compiler runs: true when it is to be ended now (the
  // program is closing and the grace period is over).
  std::function<bool()> endCompilerNow;

  void Log(std::string_view line) { view.AppendLog(line); }
  void Pump() { view.PumpMessages(); }
  // Gives unused memory back to the system, then pumps window messages.
  void TrimWorkingSetAndPump() {
    processes.TrimWorkingSet();
    view.PumpMessages();
  }
  // One log line for each folder that a search could not read and each
  // folder link it did not follow.
  void LogWalkFailures(const FileIndex& index);
  // The closing lines of a command's block.
  void LogDone() {
    Log(" ");
    Log(kLogDone);
  }
};

}  // namespace kestrin
