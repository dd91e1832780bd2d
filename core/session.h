// What a running command reaches outside itself: the system's services and
// its Host. It holds nothing of what the command works on: that comes in the
// command's request.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "core/host.h"
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

inline constexpr std::string_view kAppTitle = "Kestrin";
// The frame of every command's block in the log.
inline constexpr std::string_view kLogOpen = "=================================================";
inline constexpr std::string_view kLogDone = "========================完成======================";

class Session {
 public:
  Session(Platform os, Host& host)
      : registry(os.registry), fs(os.fs), processes(os.processes), shell(os.shell), host(host) {}

  Registry& registry;
  FileSystem& fs;
  ProcessLauncher& processes;
  Shell& shell;
  Host& host;

  void Log(std::string_view line) { host.Log(line); }
  bool Stopped() { return host.Stop().stopped(); }
  // The opening lines of a command's block, with the log in view.
  void OpenBlock(std::string_view title) {
    host.ShowLog();
    Log(kLogOpen);
    Log(title);
  }
  // The closing lines of a command's block.
  void LogDone() {
    Log(" ");
    Log(kLogDone);
  }
  // One log line for each folder that a search could not read and each
  // folder link it did not follow.
  void LogWalkFailures(const FileIndex& index);
};

}  // namespace kestrin
