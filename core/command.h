// What every command returns: the state of the window's commands that
// follows, and whether it did all it was asked to.
#pragma once

#include <string>

namespace kestrin {

// What a command's end means for the enabled commands of the window.
enum class StateEvent { None, ReleaseChosen, CompileEnded, VerifyEnded, CopyEnded };

struct CommandResult {
  StateEvent next = StateEvent::None;
  bool started = false;     // it got past its checks and did its work
  bool answeredNo = false;  // it stopped at a question answered No
  std::string whyNot;       // why it did not start: the notice it showed
  int failures = 0;         // parts that did not complete, each named in the log
};

}  // namespace kestrin
