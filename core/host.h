// What a running command needs of whoever runs it (the window, the console
// run, a test): a log line, progress, a message, a question, a pump and
// whether a stop has been asked for. Nothing else of the outside reaches a
// command but the platform's services.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrin {

enum class MessageIcon { Information, Error };

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
  virtual void Message(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
  // A question with Yes and No, No the default; true for Yes.
  virtual bool Ask(std::string_view text, std::string_view caption) = 0;
  // Lets the outside go on for a moment: the window handles its pending
  // messages, the console run looks for Ctrl+C.
  virtual void Pump() = 0;
  // No compiler starts any more once a stop has been asked for.
  virtual bool StopRequested() = 0;
  // The stop was asked for with an end: the compilers that still run are to
  // be ended now (their grace period is over).
  virtual bool EndRequested() = 0;
};

// How long a compiler may go on after the program was asked to close or the
// console run was interrupted, before it is ended.
inline constexpr std::uint64_t kStopGraceMs = 3000;

// A stop asked for by the stop button, the window's close, Ctrl+C or a
// closed output; the command reads it through its Host.
class StopToken {
 public:
  // No compiler starts any more; those running finish.
  void Stop() { stopped_ = true; }
  // As Stop, and those running are ended once the grace period from `now_ms` is over.
  void StopAndEnd(std::uint64_t now_ms) {
    stopped_ = true;
    if (!end_at_) end_at_ = now_ms + kStopGraceMs;
  }
  void Reset() { stopped_ = false; }  // a new command starts; an end asked for stays
  bool stopped() const { return stopped_; }
  bool ending() const { return end_at_.has_value(); }
  bool EndNow(std::uint64_t now_ms) const { return end_at_ && now_ms > *end_at_; }

 private:
  bool stopped_ = false;
  std::optional<std::uint64_t> end_at_;
};

}  // namespace kestrin
