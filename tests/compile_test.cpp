#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/controls.h"
#include "build/compile.h"
#include "targets/library_folder.h"
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
  t.app.OnCommand(ctl::kSelectAllButton);
  t.app.OnCommand(ctl::kCompileButton);
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
  EXPECT_EQ(t.processes.trims, 171);
}

// The compiler's command line, as the child gets it: the output folder for
// packages, units and symbol files, and the source search path (the output
// folder three times, then the 35 products' Sources, missing ones empty)
// after -U and -R.
TEST_F(CompileCommand, CommandLineIsBuiltPieceByPiece) {
  t.SetUpLibrary(dir, 1, {"D7"});
  std::filesystem::remove_all(dir.Path() / "lib" / "ExpressWeb Framework");
  t.view.SetTicked(2, true);  // dxCore
  t.app.OnCommand(ctl::kCompileButton);
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
  EXPECT_EQ(entries[35], "");  // a product folder that is not there
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
  dir.Write("lib/XP Theme Manager/x", "");
  t.ctx().libraryRoot = dir.Root() + "lib\\";
  t.ctx().ideLongSuffix = "Delphi7";
  t.ctx().ideShortSuffix = "D7";
  Compile(t.session());
  EXPECT_TRUE(t.processes.lines.empty());
  auto lines = t.LogLines();
  EXPECT_EQ(lines, (std::vector<std::string>{"=================================================", "编译组件...", " ",
                                             "========================完成======================"}));
  EXPECT_EQ(t.view.caption, "Kestrin");
  EXPECT_EQ(t.view.gaugeMax, 170);
  EXPECT_TRUE(t.fs.DirExists(dir.Root() + "lib\\Library\\Delphi7"));
}

TEST_F(CompileCommand, GaugeFollowsTheTickedItems) {
  t.SetUpLibrary(dir, 1, {"D7"});
  std::vector<std::string> ten;
  for (int i = 0; i < 10; ++i) ten.push_back("pkg" + std::to_string(i));
  t.view.LoadBuildList(ten);
  t.view.SetTicked(3, true);
  t.view.SetTicked(7, true);
  t.app.OnCommand(ctl::kCompileButton);
  EXPECT_EQ(t.view.gaugeMax, 9);
  EXPECT_EQ(t.view.gaugePos, 7);
  EXPECT_EQ(t.processes.lines.size(), 2u);
  // No project anywhere: no folder part, the compiler says what is missing.
  auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "编译：pkg3D7.dpk"), 1);
  EXPECT_EQ(Count(lines, "stand-in: fatal: cannot open package project pkg3D7.dpk"), 1);
}

TEST_F(CompileCommand, StopDuringTheSecondOfFivePackages) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 5; ++i) t.view.SetTicked(i, true);
  bool stopped = false;
  t.view.onPump = [&] {
    if (!stopped && Count(t.view.Lines(), "编译：") == 2) {
      stopped = true;
      t.app.OnCommand(ctl::kStopButton);
      // Back to the idle look at once, while the package is still compiling.
      EXPECT_FALSE(t.view.running);
      EXPECT_FALSE(t.view.enabled[ctl::kCompileButton]);  // no second run in the meantime
    }
  };
  t.app.states.copy = t.app.states.install = true;
  t.app.OnCommand(ctl::kCompileButton);
  ASSERT_TRUE(stopped);
  auto lines = t.LogLines();
  EXPECT_EQ(Count(lines, "编译："), 2);
  EXPECT_EQ(Count(lines, "Kestrin stand-in package compiler"), 2);  // the second still finished
  EXPECT_EQ(Count(lines, "=====================编译中止====================="), 1);
  EXPECT_EQ(lines.back(), "========================完成======================");
  EXPECT_EQ(lines[lines.size() - 2], " ");
  EXPECT_TRUE(t.ctx().stopRequested);
  EXPECT_FALSE(t.view.enabled[ctl::kCopyButton]);
  EXPECT_FALSE(t.view.enabled[ctl::kInstallButton]);
  EXPECT_TRUE(t.view.enabled[ctl::kCompileButton]);
  // The next run starts afresh.
  t.view.onPump = nullptr;
  t.app.OnCommand(ctl::kCompileButton);
  EXPECT_FALSE(t.ctx().stopRequested);
}

TEST_F(CompileCommand, EmptyLibraryFolderTouchesNothing) {
  t.RegisterIde(1, dir.Root() + "ide", dir);
  t.shell.folderAnswers = {std::nullopt, std::nullopt};
  t.Start();
  t.Choose(1);
  ASSERT_EQ(t.ctx().libraryRoot, "");
  t.app.OnCommand(ctl::kSelectAllButton);
  t.app.OnCommand(ctl::kCompileButton);
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
  t.app.OnCommand(ctl::kCompileButton);
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
  // cxLibraryVCL requires dxCore, which wrote nothing: a fatal error.
  bool fatal = false;
  for (const auto& l : lines) fatal |= l.find("required package 'dxCoreD7' not found") != std::string::npos;
  EXPECT_TRUE(fatal);
}

// The exit's grace period ends a compiler stuck mid-write: the package files
// it wrote are removed (verification then ticks the package), files of other
// packages stay, and nothing it started is left running.
TEST_F(CompileCommand, ACompilerEndedOnExitLeavesNoCutShortPackage) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  dir.Write("lib/Library/Delphi7/dxGDIPlusD7.bpl", "MZ from an earlier run");
  std::uint64_t now = 0;
  t.app.clockMs = [&] { return now; };
  t.app.endProgram = [] {};
  setenv("KESTRIN_DCC_STALL", "dxGDIPlusD7", 1);
  t.view.onPump = [&] {
    if (!t.app.exitRequested && Count(t.view.Lines(), "编译：dxGDIPlusD7.dpk") == 1 &&
        dir.Read("lib/Library/Delphi7/dxGDIPlusD7.bpl") == "MZ cut short")
      t.app.OnCommand(ctl::kExitButton);
    now += t.app.exitRequested ? 500 : 0;
  };
  t.app.OnCommand(ctl::kCompileButton);
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

// An error part-way through a run (here from the window) restores the idle
// look and shows the error.
TEST_F(CompileCommand, AnErrorPartWayRestoresTheIdleLook) {
  t.SetUpLibrary(dir, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  t.view.onPump = [&] {
    if (Count(t.view.Lines(), "编译：") == 2) throw std::runtime_error("window gone");
  };
  t.app.OnCommand(ctl::kCompileButton);
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
