// One child run to its end with its output captured, the way a compile runs
// its compilers: the tests of the runner and of the process layer use it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "compile/console_runner.h"

namespace kestrin::test {

struct CaptureResult {
  bool started = false;
  bool aborted = false;  // the child was ended on request
  bool ended = true;     // false: it was ended, yet had not gone in time
  int exitCode = -1;
  std::string bytes;     // every byte the child wrote, in arrival order
};

// Waits for the child, `turn` after each wake; reads whatever is
// waiting on every pass and drains the pipe after the child has ended.
// `abort` is asked on every pass; when it says yes the child (with
// everything it started) is ended, and the wait for it lasts at most
// kEndWaitMs, turning meanwhile.
inline CaptureResult CaptureOutput(ProcessLauncher& launcher, std::string_view command_line,
                                   const std::function<void()>& turn,
                                   const std::function<bool()>& abort = {}) {
  CaptureResult r;
  const auto set = launcher.NewChildSet();
  CapturedChild c;
  if (!c.Start(*set, command_line)) return r;
  r.started = true;
  for (;;) {
    // While output flows, read again at once; otherwise sleep until the
    // child ends or output arrives.
    const std::size_t got = c.Poll();
    if (!c.ended() && !got) set->Wait(1000);
    c.Poll();
    if (turn) turn();
    if (c.ended()) break;
    if (abort && abort()) {
      r.aborted = true;
      c.Terminate();
      // A child that does not go in time is left to the set's clean-up,
      // which ends it with everything it started.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs);
      while (!c.ended() && std::chrono::steady_clock::now() < deadline) {
        set->Wait(50);
        c.Poll();
        if (turn) turn();
      }
      break;
    }
  }
  r.ended = c.ended();
  r.exitCode = c.exitCode();
  r.bytes = std::move(c.bytes);
  return r;
}

}  // namespace kestrin::test
