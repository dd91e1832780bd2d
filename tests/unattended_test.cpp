#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include <fstream>
#include <sstream>

#include "app/unattended.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

ParsedArguments Parse(std::vector<std::string> args) { return ParseArguments(args); }

TEST(UnattendedArguments, FormsOrderAndCase) {
  const ParsedArguments p =
      Parse({"-INSTALL", "/Compile", "/release:rad studio 2009", "/packages: dxCore , CXLIBRARY", "/yes",
             "/log:C:\\b d\\x.log", "-library:C:\\a b\\DevExpress VCL\\", "/parallel", "/verify", "/copy"});
  ASSERT_EQ(p.error, "");
  const UnattendedOptions& o = p.options;
  EXPECT_EQ(o.release, &kIdeProfiles[6]);
  EXPECT_TRUE(o.step(CommandId::Compile) && o.step(CommandId::Verify) && o.step(CommandId::Copy) &&
              o.step(CommandId::Install) && o.parallel && o.yes);
  EXPECT_FALSE(o.step(CommandId::Uninstall) || o.deleteBpl || o.list || o.help);
  EXPECT_EQ(o.packages, (std::vector<std::string>{"dxCore", "cxLibrary"}));  // as the list names them
  EXPECT_EQ(o.library, "C:\\a b\\DevExpress VCL\\");
  EXPECT_EQ(o.logFile, "C:\\b d\\x.log");
  EXPECT_EQ(Parse({"/release:BDS2005", "/uninstall", "/deletebpl"}).error, "");
  EXPECT_EQ(Parse({"/list"}).error, "");
  EXPECT_EQ(Parse({"/?", "/whatever"}).error, "未知的开关: /whatever");
  EXPECT_TRUE(Parse({"/?"}).options.help);
}

// Release names as people write them, blanks and letter case aside.
TEST(UnattendedArguments, ReleaseSpellings) {
  const std::pair<const char*, std::size_t> names[] = {
      {"Delphi7", 1}, {"delphi 7", 1}, {"D7", 1},           {"d6", 0},          {"Delphi 8", 2},
      {"BDS2005", 3}, {"D2005", 3},    {"Delphi 2005", 3},  {"BDS 2006", 4},    {"D2006", 4},
      {"RAD2007", 5}, {"D2007", 5},    {"radstudio2007", 5}, {"RAD2009", 6},    {"D2009", 6},
      {"Delphi2009", 6}, {"D12", 6}};
  for (const auto& [name, index] : names)
    EXPECT_EQ(ReleaseNamed(name), &kIdeProfiles[index]) << name;
  EXPECT_EQ(ReleaseNamed("D2008"), nullptr);
}

TEST(UnattendedArguments, BadOnesSayWhy) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/release:Delphi7", "/compile", "/frobnicate"}, "未知的开关: /frobnicate"},
      {{"/release:Delphi7", "compile"}, "无法识别的参数: compile (开关以 / 或 - 开头)"},
      {{"/release", "/compile"}, "缺少值: 应写作 /release:<值>"},
      {{"/release:", "/compile"}, "缺少值: 应写作 /release:<值>"},
      {{"/release:Delphi7", "/compile:yes"}, "开关 /compile 不带值: /compile:yes"},
      {{"/release:Delphi7", "/release:BDS2006", "/compile"}, "只能指定一个 IDE 版本: /release:BDS2006"},
      {{"/release:Delphi5", "/compile"},
       "未知的 IDE 版本: Delphi5 (可用: Delphi6, Delphi7, Delphi8, BDS2005, BDS2006, RAD2007, RAD2009)"},
      {{"/release:Delphi7", "/compile", "/deletebpl"}, "/deletebpl 只能与 /uninstall 一起使用"},
      {{"/release:Delphi7", "/uninstall", "/install"}, "/uninstall 只能单独使用, 不能与 /compile /verify /copy /install /diagnose 一起"},
      {{"/release:Delphi7", "/verify", "/parallel"}, "/parallel 只能与 /compile 一起使用"},
      {{"/release:Delphi7"}, "没有指定要做的步骤 (/compile /verify /copy /install /diagnose 或 /uninstall)"},
      {{"/compile"}, "缺少 /release:<版本>"},
      {{"/list", "/release:Delphi7"}, "/list 只能单独使用"},
      {{"/list", "/log:x.log"}, "/list 不能与 /log 一起使用"},
      {{"/list", "/parallel"}, "/list 不能与 /parallel 一起使用"},
      {{"/packages:dxCore", "/list"}, "/list 不能与 /packages 一起使用"},
      {{"/list", "/deletebpl"}, "/list 不能与 /deletebpl 一起使用"},
      {{"/release:BDS2006", "/compile", "/packages:dxCore,cxLibraryVCL"}, "未知的包: cxLibraryVCL (BDS 2006 的包列表中没有)"},
  };
  for (const auto& [args, why] : cases) EXPECT_EQ(Parse(args).error, why) << args[0];
}

