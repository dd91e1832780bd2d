// Runs one command line as a hidden console child and collects its output.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace kestrin {

struct CaptureResult {
  bool started = false;
  std::string bytes;  // every byte the child wrote, in arrival order
};

// Waits for the child while pumping window messages through `pump`; reads
// whatever is waiting on every pass and drains the pipe after the child has
// ended. `abort` is asked on every pass; when it says yes the child is ended.
CaptureResult CaptureOutput(ProcessLauncher& launcher, std::string_view command_line,
                            const std::function<void()>& pump,
                            const std::function<bool()>& abort = {});

// The output as log text: decoded from GBK, or "没有输出!" when there was none.
std::string ConsoleRunner(ProcessLauncher& launcher, std::string_view command_line,
                          const std::function<void()>& pump,
                          const std::function<bool()>& abort = {});

}  // namespace kestrin
