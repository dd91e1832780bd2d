// The compile command and its stop button: the ticked packages of the build
// list through the release's dcc32.exe into the output folder, one after the
// other or several at once, each with its result.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "compile/compile_plan.h"
#include "core/command.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

enum class PackageOutcome {
  Compiled,         // the compiler ended with 0 and the .bpl is new since the run began
  Failed,           // anything else: an error, a crash, a compiler that could not start
  ProjectNotFound,  // no project of this name anywhere in the library
  NotStarted,       // the run was stopped before it came to this package
  Ended,            // the program ended the compiler (its exit's grace period ran out)
};

struct PackageResult {
  std::string package;  // as the build list names it
  std::string file;     // its project file: package + suffix + ".dpk"
  PackageOutcome outcome = PackageOutcome::NotStarted;
  std::chrono::milliseconds time{0};
  int exitCode = -1;
  std::string firstError;  // the first error or fatal line of its output
  std::string startError;  // why the compiler could not be started
  int warnings = 0, hints = 0;

  // Why the package did not compile, as the summary and the verification
  // name it.
  std::string Reason() const;
};

struct CompileResult : CommandResult {
  std::vector<PackageResult> packages;  // in build-list order
  int compilers = 1;                    // how many ran at most at once
  bool stopped = false;
  std::chrono::milliseconds time{0};
  int Count(PackageOutcome outcome) const;
};

// The most compilers a parallel run starts at once, whatever the processors.
inline constexpr int kMaxCompilers = 16;

// What the last compile run of a release left for the next ones: why it
// failed each package it failed, and how long each package took (both by
// the package's lower-case name).
struct CompileHistory {
  std::map<std::string, std::string> failures;
  std::map<std::string, double> seconds;
};
CompileHistory HistoryOf(const CompileResult& result);

struct CompileRequest {
  Target target;
  // The build list; a run one at a time reads each tick as it reaches the
  // row, so a tick set or cleared on a row not reached yet counts.
  const PackageList& packages;
  // Several packages at once, each as soon as every ticked package before
  // it that it requires, directly or through others, is done.
  bool parallel = false;
  // How many at most: 0 for the processors the program may use, at most
  // kMaxCompilers.
  int compilers = 0;
  // Which ready package a parallel run starts first.
  StartOrder order = StartOrder::LongestChainFirst;
  // The last compile run of this release in this program run, if any: its
  // times weigh the packages' chains.
  const CompileHistory* last = nullptr;
};

// Compiles the ticked packages, each package's block (its "编译：" line and
// the compiler's output) in the log in build-list order, then a summary with
// every package that did not compile and why. The progress gauge and the
// stop button are in view while it runs. Its next state is CompileEnded
// (copy and install wait for the next verification); it does not start
// without a library folder, when the IDE runs and the user says No, or
// without a compiler.
CompileResult Compile(Session& s, const CompileRequest& request);

// The stop button: back to the idle look at once, with a line in the log.
// The caller's stop token keeps any compiler from starting after it; those
// running finish.
void StopCompile(Session& s);

}  // namespace kestrin
