#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/controls.h"
#include "compile/build_check.h"
#include "compile/compile.h"
#include "compile/compiler_messages.h"
#include "compile/package_requires.h"
#include "targets/library_folder.h"
#include "tests/log_compare.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.rfind(prefix, 0) == 0;
  }));
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t p = s.find(sep, start);
    out.push_back(s.substr(start, p - start));
    if (p == std::string::npos) return out;
    start = p + 1;
  }
}

struct CompileCommand : ::testing::Test {
  TempDir dir;
  TestApp t;
};

TEST_F(CompileCommand, FullRunBuildsEveryPackageIntoTheOutputFolder) {
  t.SetUpLibrary(dir, 1, {"D7"});
  t.Click(ctl::kSelectAllButton);
  t.Click(ctl::kCompileButton);
  auto lines = t.LogLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "=================================================");
  EXPECT_EQ(lines[1], "编译组件...");
  EXPECT_EQ(lines[2], "编译：dxThemeD7.dpk");
  EXPECT_EQ(lines[lines.size() - 2], " ");
  EXPECT_EQ(lines.back(), "========================完成======================");
  EXPECT_EQ(Count(lines, "编译："), 171);
  EXPECT_EQ(Count(lines, "Kestrin stand-in package compiler"), 171);
  EXPECT_EQ(Count(lines, "没有输出!"), 0);
  for (const auto& l : lines) EXPECT_EQ(l.find("fatal"), std::string::npos) << l;
  const auto out = dir.Path() / "lib" / "Library" / "Delphi7";
  EXPECT_TRUE(std::filesystem::exists(out / "dxCoreD7.bpl"));
  EXPECT_TRUE(std::filesystem::exists(out / "dxCoreD7.dcp"));
  EXPECT_TRUE(std::filesystem::exists(out / "dxCoreMain.dcu"));
  EXPECT_TRUE(std::filesystem::exists(out / "dxPSCxTLLnkD7.bpl"));  // spelt so in its project
  EXPECT_EQ(t.view.caption, "Kestrin");
  EXPECT_EQ(t.view.gaugeMax, 170);
  EXPECT_EQ(t.view.gaugePos, 170);
  EXPECT_FALSE(t.view.running);
}

// The compiler's command line, as the child gets it: the output folder for
// packages, units and symbol files, and the source search path (the output
// folder three times, then the 35 products' Sources, a missing one as it is)
// after -U and -R.
TEST_F(CompileCommand, CommandLineIsBuiltPieceByPiece) {
  t.SetUpLibrary(dir, 1, {"D7"});
  std::filesystem::remove_all(dir.Path() / "lib" / "ExpressWeb Framework");
  t.view.SetTicked(2, true);  // dxCore, whose required packages an earlier run built
  for (const char* dcp : {"dxThemeD7.dcp", "dxGDIPlusD7.dcp"}) dir.Write("lib/Library/Delphi7/" + std::string(dcp), "");
  t.Click(ctl::kCompileButton);
  ASSERT_EQ(t.processes.lines.size(), 1u);
  const std::string out = t.fs.ShortPath(dir.Root() + "lib\\Library\\Delphi7");
  ASSERT_FALSE(out.empty());
  std::string search = out + ";" + out + ";" + out;
  for (std::string_view product : kProductSourceFolders)
    search += ";" + CommandLinePath(t.fs, dir.Root() + "lib\\" + std::string(product) + "\\Sources");
  auto entries = Split(search, ';');
  ASSERT_EQ(entries.size(), 38u);
  // No short names on this file system: paths with blanks are quoted, one by one.
  EXPECT_EQ(entries[3], "\"" + t.fs.ShortPath(dir.Root() + "lib\\ExpressBars 6\\Sources") + "\"");
  EXPECT_EQ(entries[6], t.fs.ShortPath(dir.Root() + "lib\\ExpressDataController\\Sources"));
  // A product folder that is not there has no short form: it keeps its place.
  EXPECT_EQ(entries[35], "\"" + dir.Root() + "lib\\ExpressWeb Framework\\Sources\"");
  const std::string folder = t.fs.ShortPath(dir.Root() + "lib\\ExpressCore Library\\Sources\\");
  EXPECT_EQ(t.processes.lines[0],
            t.fs.ShortPath(dir.Root() + "ide\\bin") + "\\dcc32.exe -LE" + out + " -U" + search +
                " -R" + search + " -N" + out + " -Q -H -W -$D- -$L- -$Y- -LN" + out + " -M  \"" +
                folder + "dxCoreD7.dpk\"");
  // The quoted pieces reached the compiler whole: it read the project.
  EXPECT_EQ(Count(t.LogLines(), "stand-in: fatal: cannot open package project"), 0);
  EXPECT_EQ(Count(t.LogLines(), "Kestrin stand-in package compiler"), 1);
}

