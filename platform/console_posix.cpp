#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "platform/posix_platform.h"

namespace kestrin {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

PosixConsole::PosixConsole() {
  // A closed pipe shows as a failed write, not as the end of the program.
  std::signal(SIGPIPE, SIG_IGN);
}

bool PosixConsole::Write(int fd, std::string_view line) {
  if (broken_) return false;
  const std::string bytes = std::string(line) + "\n";
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !(broken_ = true);
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool PosixConsole::WriteOut(std::string_view line) { return Write(STDOUT_FILENO, line); }
bool PosixConsole::WriteErr(std::string_view line) { return Write(STDERR_FILENO, line); }
bool PosixConsole::Broken() { return broken_; }
void PosixConsole::CatchInterrupts() { std::signal(SIGINT, OnInterrupt); }
bool PosixConsole::Interrupted() { return g_interrupted != 0; }

}  // namespace kestrin
