// Runs console children hidden, with their output captured through a pipe,
// while the window keeps answering.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace kestrin {

// What the log shows for a compiler that printed nothing.
inline constexpr std::string_view kNoOutput = "没有输出!";

// How long an ended child may take to go before the runner stops waiting.
inline constexpr int kEndWaitMs = 5000;

// One running child and everything it has written so far.
class CapturedChild {
 public:
  CapturedChild() = default;
  CapturedChild(CapturedChild&& other) noexcept { *this = std::move(other); }
  CapturedChild& operator=(CapturedChild&& other) noexcept;
  ~CapturedChild() { Release(); }
  // Starts the child in `set`; false (the launcher's LastError says why)
  // when it cannot be started.
  bool Start(ChildSet& set, std::string_view command_line);
  // Reads whatever is waiting and notes whether the child has ended; once it
  // has, drains the pipe. Returns the number of bytes read.
  std::size_t Poll();
  // Ends the child (with everything it started).
  void Terminate();
  // Takes the child out of its set: its handles close.
  void Release();
  bool started() const { return child_ != nullptr; }
  bool ended() const { return ended_; }
  int exitCode() const { return exit_code_; }
  std::string bytes;  // every byte the child wrote, in arrival order

 private:
  ChildSet* set_ = nullptr;
  ChildProcess* child_ = nullptr;
  bool ended_ = false;
  int exit_code_ = -1;
};

// The output as log text: decoded from GBK, or "没有输出!" when there was none.
std::string OutputText(std::string_view bytes);

}  // namespace kestrin