TEST_F(CompileCommand, NothingTickedStillFramesTheLogAndMakesTheOutputFolder) {
  t.SetUpLibrary(dir, 1, {"D7"});
  t.Click(ctl::kCompileButton);
  EXPECT_TRUE(t.processes.lines.empty());
  auto lines = t.LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2].rfind("编译结果: 共 0 个包, 成功 0 个, 失败 0 个, 未编译 0 个; 用时 0 分 ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[4], "========================完成======================");
  EXPECT_EQ(t.view.caption, "Kestrin");
  EXPECT_EQ(t.view.gaugeMax, 170);
  EXPECT_TRUE(t.fs.DirExists(dir.Root() + "lib\\Library\\Delphi7"));
}

// Never a compiler named by a relative path or one that is not there: a
// message, and nothing starts.
TEST_F(CompileCommand, AMissingCompilerStartsNothing) {
  t.SetUpLibrary(dir, 1, {"D7"});
  t.view.SetTicked(0, true);
  std::filesystem::remove(dir.Path() / "ide" / "bin" / "dcc32.exe");
  t.Click(ctl::kCompileButton);
  Target relative = t.target();
  relative.compilerFolder = "bin";  // an empty RootDir
  Compile(t.session(), {.target = relative, .packages = t.app.packages()});
  ASSERT_EQ(t.view.messages.size(), 2u);
  EXPECT_EQ(t.view.messages[0].text, "找不到编译器: " + dir.Root() + "ide\\bin\\dcc32.exe");
  EXPECT_EQ(t.view.messages[1].text, "找不到编译器: bin\\dcc32.exe");
  EXPECT_TRUE(t.processes.lines.empty());
  EXPECT_TRUE(t.view.log.empty());
  EXPECT_FALSE(t.view.running);
}

TEST_F(CompileCommand, GaugeFollowsTheTickedItems) {
  t.SetUpLibrary(dir, 1, {"D7"});
  std::vector<std::string> ten;
  for (int i = 0; i < 10; ++i) ten.push_back("pkg" + std::to_string(i));
  t.app.LoadPackages(ten);
  t.view.SetTicked(3, true);
  t.view.SetTicked(7, true);
  t.Click(ctl::kCompileButton);
  EXPECT_EQ(t.view.gaugeMax, 9);
  EXPECT_EQ(t.view.gaugePos, 7);
  EXPECT_EQ(t.processes.lines.size(), 2u);
  // No project anywhere: no folder part, the compiler says what is missing.
  auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "编译：pkg3D7.dpk"), 1);
  EXPECT_EQ(Count(lines, "Fatal: File not found: 'pkg3D7.dpk'"), 1);
}

TEST_F(CompileCommand, StopDuringTheSecondOfFivePackages) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 5; ++i) t.view.SetTicked(i, true);
  bool stopped = false;
  t.view.onEvents = [&] {
    if (!stopped && Count(t.view.Lines(), "编译：") == 2) {
      stopped = true;
      t.app.OnCommand(ctl::kStopButton);
      // Back to the idle look at once, while the package is still compiling.
      EXPECT_FALSE(t.view.running);
      EXPECT_FALSE(t.view.enabled[ctl::kCompileButton]);  // no second run in the meantime
    }
  };
  t.EnableCommand(CommandId::Copy);
  t.EnableCommand(CommandId::Install);
  setenv("KESTRIN_DCC_SLEEP_MS", "300", 1);  // the stop comes while the second compiles
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_SLEEP_MS");
  ASSERT_TRUE(stopped);
  auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "编译："), 2);
  EXPECT_EQ(Count(lines, "Kestrin stand-in package compiler"), 2);  // the second still finished
  EXPECT_EQ(Count(lines, "=====================编译中止====================="), 1);
  EXPECT_EQ(lines.back(), "========================完成======================");
  EXPECT_EQ(lines[lines.size() - 2], " ");
  EXPECT_FALSE(t.view.enabled[ctl::kCopyButton]);
  EXPECT_FALSE(t.view.enabled[ctl::kInstallButton]);
  EXPECT_TRUE(t.view.enabled[ctl::kCompileButton]);
  EXPECT_EQ(t.view.statuses[4], "未编译");
  // The next run starts afresh.
  t.view.onEvents = nullptr;
  t.Click(ctl::kCompileButton);
  EXPECT_EQ(Count(t.LogLines(), "编译："), 2 + 5);
}

