// Compile-run benchmark: the tool's own time against the compiler's, and the
// longest stretch without a message pump, for all 171 Delphi-family packages
// on a generated tree of about 20,000 files with a stand-in compile of fixed
// length.
//
//   kestrin_bench [--files N] [--compile-ms N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/controls.h"
#include "targets/library_folder.h"
#include "tests/harness.h"
#include "tools/mklib/samplelib.h"

using namespace kestrin;
using Clock = std::chrono::steady_clock;

namespace {

// Measures how long each child takes, from its start to the moment its end is seen.
class TimingLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<ChildProcess> Start(std::string_view line) override {
    struct Timed : ChildProcess {
      std::unique_ptr<ChildProcess> inner;
      Clock::time_point start;
      double* total;
      bool counted = false;
      std::size_t ReadAvailable(std::string* out) override { return inner->ReadAvailable(out); }
      bool Wait(int ms) override {
        bool ended = inner->Wait(ms);
        if (ended && !counted) {
          counted = true;
          *total += std::chrono::duration<double>(Clock::now() - start).count();
        }
        return ended;
      }
      void Terminate() override { inner->Terminate(); }
    };
    auto t = std::make_unique<Timed>();
    t->start = Clock::now();
    t->inner = real.Start(line);
    t->total = &childSeconds;
    if (!t->inner) return nullptr;
    ++children;
    return t;
  }
  std::string LastError() override { return real.LastError(); }
  void TrimWorkingSet() override {}
  bool IsRunning(std::string_view) override { return false; }
  std::uint32_t CurrentProcessId() override { return real.CurrentProcessId(); }
  PosixProcessLauncher real;
  double childSeconds = 0;
  int children = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int files = 19100, compile_ms = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--compile-ms")) compile_ms = std::atoi(argv[i + 1]);
  }
  test::TempDir dir;
  MemoryRegistry registry;
  PosixFileSystem fs;
  TimingLauncher processes;
  test::FakeShell shell;
  test::FakeView view;
  App app(Platform{registry, fs, processes, shell}, view);

  SampleLibraryOptions o;
  o.root = dir.Root() + "lib";
  o.extraFiles = files;
  SampleLibraryReport report;
  std::string error;
  if (!GenerateSampleLibrary(fs, o, &report, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::filesystem::create_directories(dir.Path() / "ide" / "bin");
  std::filesystem::copy_file(test::ToolsDir() + "/dcc32.exe", dir.Path() / "ide" / "bin" / "dcc32.exe");
  dir.Write("ide/bin/ide.exe", "MZ");
  registry.Set("Software\\Borland\\Delphi\\7.0", "App", RegType::Sz, dir.Root() + "ide\\bin\\ide.exe");
  registry.Set("Software\\Borland\\Delphi\\7.0", "RootDir", RegType::Sz, dir.Root() + "ide");
  app.Start();
  SetLibraryFolder(app.session, dir.Root() + "lib\\");
  app.OnCommand(ctl::kDelphi7);
  app.OnCommand(ctl::kSelectAllButton);
  setenv("KESTRIN_DCC_SLEEP_MS", std::to_string(compile_ms).c_str(), 1);

  double longest_gap = 0;
  auto last = Clock::now();
  view.onPump = [&] {
    auto now = Clock::now();
    longest_gap = std::max(longest_gap, std::chrono::duration<double>(now - last).count());
    last = now;
  };
  const auto start = Clock::now();
  last = start;
  app.OnCommand(ctl::kCompileButton);
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  const double own = total - processes.childSeconds;
  std::printf("tree: %d files in %d folders; packages compiled: %d; compile length: %d ms\n",
              report.files, report.folders, processes.children, compile_ms);
  std::printf("run: %.3f s, compiler: %.3f s, tool's own: %.3f s = %.2f%% of the run (goal < 2%%)\n",
              total, processes.childSeconds, own, 100.0 * own / total);
  std::printf("tool's own time per package: %.2f ms\n", 1000.0 * own / processes.children);
  std::printf("longest stretch without a message pump: %.1f ms (goal < 100 ms)\n", 1000.0 * longest_gap);
  return 0;
}