// A console that takes `lines` lines and then is gone, as a pipe whose
// reader went away.
struct ClosingConsole : Console {
  int lines = 0;
  std::vector<std::string> out, err;
  bool WriteOut(std::string_view line) override { return Write(&out, line); }
  bool WriteErr(std::string_view line) override { return Write(&err, line); }
  bool Write(std::vector<std::string>* to, std::string_view line) {
    if (lines-- <= 0) return !(broken = true);
    to->emplace_back(line);
    return true;
  }
  bool Broken() override { return broken; }
  void CatchInterrupts() override {}
  // Ctrl+C once the first package's block is out, where asked for.
  bool Interrupted() override {
    return interrupt_after_a_block &&
           std::any_of(out.begin(), out.end(), [](const std::string& l) { return l.starts_with("编译："); });
  }
  void HandleQueuedMessages() override {}
  bool broken = false;
  bool interrupt_after_a_block = false;
};

// Ctrl+C during a compile: the log says the compile was stopped, as the
// window's stop button does, and the run ends unfinished.
TEST(Unattended, CtrlCDuringACompileSaysSo) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  ClosingConsole console;
  console.lines = 100000;
  console.interrupt_after_a_block = true;
  std::atomic<std::uint64_t> now{0};
  const int code = RunUnattended(Platform{t.registry, t.fs, t.processes, t.shell}, console,
                                 {"/release:Delphi7", "/library:" + dir.Root() + "lib", "/compile"},
                                 [&] { return now += 100; });
  EXPECT_EQ(code, kExitIncomplete);
  EXPECT_EQ(std::count(console.out.begin(), console.out.end(), "=====================编译中止====================="), 1);
}

// A closed output stops the run as Ctrl+C does: no compiler starts after it,
// and the run ends with 1 instead of writing on.
TEST(Unattended, AClosedOutputStopsTheRun) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  ClosingConsole console;
  console.lines = 6;
  std::atomic<std::uint64_t> now{0};
  const int code = RunUnattended(Platform{t.registry, t.fs, t.processes, t.shell}, console,
                                 {"/release:Delphi7", "/library:" + dir.Root() + "lib", "/compile", "/verify"},
                                 [&] { return now += 100; });
  EXPECT_EQ(code, kExitIncomplete);
  EXPECT_TRUE(console.broken);
  EXPECT_LE(t.processes.lines.size(), 3u);
  EXPECT_EQ(console.out.size(), 6u);
}