// Before any compiler starts: a package whose required package is nowhere
// (no earlier ticked package, no .dcp where the compiler looks) is named
// with the folders looked in, never started, and neither is a ticked package
// that needs it; the others compile. Verify gives the same reason.
TEST_F(CompileCommand, PackagesThatCannotBeBuiltAreNamedAndNeverStarted) {
  t.SetUpLibrary(dir, 1, {"D7"});
  const std::string src = "lib/ExpressBars 6/Sources/";
  dir.Write(src + "AD7.dpk", "package AD7;\r\nrequires rtl, NoSuchD7;\r\ncontains A1;\r\nend.\r\n");
  dir.Write(src + "BD7.dpk", "package BD7;\r\nrequires rtl, AD7;\r\ncontains B1;\r\nend.\r\n");
  dir.Write(src + "CD7.dpk", "package CD7;\r\nrequires rtl, vcl;\r\ncontains C1;\r\nend.\r\n");
  dir.Write(src + "DD7.dpk", "package DD7;\r\ncontains D1;\r\nend.\r\n");
  t.app.LoadPackages({"A", "B", "C", "D"});
  t.Click(ctl::kSelectAllButton);
  t.Click(ctl::kCompileButton);
  ASSERT_EQ(t.processes.lines.size(), 2u);  // C and D
  const auto lines = t.LogLines();
  const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
  const auto first_block = at("编译：CD7.dpk");
  EXPECT_LT(at("无法编译 AD7.dpk: 找不到它需要的 NoSuchD7.dcp"), first_block);
  EXPECT_EQ(lines[at("无法编译 AD7.dpk: 找不到它需要的 NoSuchD7.dcp") + 2], "    也无法编译: BD7.dpk");
  EXPECT_NE(lines[at("    也无法编译: BD7.dpk") - 1].find(dir.Root() + "ide\\lib"), std::string::npos);
  EXPECT_LT(at("未检查 DD7.dpk 需要的包: 工程文件中没有 requires 子句"), first_block);
  EXPECT_EQ(Count(lines, "编译结果: 共 4 个包, 成功 2 个, 失败 0 个, 未编译 2 个; "), 1);
  EXPECT_EQ(Count(lines, "未编译: AD7.dpk — 需要 NoSuchD7.dcp"), 1);
  EXPECT_EQ(Count(lines, "未编译: BD7.dpk — 需要 NoSuchD7.dcp"), 1);
  EXPECT_EQ(t.view.statuses[1], "跳过: 缺少 NoSuchD7.dcp");
  t.view.log.clear();
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.LogLines()[3], "    原因: 需要 NoSuchD7.dcp");
}

// The compiler's own dcc32.cfg names folders it searches: a .dcp there is
// found. The file's switches are read as a real one writes them.
TEST_F(CompileCommand, TheCompilersConfigurationFoldersCount) {
  EXPECT_EQ(ConfigUnitFolders("-aWinTypes=Windows;DbiProcs=BDE\r\n-u\"C:\\D7\\lib\";\"C:\\D7\\lib\\Obj\"\r\n"
                              "-U$(DELPHI)\\Imports;D:\\x y;$(bds)\\x$(Bds)\r\n",
                              "C:\\D7"),
            (std::vector<std::string>{"C:\\D7\\lib", "C:\\D7\\lib\\Obj", "C:\\D7\\Imports", "D:\\x y",
                                      "C:\\D7\\xC:\\D7"}));
  t.SetUpLibrary(dir, 1, {"D7"});
  dir.Write("lib/ExpressBars 6/Sources/ED7.dpk", "package ED7;\r\nrequires rtl, Extra;\r\ncontains E1;\r\nend.\r\n");
  dir.Write("extra dcps/Extra.dcp", "");
  dir.Write("ide/bin/dcc32.cfg", "-aWinTypes=Windows\r\n-u\"" + dir.Root() + "nowhere\";\"" + dir.Root() + "extra dcps\"\r\n");
  t.app.LoadPackages({"E"});
  t.Click(ctl::kSelectAllButton);
  t.Click(ctl::kCompileButton);
  EXPECT_EQ(t.processes.lines.size(), 1u);
}

