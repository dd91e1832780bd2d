// The compile command and its stop button.
#include "build/compile.h"

#include <optional>

#include "app/app.h"
#include "app/controls.h"
#include "build/console_runner.h"
#include "build/file_search.h"
#include "ide/user_environment.h"
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

void LogWalkFailures(App& app, const FileIndex& index) {
  for (const WalkFailure& f : index.failures())
    app.Log("无法读取文件夹 " + f.folder + ": " + f.reason);
}

static void ShowRunningLook(App& app, bool running) {
  app.view.SetVisible(ctl::kBtnCompile, !running);
  app.view.SetVisible(ctl::kBtnStop, running);
  app.view.SetGroupBox2Height(running ? 200 : 233);
  app.view.SetVisible(ctl::kGauge1, running);
}

// The files a compile of `file` (a .dpk name) writes into the output folder
// that tell a built package: its .bpl and its .dcp.
static std::array<std::string, 2> PackageOutputs(App& app, const std::string& file) {
  const std::string stem = OutputFolder(app) + "\\" + file.substr(0, file.size() - 4);
  return {stem + ".bpl", stem + ".dcp"};
}

// After the compiler was ended part-way: the package files it wrote since
// it started may be cut short, and a truncated .bpl must not pass the
// verification. Files it did not touch stay.
static void RemoveCutShortOutputs(App& app, const std::array<std::string, 2>& paths,
                                  const std::array<std::optional<FileInfo>, 2>& before) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    FileInfo now;
    if (!app.fs.Inspect(paths[i], &now)) continue;
    if (before[i] && before[i]->modified == now.modified && before[i]->size == now.size) continue;
    if (app.fs.RemoveFile(paths[i]))
      app.Log("编译器被中止, 已删除可能不完整的文件: " + paths[i]);
    else
      app.Log("编译器被中止, 无法删除可能不完整的文件: " + paths[i] + ": " + app.fs.LastError());
  }
}

static void CompileRun(App& app);

void BtnCompileClick(App& app) {
  if (LibraryFolderMissing(app) || !ConfirmIdeClosed(app)) return;
  app.ctx.StopRequested = false;
  ShowRunningLook(app, true);
  try {
    CompileRun(app);
  } catch (...) {
    // An error part-way leaves the window as after a stop; the error itself
    // is shown by the caller.
    app.view.SetCaption(kAppTitle);
    app.Apply(StateEvent::CompileEnded);
    ShowRunningLook(app, false);
    throw;
  }
}

static void CompileRun(App& app) {
  ToolContext& c = app.ctx;
  View& v = app.view;

  const std::string library = c.LibraryRoot + "Library";
  if (!app.fs.DirExists(library)) app.fs.MakeDir(library);
  const std::string out = OutputFolder(app);
  if (!app.fs.DirExists(out)) app.fs.MakeDir(out);
  c.BplOutputDir = app.fs.ShortPath(out);
  c.DcpOutputDir = app.fs.ShortPath(out);
  c.DcuOutputDir = app.fs.ShortPath(out);

  // Each path goes on the command line in its short form; where a volume
  // has no short names, a path with a blank is quoted instead.
  const std::string bpl = QuoteIfBlank(c.BplOutputDir), dcp = QuoteIfBlank(c.DcpOutputDir),
                    dcu = QuoteIfBlank(c.DcuOutputDir);
  c.SourceSearchPath = bpl;
  c.SourceSearchPath += ";";
  c.SourceSearchPath += dcp;
  c.SourceSearchPath += ";";
  c.SourceSearchPath += dcu;
  for (std::string_view folder : kProductSourceFolders) {
    c.SourceSearchPath += ";";
    c.SourceSearchPath += CommandLinePath(app.fs, c.LibraryRoot + std::string(folder) + "\\Sources");
    v.PumpMessages();  // short names can be slow to come by; the window keeps answering
  }

  const std::string bin = app.fs.ShortPath(c.IdeBinDir);
  c.CompilerCommandPrefix = QuoteIfBlank(bin + "\\dcc32.exe") + " -LE" + bpl + " -U" +
                            c.SourceSearchPath + " -R" + c.SourceSearchPath + " -N" + dcu +
                            " -Q -H -W -$D- -$L- -$Y- -LN" + dcp + " -M ";

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
  LogWalkFailures(app, projects);

  for (int i = 0; i < count; ++i) {
    if (!v.IsTicked(i)) continue;
    c.CurrentPackage = Trim(v.BuildItem(i));
    const std::string file = c.CurrentPackage + c.IdeShortSuffix + ".dpk";
    projects.Find(c, file);
    app.Log("编译：" + file);
    const std::string line = c.CompilerCommandPrefix + " " +
                             QuoteIfBlank(app.fs.ShortPath(FolderPart(c.FoundFilePath)) + file);
    const auto outputs = PackageOutputs(app, file);
    std::array<std::optional<FileInfo>, 2> before;
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      FileInfo info;
      if (app.fs.Inspect(outputs[k], &info)) before[k] = info;
    }
    bool aborted = false;
    app.Log(ConsoleRunner(app.processes, line, pump, [&app] { return app.ShouldAbortChild(); },
                          &aborted));
    if (aborted) RemoveCutShortOutputs(app, outputs, before);
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
