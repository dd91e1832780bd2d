#include "ide/deploy.h"

#include <chrono>
#include <unordered_map>
#include <vector>

#include "ide/user_path.h"
#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

std::optional<std::string> CopyFileByStream(FileSystem& fs, std::string_view source,
                                            std::string_view destination,
                                            std::uint32_t process_id) {
  auto in = fs.OpenRead(source, true);
  if (!in) return fs.LastError();
  // A copy that fails or is cut short leaves the earlier package whole, and
  // never a part of one under the package's name.
  auto error = ReplaceFileContents(fs, destination, [&in](File& out) {
    char buf[65536];
    for (;;) {
      long long n = in->Read(buf, sizeof buf);
      if (n <= 0) return n == 0;
      if (!out.Write(std::string_view(buf, static_cast<std::size_t>(n)))) return false;
    }
  }, process_id);
  in->Close();
  return error;
}

void RemoveTemporaryLeftovers(Session& s, const std::string& folder) {
  std::vector<DirEntry> entries;
  if (!s.fs.ListDir(folder, &entries)) {
    const std::string reason = s.fs.LastError();
    if (s.fs.Probe(folder) != PathKind::Missing) s.Log("无法读取文件夹 " + folder + ": " + reason);
    return;
  }
  for (const DirEntry& e : entries) {
    if (e.IsDir() || !EndsWithNoCase(e.name, kTemporaryEnding)) continue;
    const std::string path = JoinPath(folder, e.name);
    if (s.fs.RemoveFile(path)) s.Log("已删除遗留的临时文件: " + path);
    else s.Log("无法删除遗留的临时文件 " + path + ": " + s.fs.LastError());
  }
}

namespace {

// Whether a new file can be made in `folder`: the system's reason when not.
std::optional<std::string> SystemFolderRefusesWrites(Session& s, const std::string& folder) {
  // A name of its own each time: an old file left behind must not pass for a
  // new one.
  const std::string probe =
      folder + "\\kestrin-write-test-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
      std::string(kTemporaryEnding);
  auto file = s.fs.CreateWrite(probe);
  if (!file) return s.fs.LastError();
  file->Close();
  s.fs.RemoveFile(probe);
  return std::nullopt;
}

// Copies every runtime package found under the output folder; returns how
// many could not be copied.
int CopyFoundPackages(Session& s, const Target& c, const std::string& system_folder) {
  int failed = 0;
  FileIndex packages;
  packages.Build(s.fs, OutputFolder(c), ".bpl", {});
  s.LogWalkFailures(packages);
  for (std::string_view row : RuntimePackages(c.release->family)) {
    // A package whose file is not there is skipped: copying the previous
    // hit again would report a package that was never deployed.
    const FoundFile* hit = packages.Find(PackageFileName(Trim(row), c.shortSuffix(), ".BPL"));
    if (!hit) continue;
    if (!hit->others.empty()) {
      std::string others;
      for (const std::string& other : hit->others) others += (others.empty() ? "" : "; ") + other;
      s.Log("输出目录中有多个 " + hit->name + ", 复制的是: " + hit->path + " (另有: " + others + ")");
    }
    const std::string destination = JoinPath(system_folder, hit->name);
    if (auto error =
            CopyFileByStream(s.fs, hit->path, destination, s.processes.CurrentProcessId())) {
      s.Log("复制 " + hit->name + " 到System32目录失败: " + *error);
      ++failed;
      continue;
    }
    s.Log("复制 " + hit->name + " 到System32目录成功.");
    s.processes.TrimWorkingSet();
  }
  return failed;
}

// Runtime packages of the release that an earlier run as administrator left
// in the system folder: Windows finds them there before it searches PATH.
void NameOldCopies(Session& s, const Target& c, const std::string& system_folder) {
  std::vector<DirEntry> entries;
  if (!s.fs.ListDir(system_folder, &entries)) {
    s.Log("无法读取文件夹 " + system_folder + ": " + s.fs.LastError());
    return;
  }
  std::unordered_map<std::string, std::string> on_disk;  // lower case -> the name as on disk
  for (const DirEntry& e : entries)
    if (!e.IsDir()) on_disk.emplace(ToLowerAscii(e.name), e.name);
  std::string names;
  for (std::string_view row : RuntimePackages(c.release->family)) {
    auto it = on_disk.find(ToLowerAscii(PackageFileName(Trim(row), c.shortSuffix(), ".bpl")));
    if (it == on_disk.end()) continue;
    names += (names.empty() ? "" : ", ") + it->second;
  }
  if (names.empty()) return;
  s.Log("系统目录中已有同名的运行时包, Windows 会先加载它们: " + names);
  s.Log("如需删除这些旧包, 请以管理员身份运行本工具, 勾选 \"是否删除BPL包\" 后执行卸载 "
        "(输出目录中的包也会一并删除, 之后需重新编译).");
}

}  // namespace

CommandResult CopyRuntimePackages(Session& s, const CopyRequest& request) {
  CommandResult result;
  const Target& t = request.target;
  if (!CommandMayStart(s, t, {}, result) || !t.release) return result;
  // Without it every destination would be taken relative to the current drive.
  const std::string system_folder = s.fs.SystemFolder();
  if (system_folder.empty())
    throw CommandError("无法取得系统目录, 未复制任何运行时包: " + s.fs.LastError());
  // Since Vista only administrators may write there: the user's PATH is
  // offered instead, where an IDE started later finds the packages too.
  const auto refused = SystemFolderRefusesWrites(s, system_folder);
  const bool use_path =
      refused && s.host.Ask(
                     "无法写入系统目录 " + system_folder + ": " + *refused +
                         "\n\n向系统目录复制运行时包需要管理员权限 (以管理员身份运行本工具).\n\n"
                         "是否改为把输出目录\n" + OutputFolder(t) +
                         "\n加入当前用户的 PATH 环境变量? 之后启动的 IDE 就能在那里找到运行时包.",
                     "提示");
  s.OpenBlock("复制运行时包到System32目录");
  result.started = true;
  if (!refused) {
    RemoveTemporaryLeftovers(s, system_folder);
    result.failures = CopyFoundPackages(s, t, system_folder);
  } else if (use_path) {
    if (!AddOutputFolderToUserPath(s, t)) result.failures = 1;
    NameOldCopies(s, t, system_folder);
  } else {
    s.Log("系统目录不可写 (需要管理员权限), 未复制任何运行时包: " + *refused);
    result.started = false;
    result.answeredNo = true;
  }
  s.LogDone();
  return result;
}

}  // namespace kestrin