TEST_F(CompileCommand, EmptyLibraryFolderTouchesNothing) {
  t.RegisterIde(1, dir.Root() + "ide", dir);
  t.shell.folderAnswers = {std::nullopt, std::nullopt};
  t.Start();
  t.Choose(1);
  ASSERT_EQ(t.target().library, "");
  t.Click(ctl::kSelectAllButton);
  t.Click(ctl::kCompileButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "您选择的不是DEV的安装目录");
  EXPECT_FALSE(std::filesystem::exists("Library"));
  EXPECT_TRUE(t.processes.lines.empty());
  EXPECT_TRUE(t.view.log.empty());
}

TEST_F(CompileCommand, CompilerFaultsEndUpInTheLog) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 4; ++i) t.view.SetTicked(i, true);
  setenv("KESTRIN_DCC_CRASH", "dxGDIPlusD7", 1);
  setenv("KESTRIN_DCC_SILENT", "dxCoreD7", 1);
  setenv("KESTRIN_DCC_JUNK", "dxThemeD7", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_CRASH");
  unsetenv("KESTRIN_DCC_SILENT");
  unsetenv("KESTRIN_DCC_JUNK");
  auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "没有输出!"), 1);  // the silent one
  EXPECT_EQ(Count(lines, "编译："), 4);
  // Zero bytes and bad GBK do not cut the output short.
  EXPECT_EQ(Count(lines, "zero bytes follow:  ab \xEF\xBF\xBD  \xEF\xBF\xBD\xEF\xBF\xBD invalid GBK"), 1);
  const auto out = dir.Path() / "lib" / "Library" / "Delphi7";
  EXPECT_FALSE(std::filesystem::exists(out / "dxGDIPlusD7.bpl"));
  EXPECT_TRUE(std::filesystem::exists(out / "dxThemeD7.bpl"));
  // cxLibraryVCL requires dxGDIPlus, which wrote nothing: a fatal error.
  bool fatal = false;
  for (const auto& l : lines) fatal |= l.find("Fatal: Required package 'dxGDIPlusD7' not found") != std::string::npos;
  EXPECT_TRUE(fatal);
}

// The exit's grace period ends a compiler stuck mid-write: the package files
// it wrote are removed (verification then ticks the package), files of other
// packages stay, and nothing it started is left running.
TEST_F(CompileCommand, ACompilerEndedOnExitLeavesNoCutShortPackage) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  dir.Write("lib/Library/Delphi7/dxGDIPlusD7.bpl", "MZ from an earlier run");
  std::atomic<std::uint64_t> now{0};
  t.app.clockMs = [&] { return now.load(); };
  t.app.endProgram = [] {};
  setenv("KESTRIN_DCC_STALL", "dxGDIPlusD7", 1);
  // The stalled compiler tells nothing more: the exit is clicked from the
  // outside once its cut-short file is there, and the grace period is over
  // at once.
  std::thread exit_once_stalled([&] {
    for (int i = 0; i < 2000 && !dir.Exists("lib/Library/Delphi7/dxGDIPlusD7.dcp"); ++i) usleep(10000);
  });
  t.view.onEvents = [&] {
    if (t.app.exitRequested || Count(t.view.Lines(), "编译：dxGDIPlusD7.dpk") != 1) return;
    exit_once_stalled.join();
    t.app.OnCommand(ctl::kExitButton);
    now += kStopGraceMs + 1;
  };
  t.Click(ctl::kCompileButton);
  if (exit_once_stalled.joinable()) exit_once_stalled.join();
  unsetenv("KESTRIN_DCC_STALL");
  const std::string out = dir.Root() + "lib\\Library\\Delphi7\\";
  auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "编译器被中止, 已删除可能不完整的文件: " + out + "dxGDIPlusD7.bpl"), 1);
  EXPECT_EQ(Count(lines, "编译器被中止, 已删除可能不完整的文件: " + out + "dxGDIPlusD7.dcp"), 1);
  EXPECT_FALSE(dir.Exists("lib/Library/Delphi7/dxGDIPlusD7.bpl"));
  EXPECT_FALSE(dir.Exists("lib/Library/Delphi7/dxGDIPlusD7.dcp"));
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/dxThemeD7.bpl"));  // compiled before, kept
  EXPECT_EQ(Count(lines, "编译："), 2);                          // the third never started
  // The lingering child of the stand-in went with it (its process group).
  auto lingering = [] {
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
      std::ifstream f(e.path() / "cmdline");
      std::string cmd((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      if (cmd == std::string("dcc32\0--linger\0", 16)) return true;
    }
    return false;
  };
  for (int i = 0; i < 100 && lingering(); ++i) usleep(20000);
  EXPECT_FALSE(lingering());
}

