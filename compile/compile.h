// The compile command and its stop button: the ticked packages of the build
// list through the release's dcc32.exe into the output folder, one after the
// other or several at once, each with its result.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/session.h"

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

struct CompileReport {
  std::vector<PackageResult> packages;  // in build-list order
  int compilers = 1;                    // how many ran at most at once
  bool stopped = false;
  std::chrono::milliseconds time{0};
  int Count(PackageOutcome outcome) const;
};

// The most compilers a parallel run starts at once, whatever the processors.
inline constexpr int kMaxCompilers = 16;

struct CompileOptions {
  // Several packages at once, each as soon as every ticked package before it
  // that it requires is done.
  bool parallel = false;
  // How many at most: 0 for the processors the program may use, at most
  // kMaxCompilers.
  int compilers = 0;
};

// Compiles the ticked packages, each package's block (its "编译：" line and
// the compiler's output) in the log in build-list order, then a summary with
// every package that did not compile and why. The progress gauge and the
// stop button are in view while it runs. Returns CompileEnded (copy and
// install wait for the next verification), or None when it did not start (no
// library folder, the IDE runs and the user said No, no compiler). `report`,
// when given, receives every package's result.
StateEvent Compile(Session& s, const CompileOptions& options = {}, CompileReport* report = nullptr);

// Back to the idle look at once; no compiler starts after it, and those
// running finish.
void StopCompile(Session& s);

}  // namespace kestrin
