#include "ide/deploy.h"

#include <chrono>

#include "ide/user_path.h"
#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

std::optional<std::string> CopyFileByStream(FileSystem& fs, std::string_view source,
                                            std::string_view destination) {
  auto in = fs.OpenRead(source, true);
  if (!in) return fs.LastError();
  // The copy is written beside the destination and then put in its place in
  // one step: a copy that fails or is cut short leaves the earlier package
  // whole, and never a part of one under the package's name.
  const std::string temp = std::string(destination) + ".kestrin-tmp";
  auto out = fs.CreateWrite(temp);
  if (!out) return fs.LastError();
  std::optional<std::string> error;
  char buf[65536];
  for (;;) {
    long long n = in->Read(buf, sizeof buf);
    if (n < 0) {
      error = fs.LastError();
      break;
    }
    if (n == 0) break;
    if (!out->Write(std::string_view(buf, static_cast<std::size_t>(n)))) {
      error = fs.LastError();
      break;
    }
  }
  in->Close();
  if (!out->Close() && !error) error = fs.LastError();
  if (!error && !fs.ReplaceWith(temp, destination)) error = fs.LastError();
  if (error) fs.RemoveFile(temp);
  return error;
}

namespace {

// Whether a new file can be made in `folder`: the system's reason when not.
std::optional<std::string> SystemFolderRefusesWrites(Session& s, const std::string& folder) {
  // A name of its own each time: an old file left behind must not pass for a
  // new one.
  const std::string probe =
      folder + "\\kestrin-write-test-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".tmp";
  auto file = s.fs.CreateWrite(probe);
  if (!file) return s.fs.LastError();
  file->Close();
  s.fs.RemoveFile(probe);
  return std::nullopt;
}

// Copies every runtime package found under the output folder.
void CopyFoundPackages(Session& s, const std::string& system_folder) {
  const ToolContext& c = s.ctx;
  FileIndex packages;
  packages.Build(s.fs, OutputFolder(c), ".bpl", [&s] { s.Pump(); });
  s.LogWalkFailures(packages);
  for (std::string_view row : RuntimePackages(c.release->family)) {
    // A package whose file is not there is skipped: copying the previous
    // hit again would report a package that was never deployed.
    const FoundFile* hit = packages.Find(PackageFileName(Trim(row), c.ideShortSuffix, ".BPL"));
    if (!hit) continue;
    const std::string destination = JoinPath(system_folder, hit->name);
    if (auto error = CopyFileByStream(s.fs, hit->path, destination)) {
      s.Log("复制 " + hit->name + " 到System32目录失败: " + *error);
      continue;
    }
    s.Log("复制 " + hit->name + " 到System32目录成功.");
    s.view.RepaintLog();
    s.TrimWorkingSetAndPump();
  }
}

}  // namespace

StateEvent CopyRuntimePackages(Session& s) {
  if (!RequireLibraryFolder(s) || !ConfirmIdeClosed(s) || !s.ctx.release) return StateEvent::None;
  // Without it every destination would be taken relative to the current drive.
  const std::string system_folder = s.fs.SystemFolder();
  if (system_folder.empty())
    throw CommandError("无法取得系统目录, 未复制任何运行时包: " + s.fs.LastError());
  // Since Vista only administrators may write there: the user's PATH is
  // offered instead, where an IDE started later finds the packages too.
  const auto refused = SystemFolderRefusesWrites(s, system_folder);
  const bool use_path =
      refused && s.view.AskYesNo(
                     "无法写入系统目录 " + system_folder + ": " + *refused +
                         "\n\n向系统目录复制运行时包需要管理员权限 (以管理员身份运行本工具).\n\n"
                         "是否改为把输出目录\n" + OutputFolder(s.ctx) +
                         "\n加入当前用户的 PATH 环境变量? 之后启动的 IDE 就能在那里找到运行时包.",
                     "提示");
  s.view.ShowLogPage();
  s.Log(kLogOpen);
  s.Log("复制运行时包到System32目录");
  StateEvent event = StateEvent::CopyEnded;
  if (!refused) {
    CopyFoundPackages(s, system_folder);
  } else if (use_path) {
    AddOutputFolderToUserPath(s);
  } else {
    s.Log("系统目录不可写 (需要管理员权限), 未复制任何运行时包: " + *refused);
    event = StateEvent::None;
  }
  s.LogDone();
  return event;
}

}  // namespace kestrin