// An error part-way through a run (here from starting the third compiler)
// restores the idle look and shows the error.
TEST_F(CompileCommand, AnErrorPartWayRestoresTheIdleLook) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  t.processes.onStart = [&](ChildProcess&) {
    if (t.processes.lines.size() == 3) throw std::runtime_error("window gone");
  };
  t.Click(ctl::kCompileButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "window gone");
  EXPECT_FALSE(t.view.running);
  EXPECT_EQ(t.view.caption, "Kestrin");
  EXPECT_TRUE(t.view.enabled[ctl::kCompileButton]);
  EXPECT_TRUE(t.view.enabled[ctl::kVerifyButton]);
  EXPECT_FALSE(t.view.enabled[ctl::kCopyButton]);
}

}  // namespace
}  // namespace kestrin

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

using test::Comparable;

// Side by side, each package waits for the packages it requires (the
// stand-in refuses a project whose required .dcp is missing, so a wrong
// order fails), and the log holds the same blocks in the same order.
TEST(ParallelCompile, LogsWhatOneAtATimeLogs) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.Click(ctl::kSelectAllButton);
  t.Click(ctl::kCompileButton);
  const auto one_at_a_time = t.LogLines();
  ASSERT_EQ(t.processes.mostAlive, 1);
  std::filesystem::remove_all(dir.Path() / "lib" / "Library");
  t.view.ClearLog();
  const CompileResult report = Compile(
      t.session(), {.target = t.target(), .packages = t.app.packages(), .parallel = true, .compilers = 4});
  const auto parallel = t.LogLines();
  EXPECT_EQ(parallel[2], "并行编译: 最多同时运行 4 个编译器");
  EXPECT_EQ(report.Count(PackageOutcome::Compiled), 171);
  EXPECT_GT(t.processes.mostAlive, 1);
  EXPECT_LE(t.processes.mostAlive, 4);
  EXPECT_EQ(Comparable(parallel), Comparable(one_at_a_time));
  EXPECT_EQ(Count(parallel, "编译结果: 共 171 个包, 成功 171 个, 失败 0 个, 未编译 0 个; 用时 "), 1);
}

// After the stop no compiler starts; those running finish and are logged,
// and the summary counts the rest as not started.
TEST(ParallelCompile, StopStartsNothingMore) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.Click(ctl::kSelectAllButton);
  // Starts that began once the stop was in force: the run starts one
  // compiler at a time, so at most the one it was starting as the stop came.
  std::atomic<bool> stopped{false};
  std::atomic<int> started_after_stop{0};
  t.processes.onStarting = [&] { started_after_stop += stopped.load(); };
  t.view.onEvents = [&] {
    if (!stopped && Count(t.view.Lines(), "编译：") >= 6) {
      t.app.OnCommand(ctl::kStopButton);
      stopped = true;
    }
  };
  t.view.checked[ctl::kParallelCheck] = true;
  t.Click(ctl::kCompileButton);
  ASSERT_TRUE(stopped);
  EXPECT_LE(started_after_stop, 1);
  auto lines = t.LogLines();
  const int started = static_cast<int>(t.processes.lines.size());
  EXPECT_LT(started, 171);
  EXPECT_EQ(Count(lines, "编译："), started);
  EXPECT_EQ(Count(lines, "Kestrin stand-in package compiler"), started);
  const std::string rest = std::to_string(171 - started);
  EXPECT_EQ(Count(lines, "编译结果: 共 171 个包, 成功 " + std::to_string(started) + " 个, 失败 0 个, 未编译 " +
                             rest + " 个; 用时 "), 1);
  EXPECT_EQ(Count(lines, "编译已中止: " + rest + " 个包没有开始编译."), 1);
  EXPECT_EQ(lines.back(), "========================完成======================");
}

