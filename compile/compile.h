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
#include "core/package_result.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

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
  // The build list and its ticks, as they were when the run began.
  const PackageList& packages;
  // Several packages at once, each as soon as every ticked package before
  // it that it requires, directly or through others, is done. One at a time
  // is the same plan with one compiler, down the list.
  bool parallel = false;
  // How many at most: 0 for the processors the program may use, at most
  // kMaxCompilers.
  int compilers = 0;
  // Every ticked package started, also one the check before the first
  // compiler finds a required package missing for.
  bool force = false;
  // Which ready package a parallel run starts first.
  StartOrder order = StartOrder::LongestChainFirst;
  // The last compile run of this release in this program run, if any: its
  // times weigh the packages' chains.
  const CompileHistory* last = nullptr;
};

// Compiles the ticked packages, each package's block (its "编译：" line and
// the compiler's output) in the log in build-list order, then a summary with
// every package that did not compile and why. The progress gauge and the
// stop button are in view while it runs; each package's start and end are
// told as they happen. Before the first compiler starts, a package that
// requires one found nowhere (no earlier ticked package, no .dcp where the
// compiler looks) is named and not started, with every ticked package that
// needs it; the others go on. It does not start without a library folder, when the
// IDE runs and the user says No, or without a compiler. A stop (the host's)
// starts no compiler after it; one with an end ends those running once the
// grace period is over.
CompileResult Compile(Session& s, const CompileRequest& request);

}  // namespace kestrin
