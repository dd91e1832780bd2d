// Console child processes with their output captured through one pipe.
// Failures are reported as everywhere in the platform layer: the call's
// result says that it failed, and the launcher's LastError() says why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // Appends every byte that has arrived from the pipe, without blocking;
  // returns the number of bytes appended.
  virtual std::size_t ReadAvailable(std::string* out) = 0;
  // True once the child has ended (it does not wait).
  virtual bool Ended() = 0;
  // Ends the child and everything it started.
  virtual void Terminate() = 0;
  // The child's exit code once it has ended (a POSIX child killed by a
  // signal gives 128 + the signal), -1 before.
  virtual int ExitCode() = 0;
};

// The children of one run: started, read and waited for together. The set
// owns its children; one still running when it is removed or the set goes
// is ended with everything it started.
class ChildSet {
 public:
  virtual ~ChildSet() = default;
  // Starts a hidden console child: standard output and error into one pipe,
  // no standard input, the program's environment and current folder. Null
  // (the launcher's LastError says why) when the program cannot be started.
  virtual ChildProcess* Start(std::string_view command_line) = 0;
  // Takes a child out of the set and closes its handles.
  virtual void Remove(ChildProcess* child) = 0;
  // Sleeps until output arrives from a child of the set, one ends, Wake()
  // is called or `timeout_ms` has passed, whichever comes first. One wait
  // over every pipe and process: nothing is looked at in between.
  virtual void Wait(int timeout_ms) = 0;
  // Ends a Wait at once, or the next one; safe from any thread.
  virtual void Wake() = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // An empty set of children.
  virtual std::unique_ptr<ChildSet> NewChildSet() = 0;
  // The system's reason for the last failure of this thread, as text.
  virtual std::string LastError() = 0;
  // How many logical processors the program may run on (its affinity).
  virtual int UsableProcessors() = 0;
  // Whether a process runs whose program file is `image_path` (full paths,
  // letter case aside). A process that cannot be asked counts as another.
  virtual bool IsRunning(std::string_view image_path) = 0;
  // Gives the program's unused memory pages back to the system.
  virtual void TrimWorkingSet() = 0;
  // The id of the running program's own process.
  virtual std::uint32_t CurrentProcessId() = 0;
};

// Splits a command line by the rules Windows programs use for their argv
// (backslashes before quotes, doubled quotes inside quotes).
std::vector<std::string> SplitCommandLine(std::string_view line);
// The program's own arguments: `line` (the whole command line, the program's
// name first) split as SplitCommandLine does, except that a quoted part
// ending in a backslash right before the argument ends is a folder:
// /library:"C:\dir\" /yes (the batch form /library:"%~dp0" /yes) gives
// "/library:C:\dir\" and "/yes", where Windows' rules would read \" as a
// quote and take the rest of the line into the folder. No argument of the
// program can hold a quote, so nothing is lost by it.
std::vector<std::string> ProgramArguments(std::string_view line);

}  // namespace kestrin