// The summary names every package that did not compile and why, and the
// verification gives the same reason under the package it reports.
TEST(CompileSummary, NamesWhyEachPackageFailed) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.app.LoadPackages({"dxTheme", "dxGDIPlus", "dxCore", "nowhere"});
  t.Click(ctl::kSelectAllButton);
  setenv("KESTRIN_DCC_FAIL", "dxGDIPlusD7", 1);
  setenv("KESTRIN_DCC_CRASH", "dxCoreD7", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_FAIL");
  unsetenv("KESTRIN_DCC_CRASH");
  auto lines = t.LogLines();
  const std::string error = "dxGDIPlusReg.pas(7) Error: Undeclared identifier: 'KestrinFailure'";
  const std::string crash = "编译器退出码 " + std::to_string(128 + SIGABRT) + ", 没有报告错误";
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end() - 2),
            (std::vector<std::string>{lines[lines.size() - 6], "失败: dxGDIPlusD7.dpk — " + error,
                                      "失败: dxCoreD7.dpk — " + crash, "失败: nowhereD7.dpk — 库目录中找不到这个包工程"}));
  EXPECT_EQ(lines[lines.size() - 6].rfind("编译结果: 共 4 个包, 成功 1 个, 失败 3 个, 未编译 0 个; 用时 ", 0), 0u);

  t.view.ClearLog();
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.LogLines(), (std::vector<std::string>{
                              "=================================================", "验证组件...",
                              "包:dxGDIPlusD7.dpk  未编译.", "    原因: " + error,
                              "包:dxCoreD7.dpk  未编译.", "    原因: " + crash,
                              "包:nowhereD7.dpk  未编译.", "    原因: 库目录中找不到这个包工程", " ",
                              "========================完成======================"}));
}

// A compiler that is there but cannot be started: the log says why, and the
// package counts as failed with that reason.
TEST(CompileSummary, ACompilerThatCannotStart) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  std::filesystem::permissions(dir.Path() / "ide" / "bin" / "dcc32.exe", std::filesystem::perms::owner_read);
  t.view.SetTicked(0, true);
  t.Click(ctl::kCompileButton);
  const std::string why = "无法启动编译器 " + dir.Root() + "ide\\bin\\dcc32.exe: Permission denied";
  auto lines = t.LogLines();
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[3], why);
  EXPECT_EQ(lines[4].rfind("编译结果: 共 1 个包, 成功 0 个, 失败 1 个, 未编译 0 个; ", 0), 0u);
  EXPECT_EQ(lines[5], "失败: dxThemeD7.dpk — " + why);
}

TEST(CompilerMessages, FirstErrorInEveryFormAndCounts) {
  const std::string output =
      "Kestrin stand-in package compiler 1.0\r\n"
      "C:\\Program Files (x86)\\Lib\\A.pas(12) Hint: H2164 Variable 'I' is declared but never used\r\n"
      "A.pas(40) Warning: Return value of function 'Count' might be undefined\n"
      "[Warning] B.pas(3): W1000 Symbol 'X' is deprecated\n"
      "Error messages follow: none of this line counts\n"
      "C:\\Program Files (x86)\\Lib\\A.pas(12) Error: E2003 Undeclared identifier: 'X'\n"
      "Pkg.dpk(3) Fatal: Required package 'Y' not found\n";
  const CompilerMessages m = ScanCompilerOutput(output);
  EXPECT_EQ(m.firstError, "C:\\Program Files (x86)\\Lib\\A.pas(12) Error: E2003 Undeclared identifier: 'X'");
  EXPECT_EQ(m.warnings, 2);
  EXPECT_EQ(m.hints, 1);
  for (const char* line : {"Unit.pas(12) Error: Undeclared identifier: 'X'", "Unit.pas(12,5) Error: E2003 X",
                           "Pkg.dpk(3) Fatal: Required package 'Y' not found", "Fatal: F1026 File not found: 'Pkg.dpk'",
                           "[Error] Unit.pas(12): E2003 Undeclared identifier", "[Fatal Error] Pkg.dpk(3): F1026 x",
                           "  [DCC Error] Unit.pas(1): E2003 x"})
    EXPECT_EQ(CompilerMessageKind(line), MessageKind::Error) << line;
  for (const char* line : {"", "3 lines, 0.01 seconds, 2 units.", "Unit.pas(12) Errors: 1", "Pkg(x) Fatal: no",
                           "See Error: below", "[Errors] 2"})
    EXPECT_EQ(CompilerMessageKind(line), MessageKind::None) << line;
}

