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
};

}  // namespace kestrin
