// The copy command: runtime packages into the system folder.
#include "ide/deploy.h"

#include <chrono>

#include "app/app.h"
#include "build/compile.h"
#include "build/file_search.h"
#include "ide/user_environment.h"

namespace kestrin {

std::string GetSystemFolder(App& app) { return app.fs.SystemFolder(); }

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

// Whether a new file can be made in `folder`: the system's reason when not.
static std::optional<std::string> SystemFolderRefusesWrites(App& app, const std::string& folder) {
  // A name of its own each time: an old file left behind must not pass for a
  // new one.
  const std::string probe =
      folder + "\\kestrin-write-test-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".tmp";
  auto file = app.fs.CreateWrite(probe);
  if (!file) return app.fs.LastError();
  file->Close();
  app.fs.RemoveFile(probe);
  return std::nullopt;
}

// Copies every runtime package found under the output folder.
static void CopyRuntimePackages(App& app, const std::string& system_folder) {
  ToolContext& c = app.ctx;
  FileIndex packages;
  packages.Build(app.fs, OutputFolder(app), ".bpl", [&app] { app.view.PumpMessages(); });
  LogWalkFailures(app, packages);
  for (const std::string& row : app.lists.runtime) {
    c.CurrentPackage = Trim(row);
    // A package whose file is not there is skipped: copying the previous
    // hit again would report a package that was never deployed.
    if (!packages.Find(c, c.CurrentPackage + c.IdeShortSuffix + ".BPL")) continue;
    const std::string destination = system_folder + "\\" + c.FoundFileName;
    if (auto error = CopyFileByStream(app.fs, c.FoundFilePath, destination)) {
      app.Log("复制 " + c.FoundFileName + " 到System32目录失败: " + *error);
      continue;
    }
    app.Log("复制 " + c.FoundFileName + " 到System32目录成功.");
    app.view.RepaintLog();
    TrimWorkingSetAndPump(app);
  }
}

void Button10Click(App& app) {
  if (LibraryFolderMissing(app) || !ConfirmIdeClosed(app)) return;
  // Without it every destination would be taken relative to the current drive.
  const std::string system_folder = GetSystemFolder(app);
  if (system_folder.empty())
    throw CommandError("无法取得系统目录, 未复制任何运行时包: " + app.fs.LastError());
  // Since Vista only administrators may write there: the user's PATH is
  // offered instead, where an IDE started later finds the packages too.
  const auto refused = SystemFolderRefusesWrites(app, system_folder);
  const bool use_path =
      refused && app.view.AskYesNo(
                     "无法写入系统目录 " + system_folder + ": " + *refused +
                         "\n\n向系统目录复制运行时包需要管理员权限 (以管理员身份运行本工具).\n\n"
                         "是否改为把输出目录\n" + OutputFolder(app) +
                         "\n加入当前用户的 PATH 环境变量? 之后启动的 IDE 就能在那里找到运行时包.",
                     "提示");
  app.view.ShowLogPage();
  app.Log(kLogOpen);
  app.Log("复制运行时包到System32目录");
  if (!refused) {
    CopyRuntimePackages(app, system_folder);
    app.Apply(StateEvent::CopyEnded);
  } else if (use_path) {
    AddOutputFolderToUserPath(app);
    app.Apply(StateEvent::CopyEnded);
  } else {
    app.Log("系统目录不可写 (需要管理员权限), 未复制任何运行时包: " + *refused);
  }
  app.Log(" ");
  app.Log(kLogDone);
}

}  // namespace kestrin