// A compile step ends unfinished when the check before it holds packages
// back (here: the IDE's designide.dcp is gone); /force starts their
// compilers anyway, and the compiler then says what it misses.
TEST(Unattended, ForceCompilesWhatTheCheckHoldsBack) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  std::filesystem::remove(dir.Path() / "ide/lib/designide.dcp");
  ClosingConsole console;
  console.lines = 100000;
  auto run = [&](const char* extra) {
    std::vector<std::string> args = {"/release:Delphi7", "/library:" + dir.Root() + "lib", "/compile",
                                     "/packages:dxTheme,dxGDIPlus,dxCore,cxLibraryVCL,dclcxLibraryVCL"};
    if (*extra) args.push_back(extra);
    return RunUnattended(Platform{t.registry, t.fs, t.processes, t.shell}, console, args, [] { return 0; });
  };
  EXPECT_EQ(run(""), kExitIncomplete);
  EXPECT_EQ(console.out.back(), "未完成: 编译 — 1 个包没有编译成功 (共 5 个)");
  EXPECT_EQ(t.processes.lines.size(), 4u);
  EXPECT_EQ(run("/force"), kExitIncomplete);
  EXPECT_EQ(t.processes.lines.size(), 4u + 5u);
  EXPECT_EQ(console.out.back(), "未完成: 编译 — 1 个包没有编译成功 (共 5 个)");
}

// An argument error is the error and one line, not the whole usage; a
// folder that is not there says so; a verify that finds everything says how
// many it checked.
TEST(Unattended, ShortAnswers) {
  TempDir dir;
  TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  ClosingConsole console;
  console.lines = 100000;
  auto run = [&](std::vector<std::string> args) {
    console.out.clear();
    console.err.clear();
    return RunUnattended(Platform{t.registry, t.fs, t.processes, t.shell}, console, args, [] { return 0; });
  };
  EXPECT_EQ(run({"/release:Delphi7", "/frobnicate"}), kExitBadArguments);
  EXPECT_EQ(console.err, (std::vector<std::string>{"参数错误: 未知的开关: /frobnicate", "输入 kestrin.com /? 查看用法"}));
  EXPECT_EQ(run({"/release:Delphi7", "/library:" + dir.Root() + "nowhere", "/verify"}), kExitUnusable);
  EXPECT_EQ(console.err, std::vector<std::string>{"文件夹不存在: " + dir.Root() + "nowhere\\"});
  EXPECT_EQ(run({"/release:D7", "/library:" + dir.Root() + "lib", "/compile", "/verify"}), kExitDone);
  EXPECT_EQ(std::count(console.out.begin(), console.out.end(), "171 个包均已编译"), 1);
}

// Parts of an install that fail only with a log line still make the step
// unfinished: an EnvOptions.proj the program does not understand is one.
TEST(Unattended, AnInstallWithAFailedPartEndsUnfinished) {
  TempDir dir;
  TestApp t;
  t.StartWithRelease(dir, 6);
  const std::string base(kIdeProfiles[6].baseKey);
  t.registry.CreateKey(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  dir.Write("appdata/CodeGear/BDS/6.0/EnvOptions.proj", "<NotAProject/>");
  ClosingConsole console;
  console.lines = 1000;
  auto run = [&] {
    return RunUnattended(Platform{t.registry, t.fs, t.processes, t.shell}, console,
                         {"/release:RAD2009", "/library:" + dir.Root() + "lib", "/install"}, [] { return 0; });
  };
  EXPECT_EQ(run(), kExitIncomplete);
  EXPECT_EQ(console.out.back(), "未完成: 安装 — 1 处失败");
  std::filesystem::remove(dir.Path() / "appdata/CodeGear/BDS/6.0/EnvOptions.proj");  // missing: no failure
  console.out.clear();
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(console.out.back(), "全部完成: 安装");
}

// The README shows the example scripts as they are in scripts/examples,
// where the Win32 suite runs them.
TEST(Unattended, ReadmeShowsTheExampleScripts) {
  auto read = [](const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    std::string text = s.str();
    std::erase(text, '\r');
    return text;
  };
  const std::string readme = read(KESTRIN_SOURCE_DIR "/README.md");
  for (const char* name : {"install-build-machine.bat", "uninstall.bat"}) {
    const std::string script = read(std::string(KESTRIN_SOURCE_DIR "/scripts/examples/") + name);
    ASSERT_FALSE(script.empty()) << name;
    EXPECT_NE(readme.find(script), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace kestrin
