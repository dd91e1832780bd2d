// What became of one package of a compile run.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace kestrin {

enum class PackageOutcome {
  Compiled,         // the compiler ended with 0 and the .bpl is new since the run began
  Failed,           // anything else: an error, a crash, a compiler that could not start
  ProjectNotFound,  // no project of this name anywhere in the library
  NotStarted,       // the run was stopped before it came to this package
  Ended,            // the program ended the compiler (its exit's grace period ran out)
  Skipped,          // never started: a package it requires is nowhere (`needs`)
};

struct PackageResult {
  std::size_t row = 0;  // in the build list
  std::string package;  // as the build list names it
  std::string file;     // its project file: package + suffix + ".dpk"
  PackageOutcome outcome = PackageOutcome::NotStarted;
  std::chrono::milliseconds time{0};
  int exitCode = -1;
  std::string firstError;  // the first error or fatal line of its output
  std::string startError;  // why the compiler could not be started
  std::string needs;       // Skipped: the .dcp it cannot be built without
  int warnings = 0, hints = 0;

  // Why the package did not compile, as the summary and the verification
  // name it.
  std::string Reason() const;
};

}  // namespace kestrin
