// The one way a command runs, for the window, the run without it and the
// tests: a command id and a request made when the command begins (the
// library folder, the release, the build list with its ticks and the
// options, copied), to its outcome. Runs on the command's own thread.
#pragma once

#include <optional>
#include <string>

#include "app/commands.h"
#include "compile/compile.h"
#include "compile/verify.h"
#include "core/session.h"
#include "core/target.h"
#include "ide/diagnose.h"
#include "ide/install.h"

namespace kestrin {

struct CommandRequest {
  Target target;
  PackageList packages;           // the build list and its ticks
  bool parallel = false;          // 并行编译
  bool deletePackageFiles = false;  // 是否删除BPL包
  bool force = false;               // compile what the check before a compile would hold back
  std::optional<CompileHistory> last;  // the release's last compile run in this program run
};

struct CommandOutcome {
  CommandId id = CommandId::Compile;
  CommandResult result;  // what every command returns
  std::optional<CompileResult> compile;
  std::optional<VerifyResult> verify;
  std::optional<InstallResult> install;
  std::optional<DiagnoseResult> diagnose;
  std::string error;  // an error that stopped it part-way; its text is shown
};

// Runs the command; an error that stops it is caught into the outcome.
CommandOutcome RunCommand(Session& s, CommandId id, const CommandRequest& request);

// A release chosen: its compiler folder (`current` where its RootDir is
// gone) and its family's build list. Throws a RegistryError when its
// settings cannot be read.
struct ReleaseChoice {
  std::string compilerFolder;
  std::vector<std::string> rows;
};
ReleaseChoice ChooseRelease(Session& s, const IdeProfile& ide, const std::string& current);

}  // namespace kestrin
