#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/posix_platform.h"
#include "platform/text.h"

namespace kestrin {
namespace {

thread_local int g_last_error = 0;

bool Fail(int err) {
  g_last_error = err;
  return false;
}

std::string Slashes(std::string_view path) {
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  // Collapse doubled separators (a folder with a trailing separator joined
  // to a name that starts with one).
  std::string out;
  for (char c : p)
    if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
  return out;
}

bool IsReadOnlyMode(mode_t m) { return (m & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { Close(); }
  long long Read(char* buf, std::size_t n) override {
    ssize_t r;
    do r = ::read(fd_, buf, n); while (r < 0 && errno == EINTR);
    if (r < 0) g_last_error = errno;
    return r;
  }
  long long ReadAt(long long offset, char* buf, std::size_t n) override {
    ssize_t r;
    do r = ::pread(fd_, buf, n, static_cast<off_t>(offset)); while (r < 0 && errno == EINTR);
    if (r < 0) g_last_error = errno;
    return r;
  }
  bool Write(std::string_view data) override {
    while (!data.empty()) {
      ssize_t w = ::write(fd_, data.data(), data.size());
      if (w < 0) {
        if (errno == EINTR) continue;
        return Fail(errno);
      }
      data.remove_prefix(static_cast<std::size_t>(w));
    }
    return true;
  }
  long long Size() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return Fail(errno), -1;
    return st.st_size;
  }
  bool Flush() override { return ::fsync(fd_) == 0 || Fail(errno); }
  bool Close() override {
    if (fd_ < 0) return true;
    int r = ::close(fd_);  // also releases the lock
    fd_ = -1;
    return r == 0 || Fail(errno);
  }

 private:
  int fd_;
};

}  // namespace

std::string PosixFileSystem::Resolve(std::string_view path) {
  std::string p = Slashes(path);
  struct stat st;
  if (p.empty() || lstat(p.c_str(), &st) == 0) return p;
  // Walk the components, matching each missing one without regard to case.
  std::string done = p[0] == '/' ? "/" : "";
  std::size_t i = p[0] == '/' ? 1 : 0;
  while (i <= p.size()) {
    std::size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string part = p.substr(i, j - i);
    if (!part.empty()) {
      std::string cand = done + part;
      if (lstat(cand.c_str(), &st) != 0) {
        if (DIR* d = opendir(done.empty() ? "." : done.c_str())) {
          while (dirent* e = readdir(d))
            if (EqualsNoCase(e->d_name, part)) {
              cand = done + e->d_name;
              break;
            }
          closedir(d);
        }
      }
      done = cand;
      if (j < p.size()) done += '/';
    }
    i = j + 1;
  }
  return done;
}

std::string PosixFileSystem::Checked(std::string_view path) {
  if (path.empty()) g_last_error = ENOENT;
  return Resolve(path);
}

bool PosixFileSystem::FileExists(std::string_view path) {
  return Probe(path) == PathKind::File;
}

bool PosixFileSystem::DirExists(std::string_view path) {
  return Probe(path) == PathKind::Directory;
}

PathKind PosixFileSystem::Probe(std::string_view path) {
  std::string p = Checked(path);
  struct stat st;
  if (p.empty() || stat(p.c_str(), &st) != 0) {
    if (!p.empty()) g_last_error = errno;
    return g_last_error == ENOENT || g_last_error == ENOTDIR ? PathKind::Missing : PathKind::Error;
  }
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool PosixFileSystem::Inspect(std::string_view path, FileInfo* info) {
  std::string p = Checked(path);
  if (p.empty()) return false;
  struct stat link, st;
  if (lstat(p.c_str(), &link) != 0 || stat(p.c_str(), &st) != 0) return Fail(errno);
  info->id = FileId{static_cast<std::uint64_t>(st.st_dev), 0, static_cast<std::uint64_t>(st.st_ino)};
  info->links = static_cast<std::uint32_t>(st.st_nlink);
  info->reparse = S_ISLNK(link.st_mode);
  info->size = st.st_size;
  info->modified = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

bool PosixFileSystem::MakeDir(std::string_view path) {
  std::string p = Checked(path);
  if (p.empty()) return false;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::string parent = p.substr(0, p.find_last_of('/') + 1);
  struct stat st;
  if (!parent.empty() && stat(parent.c_str(), &st) == 0 && IsReadOnlyMode(st.st_mode))
    return Fail(EACCES);
  return ::mkdir(p.c_str(), 0777) == 0 || Fail(errno);
}

std::string PosixFileSystem::ShortPath(std::string_view path) {
  struct stat st;
  std::string resolved = Checked(path);
  if (resolved.empty() || stat(resolved.c_str(), &st) != 0) return {};
  std::string p(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

std::string PosixFileSystem::LongPath(std::string_view path) {
  struct stat st;
  std::string resolved = Checked(path);
  if (resolved.empty() || stat(resolved.c_str(), &st) != 0) return {};
  return std::string(path);
}

bool PosixFileSystem::IsFullyQualified(std::string_view path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

bool PosixFileSystem::ListDir(std::string_view folder, std::vector<DirEntry>* out) {
  out->clear();
  std::string dir = Checked(folder);
  if (dir.empty()) return false;
  DIR* d = opendir(dir.c_str());
  if (!d) return Fail(errno);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  for (;;) {
    errno = 0;  // readdir tells an error from the end only by errno
    dirent* e = readdir(d);
    if (!e) break;
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry{name, 0};
    bool is_dir = e->d_type == DT_DIR;
    mode_t mode = 0;
    struct stat st;
    if (stat((dir + name).c_str(), &st) == 0) {
      is_dir = S_ISDIR(st.st_mode);
      mode = st.st_mode;
    }
    if (is_dir) entry.attributes |= kAttrDirectory;
    if (e->d_type == DT_LNK) entry.attributes |= kAttrReparsePoint;
    else entry.attributes |= kAttrArchive;
    if (name[0] == '.') entry.attributes |= kAttrHidden;
    if (mode && IsReadOnlyMode(mode)) entry.attributes |= kAttrReadOnly;
    out->push_back(std::move(entry));
  }
  const int ended = errno;
  closedir(d);
  std::sort(out->begin(), out->end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return ended == 0 || Fail(ended);
}

bool PosixFileSystem::GetAttributes(std::string_view path, std::uint32_t* attrs) {
  std::string p = Checked(path);
  if (p.empty()) return false;
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return Fail(errno);
  std::uint32_t a = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  std::string name = p.substr(p.find_last_of('/') + 1);
  if (!name.empty() && name[0] == '.') a |= kAttrHidden;
  if (IsReadOnlyMode(st.st_mode)) a |= kAttrReadOnly;
  *attrs = a;
  return true;
}

bool PosixFileSystem::SetAttributes(std::string_view path, std::uint32_t attrs) {
  std::string p = Checked(path);
  if (p.empty()) return false;
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return Fail(errno);
  mode_t m = st.st_mode & 07777;
  m = (attrs & kAttrReadOnly) ? (m & ~mode_t(0222)) : (m | S_IWUSR);
  return chmod(p.c_str(), m) == 0 || Fail(errno);
}

std::unique_ptr<File> PosixFileSystem::OpenRead(std::string_view path, bool exclusive) {
  std::string p = Checked(path);
  if (p.empty()) return nullptr;
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(errno), nullptr;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Fail(EISDIR), nullptr;
  }
  // Sharing is modelled with advisory locks: an exclusive opener takes the
  // lock, and every opener respects a lock that another one holds.
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    ::close(fd);
    return Fail(EBUSY), nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<File> PosixFileSystem::CreateWrite(std::string_view path) {
  std::string p = Checked(path);
  if (p.empty()) return nullptr;
  struct stat st;
  if (stat(p.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail(EISDIR), nullptr;
    if (IsReadOnlyMode(st.st_mode)) return Fail(EACCES), nullptr;
  } else {
    std::string parent = p.substr(0, p.find_last_of('/') + 1);
    if (!parent.empty() && stat(parent.c_str(), &st) == 0 && IsReadOnlyMode(st.st_mode))
      return Fail(EACCES), nullptr;
  }
  // Open without truncating, take the lock, then empty the file: a file that
  // another process holds stays intact.
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(errno), nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Fail(EBUSY), nullptr;
  }
  if (ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    return Fail(e), nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

// Whether `p` may be deleted or replaced, as Windows would allow it: not
// read-only and not held open by another opener. A link is judged itself.
static bool Removable(const std::string& p) {
  struct stat st;
  if (lstat(p.c_str(), &st) != 0) return Fail(errno);
  if (S_ISLNK(st.st_mode)) return true;
  if (IsReadOnlyMode(st.st_mode)) return Fail(EACCES);
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    if (locked) return Fail(EBUSY);
  }
  return true;
}

bool PosixFileSystem::ReplaceWith(std::string_view from, std::string_view to) {
  std::string src = Checked(from);
  if (src.empty()) return false;
  std::string dst = Checked(to);
  if (dst.empty()) return false;
  struct stat st;
  if (lstat(dst.c_str(), &st) == 0 && !Removable(dst)) return false;
  return ::rename(src.c_str(), dst.c_str()) == 0 || Fail(errno);
}

bool PosixFileSystem::RemoveFile(std::string_view path) {
  std::string p = Checked(path);
  if (p.empty()) return false;
  if (!Removable(p)) return false;
  return ::unlink(p.c_str()) == 0 || Fail(errno);
}

std::string PosixFileSystem::LastError() { return std::strerror(g_last_error); }

std::string PosixFileSystem::ExecutableFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string p(buf, static_cast<std::size_t>(n));
  return p.substr(0, p.find_last_of('/')) + "\\";
}

std::string PosixFileSystem::SystemFolder() {
  g_last_error = ENOENT;
  return {};
}

}  // namespace kestrin
