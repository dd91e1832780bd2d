#include "build/console_runner.h"

#include "app/app.h"
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
      child->Terminate();
      while (!child->Wait(100)) {
      }
      break;
    }
  }
  // The child has ended, so everything it wrote is in the pipe already.
  while (child->ReadAvailable(&r.bytes) > 0) {
  }
  return r;
}

std::string ConsoleRunner(ProcessLauncher& launcher, std::string_view command_line,
                          const std::function<void()>& pump, const std::function<bool()>& abort) {
  CaptureResult r = CaptureOutput(launcher, command_line, pump, abort);
  if (r.bytes.empty()) return std::string(kNoOutput);
  return GbkToUtf8(r.bytes);
}

}  // namespace kestrin
