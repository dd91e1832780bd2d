// The copy command: runtime packages into the system folder.
#include "ide/deploy.h"

#include "app/app.h"
#include "build/compile.h"
#include "build/file_search.h"

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

void Button10Click(App& app) {
  ToolContext& c = app.ctx;
  if (LibraryFolderMissing(app)) return;
  // Without it every destination would be taken relative to the current drive.
  const std::string system_folder = GetSystemFolder(app);
  if (system_folder.empty())
    throw CommandError("无法取得系统目录, 未复制任何运行时包: " + app.fs.LastError());
  app.view.ShowLogPage();
  app.Log(kLogOpen);
  app.Log("复制运行时包到System32目录");
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
  app.Apply(StateEvent::CopyEnded);
  app.Log(" ");
  app.Log(kLogDone);
}

}  // namespace kestrin
