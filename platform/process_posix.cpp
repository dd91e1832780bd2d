#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <strings.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix_platform.h"

extern char** environ;

namespace kestrin {
namespace {

thread_local int g_last_error = 0;

class PosixChild : public ChildProcess {
 public:
  // A pidfd (Linux 5.3 and later) lets a poll wake when the child ends, not
  // only when it writes or closes its output.
  PosixChild(pid_t pid, int fd) : pid_(pid), fd_(fd) {
#ifdef SYS_pidfd_open
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
  }
  ~PosixChild() override {
    if (!ended_) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(fd_);
    if (pidfd_ >= 0) close(pidfd_);
  }
  std::size_t ReadAvailable(std::string* out) override {
    std::size_t total = 0;
    char buf[65536];
    for (;;) {
      ssize_t r = read(fd_, buf, sizeof buf);
      if (r > 0) {
        out->append(buf, static_cast<std::size_t>(r));
        total += static_cast<std::size_t>(r);
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) closed_ = true;  // every writer has closed
      break;                       // or nothing is waiting now
    }
    return total;
  }
  bool Ended() override { return Reaped(); }
  // The child leads a process group of its own: ending it ends everything
  // it started too.
  void Terminate() override {
    if (!ended_) kill(-pid_, SIGKILL);
  }
  int ExitCode() override {
    if (!ended_) return -1;
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
  }
  bool HasPidfd() const { return pidfd_ >= 0; }
  // What a poll waits on for this child: its output while the pipe is open,
  // and its end where the system can tell.
  void PollSet(std::vector<pollfd>* fds) const {
    if (!closed_) fds->push_back({fd_, POLLIN, 0});
    if (pidfd_ >= 0) fds->push_back({pidfd_, POLLIN, 0});
  }
  // True once the child has ended (collected without waiting).
  bool Reaped() {
    if (!ended_ && waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return ended_;
  }

 private:
  pid_t pid_;
  int fd_;
  int pidfd_ = -1;
  int status_ = 0;
  bool ended_ = false;
  bool closed_ = false;
};

}  // namespace

namespace {

std::unique_ptr<PosixChild> StartChild(std::string_view command_line) {
  std::vector<std::string> args = SplitCommandLine(command_line);
  if (args.empty()) {
    g_last_error = EINVAL;
    return nullptr;
  }
  // The program path is a Windows-style path; the arguments go on unchanged.
  args[0] = PosixFileSystem::Resolve(args[0]);
  if (access(args[0].c_str(), X_OK) != 0) {
    g_last_error = errno;
    return nullptr;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    g_last_error = errno;
    return nullptr;
  }
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0) {
    g_last_error = rc;
    close(fds[0]);
    return nullptr;
  }
  return std::make_unique<PosixChild>(pid, fds[0]);
}

class PosixChildSet : public ChildSet {
 public:
  PosixChildSet() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      wake_read_ = fds[0];
      wake_write_ = fds[1];
    }
  }
  ~PosixChildSet() override {
    children_.clear();
    if (wake_read_ >= 0) close(wake_read_);
    if (wake_write_ >= 0) close(wake_write_);
  }
  ChildProcess* Start(std::string_view command_line) override {
    auto child = StartChild(command_line);
    if (!child) return nullptr;
    children_.push_back(std::move(child));
    return children_.back().get();
  }
  void Remove(ChildProcess* child) override {
    std::erase_if(children_, [&](const std::unique_ptr<PosixChild>& c) { return c.get() == child; });
  }
  void Wait(int timeout_ms) override {
    std::vector<pollfd> fds;
    bool without_pidfd = false;
    for (const auto& c : children_) {
      if (c->Reaped()) return;  // one has ended already: nothing to wait for
      c->PollSet(&fds);
      without_pidfd = without_pidfd || !c->HasPidfd();
    }
    if (wake_read_ >= 0) fds.push_back({wake_read_, POLLIN, 0});
    // Where the system gives no pidfd, a child's end shows only when its
    // output closes; look again shortly for one that ended with its pipe
    // still held open by something it started.
    if (without_pidfd) timeout_ms = std::min(timeout_ms, 50);
    poll(fds.data(), fds.size(), timeout_ms);
    char drain[64];
    while (wake_read_ >= 0 && read(wake_read_, drain, sizeof drain) > 0) {
    }
  }
  void Wake() override {
    if (wake_write_ >= 0) (void)!write(wake_write_, "w", 1);
  }

 private:
  std::vector<std::unique_ptr<PosixChild>> children_;
  int wake_read_ = -1, wake_write_ = -1;
};

}  // namespace

std::unique_ptr<ChildSet> PosixProcessLauncher::NewChildSet() {
  return std::make_unique<PosixChildSet>();
}

std::uint32_t PosixProcessLauncher::CurrentProcessId() {
  return static_cast<std::uint32_t>(getpid());
}

std::string PosixProcessLauncher::LastError() { return std::strerror(g_last_error); }

int PosixProcessLauncher::UsableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n > 0 ? n : 1;
}

bool PosixProcessLauncher::IsRunning(std::string_view image_path) {
  char wanted[PATH_MAX];
  if (!realpath(PosixFileSystem::Resolve(image_path).c_str(), wanted)) return false;
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    char image[PATH_MAX];
    ssize_t n = readlink((std::string("/proc/") + e->d_name + "/exe").c_str(), image, sizeof image - 1);
    if (n <= 0) continue;  // not ours to ask
    image[n] = '\0';
    if (strcasecmp(image, wanted) == 0) {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

}  // namespace kestrin
