// What a running command tells whoever runs it (the window, the console
// run, a test), as typed events: a log line, a package started or ended, a
// finding, progress and the look of a run, a message, a question; and the
// stop it reads. A command runs on a thread of its own: each face decides
// how the events reach its thread. Nothing else of the outside reaches a
// command but the platform's services.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

#include "core/finding.h"
#include "core/package_result.h"

namespace kestrin {

enum class MessageIcon { Information, Error };

// How long a compiler may go on after the program was asked to close or the
// console run was interrupted, before it is ended.
inline constexpr std::uint64_t kStopGraceMs = 3000;

// A stop asked for by the stop button, the window's close, Ctrl+C or a
// closed output. Set on one thread, read on the command's: every call is
// safe from any thread.
class StopToken {
 public:
  // `clock_ms` gives milliseconds, for the grace period.
  explicit StopToken(std::function<std::uint64_t()> clock_ms = {}) : clock_(std::move(clock_ms)) {}

  // No compiler starts any more; those running finish.
  void Stop();
  // As Stop, and those running are ended once the grace period from now is over.
  void StopAndEnd();
  // A new command starts; an end asked for stays.
  void Reset() { stopped_ = false; }
  bool stopped() const { return stopped_; }
  bool ending() const { return end_at_ != 0; }
  // The grace period after StopAndEnd is over.
  bool EndNow() const { return MsUntilEnd() == 0; }
  // Milliseconds until the grace period is over (0 once it is); -1 when no
  // end was asked for.
  long long MsUntilEnd() const;

  // While a command waits for its children: called on every stop, from the
  // thread that stops, so that the wait ends at once. Empty to clear.
  void SetWaker(std::function<void()> wake);

 private:
  void Wake();
  std::uint64_t Now() const { return clock_ ? clock_() : 0; }
  std::atomic<bool> stopped_{false};
  std::atomic<std::uint64_t> end_at_{0};  // 0: no end asked for
  std::function<std::uint64_t()> clock_;
  std::mutex waker_mutex_;
  std::function<void()> waker_;
};

class Host {
 public:
  virtual ~Host() = default;
  // One log entry, shown as several lines if it holds line breaks.
  virtual void Log(std::string_view text) = 0;
  // A command opens its block in the log: the log comes into view.
  virtual void ShowLog() {}
  // The command pane: a line of a command's outcome, and clearing it.
  virtual void Note(std::string_view text) { Log(text); }
  virtual void ClearNotes() {}
  // The look of a compile run (the stop button and the gauge in view), its
  // gauge and the window's caption.
  virtual void Running(bool running) {}
  virtual void Progress(int position, int maximum) {}
  virtual void Caption(std::string_view caption) {}
  // A package of the build list (by its row) started compiling, or ended.
  virtual void PackageStarted(std::size_t row) {}
  virtual void PackageEnded(std::size_t row, const PackageResult& result) {}
  // A finding of the check, before its lines are logged.
  virtual void Found(const Finding& finding) {}
  virtual void Message(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
  // A question with Yes and No, No the default; true for Yes. The command
  // waits for the answer; a stop with an end while it waits answers No.
  virtual bool Ask(std::string_view text, std::string_view caption) = 0;
  // The stop the command reads.
  virtual StopToken& Stop() = 0;
};

}  // namespace kestrin
