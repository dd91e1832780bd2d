// Runs one command line as a hidden console child and collects its output.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace kestrin {

struct CaptureResult {
  bool started = false;
  bool aborted = false;  // the child was ended on request
  bool ended = true;     // false: it was ended, yet had not gone in time
  std::string bytes;     // every byte the child wrote, in arrival order
};

// What the log shows for a compiler that printed nothing.
inline constexpr std::string_view kNoOutput = "没有输出!";

// How long an ended child may take to go before the runner stops waiting.
inline constexpr int kEndWaitMs = 5000;

// Waits for the child while pumping window messages through `pump`; reads
// whatever is waiting on every pass and drains the pipe after the child has
// ended. `abort` is asked on every pass; when it says yes the child (with
// everything it started) is ended, and the runner waits for it at most
// kEndWaitMs, pumping meanwhile.
CaptureResult CaptureOutput(ProcessLauncher& launcher, std::string_view command_line,
                            const std::function<void()>& pump,
                            const std::function<bool()>& abort = {});

// The output as log text: decoded from GBK, or "没有输出!" when there was none.
// `aborted`, when given, tells whether the child was ended on request.
std::string ConsoleRunner(ProcessLauncher& launcher, std::string_view command_line,
                          const std::function<void()>& pump,
                          const std::function<bool()>& abort = {}, bool* aborted = nullptr);

}  // namespace kestrin
