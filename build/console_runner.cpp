#include "build/console_runner.h"

#include <chrono>

#include "platform/text.h"

namespace kestrin {

CaptureResult CaptureOutput(ProcessLauncher& launcher, std::string_view command_line,
                            const std::function<void()>& pump,
                            const std::function<bool()>& abort) {
  CaptureResult r;
  auto child = launcher.Start(command_line);
  if (!child) return r;
  r.started = true;
  for (;;) {
    // While output flows, read again at once; otherwise sleep until the
    // child ends, a message arrives or a short while has passed.
    std::size_t got = child->ReadAvailable(&r.bytes);
    bool ended = child->Wait(got ? 0 : 20);
    if (pump) pump();
    if (ended) break;
    if (abort && abort()) {
      r.aborted = true;
      child->Terminate();
      // The window keeps answering while the child goes; a child that does
      // not go in time is left to the system (the launcher's clean-up ends
      // it with everything it started).
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs);
      r.ended = false;
      while (!(r.ended = child->Wait(50)) && std::chrono::steady_clock::now() < deadline) {
        child->ReadAvailable(&r.bytes);
        if (pump) pump();
      }
      break;
    }
  }
  // An ended child has written everything into the pipe already.
  if (r.ended)
    while (child->ReadAvailable(&r.bytes) > 0) {
    }
  return r;
}

std::string ConsoleRunner(ProcessLauncher& launcher, std::string_view command_line,
                          const std::function<void()>& pump, const std::function<bool()>& abort,
                          bool* aborted) {
  CaptureResult r = CaptureOutput(launcher, command_line, pump, abort);
  if (aborted) *aborted = r.aborted;
  if (r.bytes.empty()) return std::string(kNoOutput);
  return GbkToUtf8(r.bytes);
}

}  // namespace kestrin
