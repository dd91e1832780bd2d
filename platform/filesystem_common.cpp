#include "platform/filesystem.h"

#include <atomic>

namespace kestrin {

bool WriteWholeFile(FileSystem& fs, std::string_view path, std::string_view data) {
  auto f = fs.CreateWrite(path);
  if (!f) return false;
  bool ok = f->Write(data);
  return f->Close() && ok;
}

bool ReadWholeFile(FileSystem& fs, std::string_view path, std::string* data) {
  data->clear();
  auto f = fs.OpenRead(path, false);
  if (!f) return false;
  char buf[65536];
  for (;;) {
    long long n = f->Read(buf, sizeof buf);
    if (n < 0) return false;
    if (n == 0) break;
    data->append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<std::string> ReplaceFileContents(FileSystem& fs, std::string_view destination,
                                               const std::function<bool(File&)>& write,
                                               std::uint32_t process_id) {
  // The name is this process's and this call's own, so no other run (and no
  // other call of this one) writes into it.
  static std::atomic<unsigned> calls{0};
  const std::string temp = std::string(destination) + "." + std::to_string(process_id) + "-" +
                           std::to_string(++calls) + std::string(kTemporaryEnding);
  auto out = fs.CreateWrite(temp);
  if (!out) return fs.LastError();
  std::optional<std::string> error;
  // On the disk before the move: a crash after it must not leave a file
  // whose content was never written.
  if (!write(*out) || !out->Flush()) error = fs.LastError();
  if (!out->Close() && !error) error = fs.LastError();
  out.reset();
  if (!error && !fs.ReplaceWith(temp, destination)) error = fs.LastError();
  if (error) fs.RemoveFile(temp);
  return error;
}

std::string FolderPart(std::string_view path) {
  std::size_t p = path.find_last_of("\\/");
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string FileNamePart(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string QuoteIfBlank(std::string path) {
  if (path.find_first_of(" \t") == std::string::npos) return path;
  return "\"" + path + "\"";
}

std::string CommandLinePath(FileSystem& fs, std::string_view path) {
  // Without a short form (a path not there yet, a name too long, a folder
  // that cannot be read) the path goes on as it is: dropping it would
  // leave the compiler without a folder it was meant to have.
  std::string s = fs.ShortPath(path);
  return QuoteIfBlank(s.empty() ? std::string(path) : std::move(s));
}

bool IsFullyQualifiedWindowsPath(std::string_view path) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 3 && letter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
  if (path.substr(0, 2) != "\\\\") return false;
  const std::size_t server_end = path.find('\\', 2);
  if (server_end == std::string_view::npos || server_end == 2) return false;
  const std::string_view server = path.substr(2, server_end - 2);
  if (server == "?" || server == ".") return false;
  const std::size_t share_end = path.find('\\', server_end + 1);
  return (share_end == std::string_view::npos ? path.size() : share_end) > server_end + 1;
}

bool MakeDirs(FileSystem& fs, std::string_view path) {
  std::string p(path);
  while (p.size() > 1 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  if (p.empty() || fs.DirExists(p)) return true;
  std::string parent = FolderPart(p);
  if (!parent.empty() && parent != p && !MakeDirs(fs, parent)) return false;
  return fs.MakeDir(p) || fs.DirExists(p);
}

}  // namespace kestrin
