// What every command returns: whether it got to its work, and whether it did
// all it was asked to.
#pragma once

#include <string>

namespace kestrin {

struct CommandResult {
  bool started = false;     // it got past its checks and did its work
  bool answeredNo = false;  // it stopped at a question answered No
  std::string whyNot;       // why it did not start: the notice it showed
  int failures = 0;         // parts that did not complete, each named in the log
};

}  // namespace kestrin
