#include "compile/console_runner.h"

#include <chrono>
#include <utility>

#include "platform/text.h"

namespace kestrin {

CapturedChild& CapturedChild::operator=(CapturedChild&& other) noexcept {
  if (this == &other) return *this;
  Release();
  set_ = std::exchange(other.set_, nullptr);
  child_ = std::exchange(other.child_, nullptr);
  ended_ = other.ended_;
  exit_code_ = other.exit_code_;
  bytes = std::move(other.bytes);
  return *this;
}

bool CapturedChild::Start(ChildSet& set, std::string_view command_line) {
  set_ = &set;
  child_ = set.Start(command_line);
  return child_ != nullptr;
}

void CapturedChild::Release() {
  if (set_ && child_) set_->Remove(child_);
  child_ = nullptr;
}

std::size_t CapturedChild::Poll() {
  if (!child_ || ended_) return 0;
  std::size_t got = child_->ReadAvailable(&bytes);
  if (child_->Wait(0)) {
    ended_ = true;
    exit_code_ = child_->ExitCode();
    // An ended child has written everything into the pipe already.
    while (std::size_t more = child_->ReadAvailable(&bytes)) got += more;
  }
  return got;
}

void CapturedChild::Terminate() {
  if (child_ && !ended_) child_->Terminate();
}

CaptureResult CaptureOutput(ProcessLauncher& launcher, std::string_view command_line,
                            const std::function<void()>& pump,
                            const std::function<bool()>& abort) {
  CaptureResult r;
  const auto set = launcher.NewChildSet();
  CapturedChild c;
  if (!c.Start(*set, command_line)) return r;
  r.started = true;
  for (;;) {
    // While output flows, read again at once; otherwise sleep until the
    // child ends, a message arrives or a short while has passed.
    const std::size_t got = c.Poll();
    if (!c.ended() && !got) set->Wait(20);
    c.Poll();
    if (pump) pump();
    if (c.ended()) break;
    if (abort && abort()) {
      r.aborted = true;
      c.Terminate();
      // The window keeps answering while the child goes; a child that does
      // not go in time is left to the system (the launcher's clean-up ends
      // it with everything it started).
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndWaitMs);
      while (!c.ended() && std::chrono::steady_clock::now() < deadline) {
        set->Wait(50);
        c.Poll();
        if (pump) pump();
      }
      break;
    }
  }
  r.ended = c.ended();
  r.exitCode = c.exitCode();
  r.bytes = std::move(c.bytes);
  return r;
}

std::string OutputText(std::string_view bytes) {
  if (bytes.empty()) return std::string(kNoOutput);
  return GbkToUtf8(bytes);
}

}  // namespace kestrin
