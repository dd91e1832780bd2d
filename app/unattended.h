// Runs without the window, for build machines and set-up scripts: the
// arguments name the release, the steps and the options; every log line goes
// to standard output as it is written, message boxes become lines on
// standard error, no question waits for a click, and the exit code tells the
// outcome.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "catalogue/ide_profiles.h"
#include "core/session.h"
#include "platform/console.h"

namespace kestrin {

enum ExitCode : int {
  kExitDone = 0,           // everything asked for was done
  kExitIncomplete = 1,     // a step did not complete (or the run was stopped)
  kExitBadArguments = 2,
  kExitUnusable = 3,       // the release or the library folder cannot be used
  kExitAnsweredNo = 4,     // stopped by a question answered No
};

struct UnattendedOptions {
  const IdeProfile* release = nullptr;
  std::string library;                // empty: the program's own folder
  std::vector<std::string> packages;  // as the build list names them; empty: all
  std::array<bool, kCommandCount> steps{};  // by CommandId
  bool step(CommandId id) const { return steps[static_cast<std::size_t>(id)]; }
  bool deleteBpl = false, parallel = false, force = false, yes = false, list = false, help = false;
  std::string logFile;
};

struct ParsedArguments {
  UnattendedOptions options;
  std::string error;  // why the arguments are wrong; empty when they are not
};

// What an argument error ends with, in place of the whole usage.
inline constexpr std::string_view kSeeTheUsage = "输入 kestrin.com /? 查看用法";

// Switches take the form /name or /name:value (-name too), letter case aside.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// The usage, in lines, with an example for each common task.
std::vector<std::string> UsageText();

// The whole run; returns its exit code. `clock_ms` gives milliseconds, for
// the grace period a running compiler gets after Ctrl+C.
int RunUnattended(Platform os, Console& console, const std::vector<std::string>& args,
                  std::function<std::uint64_t()> clock_ms);

}  // namespace kestrin
