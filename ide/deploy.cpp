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
  auto out = fs.CreateWrite(destination);
  if (!out) return fs.LastError();
  char buf[65536];
  for (;;) {
    long long n = in->Read(buf, sizeof buf);
    if (n < 0) return fs.LastError();
    if (n == 0) break;
    if (!out->Write(std::string_view(buf, static_cast<std::size_t>(n)))) return fs.LastError();
  }
  in->Close();
  if (!out->Close()) return fs.LastError();
  return std::nullopt;
}

void Button10Click(App& app) {
  ToolContext& c = app.ctx;
  if (LibraryFolderMissing(app)) return;
  app.view.ShowLogPage();
  app.Log(kLogOpen);
  app.Log("复制运行时包到System32目录");
  FileIndex packages;
  packages.Build(app.fs, OutputFolder(app), ".bpl", [&app] { app.view.PumpMessages(); });
  for (const std::string& row : app.lists.runtime) {
    c.CurrentPackage = Trim(row);
    // A package whose file is not there is skipped: copying the previous
    // hit again would report a package that was never deployed.
    if (!packages.Find(c, c.CurrentPackage + c.IdeShortSuffix + ".BPL")) continue;
    const std::string destination = GetSystemFolder(app) + "\\" + c.FoundFileName;
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
