#include "build/compile.h"

#include <array>
#include <optional>
#include <string>

#include "build/console_runner.h"
#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {
namespace {

// The files a compile of a package writes into the output folder that tell
// a built package: its .bpl and its .dcp.
std::array<std::string, 2> PackageOutputs(const Session& s, const std::string& package) {
  const std::string out = OutputFolder(s.ctx);
  return {PackageFile(out, package, s.ctx.ideShortSuffix, ".bpl"),
          PackageFile(out, package, s.ctx.ideShortSuffix, ".dcp")};
}

// After the compiler was ended part-way: the package files it wrote since
// it started may be cut short, and a truncated .bpl must not pass the
// verification. Files it did not touch stay.
void RemoveCutShortOutputs(Session& s, const std::array<std::string, 2>& paths,
                           const std::array<std::optional<FileInfo>, 2>& before) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    FileInfo now;
    if (!s.fs.Inspect(paths[i], &now)) continue;
    if (before[i] && before[i]->modified == now.modified && before[i]->size == now.size) continue;
    if (s.fs.RemoveFile(paths[i]))
      s.Log("编译器被中止, 已删除可能不完整的文件: " + paths[i]);
    else
      s.Log("编译器被中止, 无法删除可能不完整的文件: " + paths[i] + ": " + s.fs.LastError());
  }
}

// The compiler's command line up to the package file: the output folder
// for packages, units and symbol files, and the source search path (the
// output folder three times, then every product's Sources) for units and
// resources. Each path goes on it in its short form; where a volume has no
// short names, a path with a blank is quoted instead.
std::string CompilerCommandPrefix(Session& s, const std::string& out) {
  const std::string out_arg = CommandLinePath(s.fs, out);
  std::string search_path = out_arg + ";" + out_arg + ";" + out_arg;
  for (std::string_view product : kProductSourceFolders) {
    search_path += ";";
    search_path += CommandLinePath(s.fs, ProductSourceFolder(s.ctx, product));
    s.Pump();  // short names can be slow to come by; the window keeps answering
  }
  const std::string bin = s.fs.ShortPath(s.ctx.ideBinDir);
  return QuoteIfBlank(bin + "\\dcc32.exe") + " -LE" + out_arg + " -U" + search_path + " -R" +
         search_path + " -N" + out_arg + " -Q -H -W -$D- -$L- -$Y- -LN" + out_arg + " -M ";
}

void CompileTicked(Session& s) {
  ToolContext& c = s.ctx;
  View& v = s.view;

  const std::string library = c.libraryRoot + "Library";
  if (!s.fs.DirExists(library)) s.fs.MakeDir(library);
  const std::string out = OutputFolder(c);
  if (!s.fs.DirExists(out)) s.fs.MakeDir(out);
  const std::string prefix = CompilerCommandPrefix(s, out);

  v.ShowLogPage();
  s.Log(kLogOpen);
  s.Log("编译组件...");
  const int count = v.BuildCount();
  v.SetGauge(0, count - 1);

  // One walk of the library finds every package project; each look-up gives
  // the hit a full search of the tree would give.
  FileIndex projects;
  auto pump = [&s] { s.Pump(); };
  projects.Build(s.fs, c.libraryRoot, ".dpk", pump);
  s.LogWalkFailures(projects);

  // A project that is nowhere in the tree is handed to the compiler in the
  // folder of the previous package's project, and the compiler says so.
  std::string project_folder;
  for (int i = 0; i < count; ++i) {
    if (!v.IsTicked(i)) continue;
    const std::string package = Trim(v.BuildItem(i));
    const std::string file = PackageFileName(package, c.ideShortSuffix, ".dpk");
    if (const FoundFile* project = projects.Find(file)) project_folder = FolderPart(project->path);
    s.Log("编译：" + file);
    const std::string line = prefix + " " + QuoteIfBlank(s.fs.ShortPath(project_folder) + file);
    const auto outputs = PackageOutputs(s, package);
    std::array<std::optional<FileInfo>, 2> before;
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      FileInfo info;
      if (s.fs.Inspect(outputs[k], &info)) before[k] = info;
    }
    bool aborted = false;
    s.Log(ConsoleRunner(s.processes, line, pump,
                        [&s] { return s.endCompilerNow && s.endCompilerNow(); }, &aborted));
    if (aborted) RemoveCutShortOutputs(s, outputs, before);
    s.Pump();
    v.SetCaption("Kestrin - 正在编译 " + file);
    s.TrimWorkingSetAndPump();
    v.SetGauge(i, count - 1);
    if (c.stopRequested) break;
  }
}

}  // namespace

StateEvent Compile(Session& s) {
  if (!RequireLibraryFolder(s) || !ConfirmIdeClosed(s)) return StateEvent::None;
  s.ctx.stopRequested = false;
  s.view.SetRunningLook(true);
  try {
    CompileTicked(s);
  } catch (...) {
    // An error part-way leaves the window as after a stop; the error itself
    // is shown by the caller.
    s.view.SetCaption(kAppTitle);
    s.view.SetRunningLook(false);
    throw;
  }
  s.view.SetCaption(kAppTitle);
  s.view.SetRunningLook(false);
  s.LogDone();
  return StateEvent::CompileEnded;
}

void StopCompile(Session& s) {
  s.view.SetRunningLook(false);
  s.ctx.stopRequested = true;
  s.Log(" ");
  s.Log("=====================编译中止=====================");
}

}  // namespace kestrin
