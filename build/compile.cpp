// The compile command and its stop button.
#include "build/compile.h"

#include "app/app.h"
#include "app/controls.h"
#include "build/console_runner.h"
#include "build/file_search.h"
#include "targets/library_folder.h"

namespace kestrin {

const std::array<std::string_view, 35> kProductSourceFolders = {
    "ExpressBars 6",          "ExpressCommon Library",    "ExpressCore Library",
    "ExpressDataController",  "ExpressDBTree Suite",      "ExpressDocking Library",
    "ExpressEditors Library 3", "ExpressEditors Library 5", "ExpressExport Library",
    "ExpressFlowChart",       "ExpressGDI+ Library",      "ExpressInspector",
    "ExpressLayout Control",  "ExpressLibrary",           "ExpressMasterView",
    "ExpressMemData",         "ExpressNavBar 2",          "ExpressOrgChart",
    "ExpressPageControl 2",   "ExpressPivotGrid 2",       "ExpressPrinting System",
    "ExpressQuantumGrid 3",   "ExpressQuantumGrid 6",     "ExpressQuantumTreeList 3",
    "ExpressQuantumTreeList 4", "ExpressScheduler 3",     "ExpressScript Engine",
    "ExpressSideBar",         "ExpressSkins Library",     "ExpressSpellChecker",
    "ExpressSpreadSheet",     "ExpressVerticalGrid",      "ExpressWeb Framework",
    "Innerfuse Pascal Script", "XP Theme Manager",
};

std::string OutputFolder(const App& app) {
  return app.ctx.LibraryRoot + "Library\\" + app.ctx.IdeLongSuffix;
}

bool LibraryFolderMissing(App& app) {
  if (!app.ctx.LibraryRoot.empty()) return false;
  ShowFolderNotice(app);
  return true;
}

static void ShowRunningLook(App& app, bool running) {
  app.view.SetVisible(ctl::kBtnCompile, !running);
  app.view.SetVisible(ctl::kBtnStop, running);
  app.view.SetGroupBox2Height(running ? 200 : 233);
  app.view.SetVisible(ctl::kGauge1, running);
}

void BtnCompileClick(App& app) {
  ToolContext& c = app.ctx;
  View& v = app.view;
  if (LibraryFolderMissing(app)) return;
  c.StopRequested = false;
  ShowRunningLook(app, true);

  const std::string library = c.LibraryRoot + "Library";
  if (!app.fs.DirExists(library)) app.fs.MakeDir(library);
  const std::string out = OutputFolder(app);
  if (!app.fs.DirExists(out)) app.fs.MakeDir(out);
  c.BplOutputDir = app.fs.ShortPath(out);
  c.DcpOutputDir = app.fs.ShortPath(out);
  c.DcuOutputDir = app.fs.ShortPath(out);

  c.SourceSearchPath = c.BplOutputDir + ";" + c.DcpOutputDir + ";" + c.DcuOutputDir;
  for (std::string_view folder : kProductSourceFolders) {
    c.SourceSearchPath += ";" + app.fs.ShortPath(c.LibraryRoot + std::string(folder) + "\\Sources");
    v.PumpMessages();  // short names can be slow to come by; the window keeps answering
  }

  c.CompilerCommandPrefix = app.fs.ShortPath(c.IdeBinDir) + "\\" + "dcc32.exe -LE" +
                            c.BplOutputDir + " -U" + c.SourceSearchPath + " -R" +
                            c.SourceSearchPath + " -N" + c.DcuOutputDir +
                            " -Q -H -W -$D- -$L- -$Y- -LN" + c.DcpOutputDir + " -M ";

  v.ShowLogPage();
  app.Log(kLogOpen);
  app.Log("编译组件...");
  const int count = v.BuildCount();
  v.SetGauge(0, count - 1);

  // One walk of the library finds every package project; each look-up gives
  // the hit a full search of the tree would give.
  FileIndex projects;
  auto pump = [&app] { app.view.PumpMessages(); };
  projects.Build(app.fs, c.LibraryRoot, ".dpk", pump);

  for (int i = 0; i < count; ++i) {
    if (!v.IsTicked(i)) continue;
    c.CurrentPackage = Trim(v.BuildItem(i));
    const std::string file = c.CurrentPackage + c.IdeShortSuffix + ".dpk";
    projects.Find(c, file);
    app.Log("编译：" + file);
    const std::string line =
        c.CompilerCommandPrefix + " " + app.fs.ShortPath(FolderPart(c.FoundFilePath)) + file;
    app.Log(ConsoleRunner(app.processes, line, pump, [&app] { return app.ShouldAbortChild(); }));
    v.PumpMessages();
    v.SetCaption("Kestrin - 正在编译 " + file);
    TrimWorkingSetAndPump(app);
    v.SetGauge(i, count - 1);
    if (c.StopRequested) break;
  }

  v.SetCaption(kAppTitle);
  app.Apply(StateEvent::CompileEnded);
  v.SetGroupBox2Height(233);
  v.SetVisible(ctl::kGauge1, false);
  app.Log(" ");
  app.Log(kLogDone);
  v.SetVisible(ctl::kBtnCompile, true);
  v.SetVisible(ctl::kBtnStop, false);
}

void BtnStopClick(App& app) {
  app.view.SetGroupBox2Height(233);
  app.view.SetVisible(ctl::kGauge1, false);
  app.ctx.StopRequested = true;
  app.view.SetVisible(ctl::kBtnCompile, true);
  app.view.SetVisible(ctl::kBtnStop, false);
  app.Log(" ");
  app.Log("=====================编译中止=====================");
}

}  // namespace kestrin
