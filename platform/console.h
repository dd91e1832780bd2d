// Standard output and error, for runs without the window. Lines are UTF-8
// in the program; on a console they are written as wide characters (so
// Chinese shows whatever the console's code page), redirected to a file or
// a pipe as UTF-8.
#pragma once

#include <string_view>

namespace kestrin {

class Console {
 public:
  virtual ~Console() = default;
  // Writes `line` and a line end. False once the output is gone (a pipe
  // whose reader went away); from then on Broken() says so.
  virtual bool WriteOut(std::string_view line) = 0;
  virtual bool WriteErr(std::string_view line) = 0;
  virtual bool Broken() = 0;
  // From now on Ctrl+C and Ctrl+Break (or SIGINT) do not end the program:
  // they are noted, and Interrupted() says so.
  virtual void CatchInterrupts() = 0;
  virtual bool Interrupted() = 0;
  // Removes and handles whatever waits in the message queue of the calling
  // thread (broadcasts to the system's hidden windows, thread messages), so
  // that a wait for a child that also wakes for messages blocks again, and
  // a program that broadcasts with SendMessage gets its answer. The run
  // without the window calls it from its pump. Nothing where the system
  // has no message queues.
  virtual void HandleQueuedMessages() = 0;
};

}  // namespace kestrin