TEST(PackageRequires, ReadAsTheCompilerReadsThem) {
  EXPECT_EQ(ReadRequiredPackages("package P;\r\n{$R *.res}\r\nrequires\r\n  rtl, // runtime\r\n"
                                 "  {$IFDEF VER150} vclx, {$ELSE} vcl, {$ENDIF}\r\n  (* core *) DXCORED7,\r\n"
                                 "  { skins: } dxSkinsCoreD7;\r\ncontains A in 'A.pas';\r\nend."),
            (std::vector<std::string>{"rtl", "vclx", "vcl", "DXCORED7", "dxSkinsCoreD7"}));
  EXPECT_EQ(ReadRequiredPackages("package P; contains A in 'requires.pas'; end."), std::vector<std::string>{});
  EXPECT_EQ(ReadRequiredPackages("package P; requires rtl, vcl"), std::nullopt);  // never ends
  EXPECT_EQ(ReadRequiredPackages("{ package } unit U; requires rtl;"), std::nullopt);
  EXPECT_EQ(ReadRequiredPackages("package P; { requires rtl; unclosed"), std::vector<std::string>{});
}

TEST(PackageRequires, ReadAsSavedByTheIde) {
  using Names = std::vector<std::string>;
  const std::string project = "package P;\r\nrequires rtl, DXCORED7;\r\nend.";
  EXPECT_EQ(ReadRequiredPackages("\xEF\xBB\xBF" + project), (Names{"rtl", "DXCORED7"}));
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char c : project) {
    le += {c, '\0'};
    be += {'\0', c};
  }
  EXPECT_EQ(ReadRequiredPackages(le), (Names{"rtl", "DXCORED7"}));
  EXPECT_EQ(ReadRequiredPackages(be), (Names{"rtl", "DXCORED7"}));
  // A name in Chinese, and an odd byte at the end.
  const char chinese[] = "\xFF\xFEp\0a\0c\0k\0a\0g\0e\0 \0P\0;\0r\0e\0q\0u\0i\0r\0e\0s\0 \0\x2D\x4E;\0!";
  EXPECT_EQ(ReadRequiredPackages(std::string(chinese, sizeof chinese - 1)), Names{"\xE4\xB8\xAD"});

  // A ';' inside a branch ends only the branch.
  EXPECT_EQ(ReadRequiredPackages("package P; requires SynEdit_R5, {$IFDEF VER130} dsnide50; {$ELSE} designide, "
                                 "vclx; {$ENDIF}\r\ncontains A in 'A.pas'; end."),
            (Names{"SynEdit_R5", "dsnide50", "designide", "vclx"}));
  EXPECT_EQ(ReadRequiredPackages("package P; requires a, (*$IFNDEF X*) b; {$ELSEIF Y} c; {$ELSE} d, {$IFEND} e;"),
            (Names{"a", "b", "c", "d", "e"}));
  // A whole clause in each branch: every branch's names, each once.
  EXPECT_EQ(ReadRequiredPackages("package P;\r\n{$IFDEF VER130} requires A, B; {$ELSE} requires a, C; {$ENDIF}\r\n"
                                 "contains U in 'U.pas'; end."),
            (Names{"A", "B", "C"}));
  EXPECT_EQ(ReadRequiredPackages("package P; {$IFDEF X} requires A, B {$ELSE} requires A, C {$ENDIF};"),
            (Names{"A", "B", "C"}));
  EXPECT_EQ(ReadRequiredPackages("package P; {$IFDEF X} requires A; {$ELSE} requires B C; {$ENDIF}"), std::nullopt);
  EXPECT_EQ(ReadRequiredPackages("package P; requires Vcl . Imaging, Vcl{x}.Jpeg(* *).Ex, rtl;"),
            (Names{"Vcl.Imaging", "Vcl.Jpeg.Ex", "rtl"}));
  // Without the final ';' the compiler takes no clause.
  EXPECT_EQ(ReadRequiredPackages("package P; requires rtl, vcl\r\ncontains A in 'A.pas'; end."), std::nullopt);
  EXPECT_EQ(ReadRequiredPackages("package P; requires rtl, {$IFDEF X} vcl; {$ENDIF} a contains"), std::nullopt);
}

}  // namespace
}  // namespace kestrin

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

