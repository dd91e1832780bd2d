// Compile-run benchmark over the sample library's 171 Delphi-family packages
// on a generated tree of about 20,000 files, with a stand-in compile of fixed
// length:
//   - one at a time and in parallel with a sleeping stand-in: wall time
//     against the bound the dependency graph allows, and against each other;
//   - one at a time and in parallel with a stand-in that keeps a processor
//     busy, on this machine's processors;
//   - for every run, the tool's own processor time as a share of the run
//     and the longest stretch without a message pump.
//
//   kestrin_bench [--files N] [--compile-ms N] [--compilers P]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app/controls.h"
#include "compile/compile.h"
#include "platform/text.h"
#include "targets/library_folder.h"
#include "tests/harness.h"
#include "tools/mklib/samplelib.h"

using namespace kestrin;
using Clock = std::chrono::steady_clock;

namespace {

double ProcessorSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The longest path through the sample graph (in packages) and the most
// packages that can run side by side (the widest level when each package
// starts as soon as what it requires is done).
void GraphShape(int* depth, int* width) {
  std::map<std::string, int> level;
  std::map<int, int> per_level;
  for (const PackageRequires& p : SamplePackageGraph(IdeFamily::Delphi)) {
    int l = 1;
    for (const std::string& r : p.required) l = std::max(l, level[ToLowerAscii(r)] + 1);
    level[ToLowerAscii(p.package)] = l;
    ++per_level[l];
  }
  *depth = 0;
  *width = 0;
  for (const auto& [l, n] : per_level) {
    *depth = std::max(*depth, l);
    *width = std::max(*width, n);
  }
}

struct Run {
  double wall = 0, own = 0, longestGap = 0;
  int compiled = 0;
};

struct Options {
  bool parallel = false;
  int compilers = 0;
};

Run CompileAll(test::TestApp& t, const test::TempDir& dir, const Options& options) {
  std::filesystem::remove_all(dir.Path() / "lib" / "Library");
  t.app.OnCommand(ctl::kSelectAllButton);
  Run r;
  auto last = Clock::now();
  t.view.onPump = [&] {
    const auto now = Clock::now();
    r.longestGap = std::max(r.longestGap, std::chrono::duration<double>(now - last).count());
    last = now;
  };
  const double cpu = ProcessorSeconds();
  const auto start = Clock::now();
  last = start;
  const CompileResult report = Compile(t.session(), {.target = t.target(),
                                                     .packages = t.app.packages(),
                                                     .parallel = options.parallel,
                                                     .compilers = options.compilers});
  r.wall = std::chrono::duration<double>(Clock::now() - start).count();
  r.own = ProcessorSeconds() - cpu;
  r.compiled = report.Count(PackageOutcome::Compiled);
  t.view.onPump = nullptr;
  t.view.log.clear();
  return r;
}

void Print(const char* what, const Run& r) {
  std::printf("%-34s %7.2f s wall, %3d compiled, tool's own processor time %.3f s = %.2f%% (goal < 2%%), "
              "longest stretch without a pump %.1f ms (goal < 100 ms)\n",
              what, r.wall, r.compiled, r.own, 100.0 * r.own / r.wall, 1000.0 * r.longestGap);
}

}  // namespace

int main(int argc, char** argv) {
  int files = 19100, compile_ms = 200, compilers = 4;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--compile-ms")) compile_ms = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--compilers")) compilers = std::atoi(argv[i + 1]);
  }
  test::TempDir dir;
  test::TestApp t;
  SampleLibraryOptions o;
  o.root = dir.Root() + "lib";
  o.extraFiles = files;
  o.suffixes = {"D7"};
  SampleLibraryReport tree;
  std::string error;
  if (!GenerateSampleLibrary(t.fs, o, &tree, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::filesystem::create_directories(dir.Path() / "ide" / "bin");
  std::filesystem::copy_file(test::ToolsDir() + "/dcc32.exe", dir.Path() / "ide" / "bin" / "dcc32.exe");
  t.RegisterIde(1, dir.Root() + "ide", dir);
  t.shell.folderAnswers.push_back(std::nullopt);
  t.Start();
  t.app.SetLibraryFolder(dir.Root() + "lib\\");
  t.Choose(1);

  int depth = 0, width = 0;
  GraphShape(&depth, &width);
  const int packages = static_cast<int>(t.app.packages().size());
  std::printf("tree: %d files in %d folders; %d packages; graph: depth %d, widest level %d; "
              "compile length %d ms; %d processors usable\n",
              tree.files, tree.folders, packages, depth, width, compile_ms,
              t.processes.UsableProcessors());

  setenv("KESTRIN_DCC_SLEEP_MS", std::to_string(compile_ms).c_str(), 1);
  const Run one = CompileAll(t, dir, {});
  Print("sleeping, one at a time:", one);
  const Run par = CompileAll(t, dir, {.parallel = true, .compilers = compilers});
  const std::string label = "sleeping, parallel P = " + std::to_string(compilers) + ":";
  Print(label.c_str(), par);
  const double bound = std::max(depth * compile_ms, packages * compile_ms / compilers) / 1000.0;
  std::printf("  bound max(critical path %.2f s, work / P %.2f s) = %.2f s; wall / bound = %.3f (goal <= 1.15); "
              "parallel / one at a time = %.3f\n",
              depth * compile_ms / 1000.0, packages * compile_ms / 1000.0 / compilers, bound,
              par.wall / bound, par.wall / one.wall);

  unsetenv("KESTRIN_DCC_SLEEP_MS");
  setenv("KESTRIN_DCC_BUSY_MS", std::to_string(compile_ms).c_str(), 1);
  const Run busy_one = CompileAll(t, dir, {});
  Print("busy, one at a time:", busy_one);
  const Run busy_par = CompileAll(t, dir, {.parallel = true});
  Print("busy, parallel on every processor:", busy_par);
  std::printf("  parallel / one at a time = %.3f (goal <= 0.6 on 2 cores)\n", busy_par.wall / busy_one.wall);
  return 0;
}