// dclcxLibraryVCL needs dxTheme through cxLibraryVCL, which is not ticked:
// it must not start before dxTheme has ended.
TEST(ParallelCompile, WaitsThroughUntickedPackages) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  // cxLibraryVCL is not even in the list: its project in the library counts.
  t.app.LoadPackages({"dxTheme", "dclcxLibraryVCL"});
  t.Click(ctl::kSelectAllButton);
  setenv("KESTRIN_DCC_SLEEP_MS", "300", 1);
  Compile(t.session(),
          {.target = t.target(), .packages = t.app.packages(), .parallel = true, .compilers = 4, .force = true});
  unsetenv("KESTRIN_DCC_SLEEP_MS");
  EXPECT_EQ(t.processes.lines.size(), 2u);
  EXPECT_EQ(t.processes.mostAlive, 1);
}

// A compiler that dies after writing part of its .bpl leaves nothing that
// verify would pass; an older .bpl of a package that failed does not pass
// either.
TEST(FailedCompile, LeavesNoPackageThatPassesVerify) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.app.LoadPackages({"dxTheme", "dxGDIPlus"});
  dir.Write("lib/Library/Delphi7/dxGDIPlusD7.bpl", "MZ from an older compile");
  t.Click(ctl::kSelectAllButton);
  setenv("KESTRIN_DCC_TORN", "dxThemeD7", 1);
  setenv("KESTRIN_DCC_FAIL", "dxGDIPlusD7", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_TORN");
  unsetenv("KESTRIN_DCC_FAIL");
  const std::string bpl = dir.Root() + "lib\\Library\\Delphi7\\dxThemeD7.bpl";
  EXPECT_EQ(Count(t.LogLines(), "已删除编译失败时写下的文件: " + bpl), 1);
  EXPECT_FALSE(dir.Exists("lib/Library/Delphi7/dxThemeD7.bpl"));
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/dxGDIPlusD7.bpl"));  // not written by this run
  t.view.ClearLog();
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{0, 1}));
  EXPECT_EQ(Count(t.LogLines(), "    原因: "), 2);
}

// Without its output folder every package would fail for no reason the
// compiler could give: nothing starts.
TEST(FailedCompile, AnOutputFolderThatCannotBeMadeStartsNothing) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.view.SetTicked(0, true);
  t.fs.InjectError(dir.Root() + "lib\\Library", EACCES);
  t.Click(ctl::kCompileButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text.rfind("无法创建输出目录 " + dir.Root() + "lib\\Library: ", 0), 0u);
  EXPECT_TRUE(t.processes.lines.empty());
  EXPECT_FALSE(t.view.running);
}

// The program is closing and ends the compiler, which has just ended by
// itself: its package stands compiled and keeps its files.
TEST(FailedCompile, ACompilerThatEndedJustBeforeTheEndKeepsItsPackage) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.view.SetTicked(0, true);
  std::atomic<std::uint64_t> now{0};
  t.app.clockMs = [&] { return now.load(); };
  t.processes.exitBeforeTerminate = true;
  bool asked = false;
  t.view.onEvents = [&] {
    if (asked || t.processes.Started() == 0) return;
    asked = true;
    t.app.OnCommand(ctl::kExitButton);
    now += kStopGraceMs + 1;
  };
  setenv("KESTRIN_DCC_SLEEP_MS", "300", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_SLEEP_MS");
  ASSERT_TRUE(asked);
  const auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "编译结果: 共 1 个包, 成功 1 个, 失败 0 个, 未编译 0 个; 用时 "), 1);
  EXPECT_EQ(Count(lines, "编译器被中止"), 0);
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/" + t.app.packages().row(0) + "D7.bpl"));
}

}  // namespace
}  // namespace kestrin
