// The typical run of the tool through the real window, with the stand-in
// compiler, the real registry of the prefix and the real system folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/controls.h"
#include "targets/library_folder.h"
#include "catalogue/catalogue.h"
#include "platform/win32_platform.h"
#include "tests/log_compare.h"
#include "tests/win32/scenario.h"

namespace kt {
namespace {
using namespace kestrin::ctl;

const std::string kLib = "C:\\kestrin-tests\\库 目录\\DevExpress VCL\\";




// Runs one command and waits for its end; returns the log lines it added.
std::vector<std::string> RunCommand(Program& p, int id, int timeout_ms = 120000) {
  const std::size_t before = p.LogLines().size();
  EXPECT_TRUE(p.Click(id)) << id;
  EXPECT_TRUE(WaitUntil([&] { return p.LogLines().size() > before; }, 20000)) << id;
  EXPECT_TRUE(p.WaitIdle(timeout_ms)) << id;
  auto all = p.LogLines();
  return std::vector<std::string>(all.begin() + std::min(before, all.size()), all.end());
}

void RemoveOurSystemFiles(const std::string& suffix) {
  for (const auto& f : FilesIn(SystemFolder(), "*" + suffix + ".bpl")) DeleteFileW(W(SystemFolder() + "\\" + f).c_str());
}

TEST(Workflow, Delphi7FromCompileToUninstall) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  s.RegisterIde(4);
  const std::string base = BaseKey(1);
  RegSetSz(base + "\\Known Packages", "C:\\Other\\dclcxGridD7.bpl", "registered by hand");
  const std::string out = s.Output("Delphi7");
  const std::string sys = SystemFolder();
  RemoveOurSystemFiles("D7");
  WriteFileUtf8(sys + "\\kestrin-not-ours.dll", "keep");

  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.States() == "110011"; }, 5000)) << p.States();
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));

  // Compile: every package through the stand-in compiler.
  auto log = RunCommand(p, kCompileButton, 900000);
  EXPECT_EQ(log.front(), "=================================================");
  EXPECT_EQ(log[1], "编译组件...");
  EXPECT_EQ(log[2], "编译：dxThemeD7.dpk");
  EXPECT_EQ(CountPrefix(log, "编译："), 171);
  EXPECT_EQ(CountPrefix(log, "Kestrin stand-in package compiler"), 171);
  for (const auto& l : log) EXPECT_EQ(l.find("fatal"), std::string::npos) << l;
  EXPECT_EQ(log[log.size() - 2], " ");
  EXPECT_EQ(FilesIn(out, "*.bpl").size(), 171u);
  EXPECT_EQ(p.Caption(), "Kestrin");
  EXPECT_EQ(p.States(), "110011");
  EXPECT_FALSE(p.Visible(kProgressGauge));

  // Verify: all there.
  log = RunCommand(p, kVerifyButton);
  EXPECT_EQ(log, (std::vector<std::string>{"=================================================", "验证组件...", " ",
                                           "========================完成======================"}));
  EXPECT_TRUE(p.Ticked().empty());
  EXPECT_EQ(p.States(), "111111");

  // Two packages gone: exactly those are ticked and named.
  ASSERT_TRUE(DeleteFileW(W(out + "\\dxCoreD7.bpl").c_str()));
  ASSERT_TRUE(DeleteFileW(W(out + "\\dclcxGridD7.bpl").c_str()));
  log = RunCommand(p, kVerifyButton);
  EXPECT_EQ(p.Ticked(), (std::vector<int>{2, 75}));
  EXPECT_EQ(log.size(), 6u);
  EXPECT_TRUE(Has(log, "包:dxCoreD7.dpk  未编译."));
  EXPECT_TRUE(Has(log, "包:dclcxGridD7.dpk  未编译."));

  // Copy: every runtime package that exists goes into the system folder.
  log = RunCommand(p, kCopyButton);
  EXPECT_EQ(log[1], "复制运行时包到System32目录");
  EXPECT_EQ(CountPrefix(log, "复制 "), 64);
  EXPECT_TRUE(Has(log, "复制 cxDataD7.bpl 到System32目录成功."));
  EXPECT_FALSE(Exists(sys + "\\dxCoreD7.bpl"));
  EXPECT_TRUE(Exists(sys + "\\cxGridD7.bpl"));
  EXPECT_TRUE(Exists(sys + "\\dxPSCoreD7.bpl"));
  EXPECT_EQ(p.States(), "111111");
  // Nothing so far touched the IDE's settings.
  std::string untouched;
  ASSERT_TRUE(RegRead(base + "\\Library", "Search Path", &untouched));
  EXPECT_EQ(untouched, "$(DELPHI)\\Lib;$(DELPHI)\\Bin");
  EXPECT_EQ(RegValueNames(base + "\\Known Packages").size(), 1u);

  // Install: search path and known packages, read back from the registry.
  log = RunCommand(p, kInstallButton);
  kestrin::Win32FileSystem fs;
  const std::string out_short = fs.ShortPath(out);
  std::string expected = "$(DELPHI)\\Lib;$(DELPHI)\\Bin;" + out_short;
  for (auto folder : kestrin::kProductSourceFolders) expected += ";" + s.library + std::string(folder) + "\\Sources";
  std::string search;
  DWORD type = 0;
  ASSERT_TRUE(RegRead(base + "\\Library", "Search Path", &search, &type));
  EXPECT_EQ(search, expected);
  EXPECT_EQ(type, DWORD(REG_SZ));
  EXPECT_EQ(log[1], "安装到：Delphi7");
  EXPECT_EQ(CountPrefix(log, "添加设计时包:"), 99);
  std::string description;
  ASSERT_TRUE(RegRead(base + "\\Known Packages", out + "\\dclcxLibraryVCLD7.bpl", &description));
  EXPECT_EQ(description, "Express Cross Platform Library (VCL Edition) by Developer Express Inc.");
  ASSERT_TRUE(RegRead(base + "\\Known Packages", out + "\\dcldxSpellCheckerD7.bpl", &description));
  EXPECT_EQ(description, "ExpressSpellChecker by Developer Express Inc.");
  EXPECT_FALSE(RegRead(base + "\\Known Packages", out + "\\dclcxGridD7.bpl", nullptr));
  EXPECT_EQ(RegValueNames(base + "\\Known Packages").size(), 100u);  // 99 and the one by hand
  // dxCoreD7.bpl was deleted above: no design package can be loaded, and
  // the install says so, in one line for the one cause.
  const std::string cause = " 等 99 个: 找不到它需要的 dxCoreD7.bpl";
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
              return l.rfind("错误: IDE 无法加载 ", 0) == 0 && l.size() > cause.size() &&
                     l.compare(l.size() - cause.size(), cause.size(), cause) == 0;
            }),
            1);
  log = RunCommand(p, kInstallButton);
  ASSERT_TRUE(RegRead(base + "\\Library", "Search Path", &search));
  EXPECT_EQ(search, expected);  // a second install adds nothing
  EXPECT_EQ(p.States(), "111111");
  EXPECT_EQ(FilesIn(out, "*.bpl").size(), 169u);  // the install touches no file

  // Uninstall with the package files; one copy is held open elsewhere.
  RegSetSz(base + "\\Disabled Packages", out + "\\dcldxBarD7.bpl", "disabled");
  ASSERT_TRUE(p.Click(kDeleteBplCheck));
  ASSERT_TRUE(WaitUntil([&] { return p.Checked(kDeleteBplCheck); }, 5000));
  HANDLE held = CreateFileW(W(sys + "\\cxDataD7.bpl").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WriteFileUtf8(out + "\\notes.txt", "not a package");
  log = RunCommand(p, kUninstallButton);
  CloseHandle(held);
  const std::string unloadable = "未完成: 安装 — 99 个设计时包 IDE 无法加载\r\n";
  EXPECT_EQ(p.Text(kCommandPane), unloadable + unloadable + "删除设计时包信息成功.\r\n");
  EXPECT_EQ(RegValueNames(base + "\\Known Packages"), (std::vector<std::string>{"C:\\Other\\dclcxGridD7.bpl"}));
  EXPECT_TRUE(RegValueNames(base + "\\Disabled Packages").empty());
  EXPECT_TRUE(RegRead(base + "\\Library", "Search Path", &search));
  EXPECT_TRUE(FilesIn(out, "*.bpl").empty());
  EXPECT_TRUE(Exists(out + "\\notes.txt"));
  // The failure names its reason; the next runtime package is still deleted.
  const std::string failed = "删除：" + sys + "\\cxDataD7.BPL 失败. ";
  auto fail = std::find_if(log.begin(), log.end(), [&](const std::string& l) {
    return l.rfind(failed, 0) == 0 && l.size() > failed.size();
  });
  ASSERT_NE(fail, log.end());
  EXPECT_EQ(*(fail + 1), "删除：" + sys + "\\cxEditorsVCLD7.BPL 成功.");
  EXPECT_EQ(FilesIn(sys, "*D7.bpl"), (std::vector<std::string>{"cxDataD7.bpl"}));
  EXPECT_TRUE(Exists(sys + "\\kestrin-not-ours.dll"));
  EXPECT_EQ(log.back(), "========================完成======================");
  EXPECT_EQ(p.States(), "111111");  // the uninstall changes no state
  EXPECT_TRUE(p.Close(10000));
  RemoveOurSystemFiles("D7");
  DeleteFileW(W(sys + "\\kestrin-not-ours.dll").c_str());
}

TEST(Workflow, Bds2006FromCompileToUninstall) {
  Scenario s(kLib, {"D10"});
  s.RegisterIde(1);
  s.RegisterIde(4);
  const std::string base = BaseKey(4);
  const std::string out = s.Output("Delphi10");
  const std::string sys = SystemFolder();
  RemoveOurSystemFiles("D10");
  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(ReleaseButton(4)));
  ASSERT_TRUE(WaitUntil([&] { return p.ListCount() == 131 && p.States() == "110011"; }, 5000));
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 131; }, 5000));
  auto log = RunCommand(p, kCompileButton, 900000);
  EXPECT_EQ(CountPrefix(log, "编译："), 131);
  EXPECT_EQ(log[2], "编译：dxThemeD10.dpk");
  for (const auto& l : log) EXPECT_EQ(l.find("fatal"), std::string::npos) << l;
  EXPECT_EQ(FilesIn(out, "*.bpl").size(), 131u);
  log = RunCommand(p, kVerifyButton);
  EXPECT_EQ(log.size(), 4u);
  EXPECT_TRUE(p.Ticked().empty());
  log = RunCommand(p, kCopyButton);
  EXPECT_EQ(CountPrefix(log, "复制 "), 49);
  EXPECT_EQ(p.States(), "111111");
  EXPECT_TRUE(Exists(sys + "\\cxLibraryD10.bpl"));
  log = RunCommand(p, kInstallButton);
  EXPECT_EQ(log[1], "安装到：BDS 2006");
  EXPECT_EQ(CountPrefix(log, "添加设计时包:"), 80);
  std::string d;
  ASSERT_TRUE(RegRead(base + "\\Known Packages", out + "\\dcldxSkinscxScheduler3PainterD10.bpl", &d));
  EXPECT_EQ(d, "ExpressSkins Library Uses Clause Auto Fill Helper for Scheduler Painter by Developer Express Inc.");
  ASSERT_TRUE(RegRead(base + "\\Known Packages", out + "\\dclcxLibraryD10.bpl", &d));
  EXPECT_EQ(d, "Express Cross Platform Library (VCL Edition) by Developer Express Inc.");
  // Uninstall without the check box: registry only.
  log = RunCommand(p, kUninstallButton);
  EXPECT_TRUE(RegValueNames(base + "\\Known Packages").empty());
  EXPECT_EQ(FilesIn(out, "*.bpl").size(), 131u);
  EXPECT_EQ(log[3], "从注册表中删除设计时包信息...");
  // And with it: every package file of both folders.
  ASSERT_TRUE(p.Click(kDeleteBplCheck));
  ASSERT_TRUE(WaitUntil([&] { return p.Checked(kDeleteBplCheck); }, 5000));
  log = RunCommand(p, kUninstallButton);
  EXPECT_TRUE(FilesIn(out, "*.bpl").empty());
  EXPECT_TRUE(FilesIn(sys, "*D10.bpl").empty());
  EXPECT_EQ(CountPrefix(log, "删除："), 131 + 49);
  EXPECT_TRUE(p.Close(10000));
}

TEST(Workflow, WindowAnswersWhileTheCompilerRunsAndStopWorksAtOnce) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  SetEnvironmentVariableW(L"KESTRIN_DCC_SLEEP_MS", L"3000");
  Program p(s.Exe(), s.library);
  SetEnvironmentVariableW(L"KESTRIN_DCC_SLEEP_MS", nullptr);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.Enabled(kCompileButton); }, 5000));
  // Tick the first three packages by hand.
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));
  ASSERT_TRUE(p.Click(kCompileButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Visible(kStopButton); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return CountPrefix(p.LogLines(), "编译：") == 1; }, 10000));
  ULONGLONG worst = 0;
  for (int i = 0; i < 10; ++i) {
    ULONGLONG t = GetTickCount64();
    EXPECT_TRUE(p.Responsive(1000));
    worst = std::max(worst, GetTickCount64() - t);
    Sleep(50);
  }
  EXPECT_LT(worst, 500u);
  EXPECT_FALSE(p.Enabled(kVerifyButton));  // nothing else starts meanwhile
  EXPECT_FALSE(p.Enabled(ReleaseButton(1)));
  ASSERT_TRUE(p.Click(kStopButton));
  ASSERT_TRUE(WaitUntil([&] { return Has(p.LogLines(), "=====================编译中止====================="); }, 1500));
  EXPECT_TRUE(p.Visible(kCompileButton));
  EXPECT_TRUE(p.WaitIdle(30000));
  auto log = p.LogLines();
  EXPECT_EQ(CountPrefix(log, "编译："), 1);
  EXPECT_EQ(CountPrefix(log, "Kestrin stand-in package compiler"), 1);
  EXPECT_EQ(log.back(), "========================完成======================");
  EXPECT_TRUE(p.Close(10000));
}

using kestrin::test::Comparable;

// Ticked by a click, the parallel box gives a run that compiles every
// package (each after the packages it requires: the stand-in refuses a
// missing one) and logs the same blocks in the same order as one at a time;
// the box is locked while the run goes.
TEST(Workflow, ParallelRunThroughTheWindow) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.States() == "110011"; }, 5000));
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));
  const auto one_at_a_time = RunCommand(p, kCompileButton, 900000);
  EXPECT_EQ(CountPrefix(one_at_a_time, "编译结果: 共 171 个包, 成功 171 个, 失败 0 个, 未编译 0 个; 用时 "), 1);
  RemoveTree(s.Output("Delphi7"));

  ASSERT_TRUE(p.Click(kParallelCheck));
  ASSERT_TRUE(WaitUntil([&] { return p.Checked(kParallelCheck); }, 5000));
  const std::size_t before = p.LogLines().size();
  ASSERT_TRUE(p.Click(kCompileButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Visible(kStopButton); }, 10000));
  EXPECT_FALSE(p.Enabled(kParallelCheck));
  ASSERT_TRUE(p.WaitIdle(900000));
  EXPECT_TRUE(p.Enabled(kParallelCheck));
  auto all = p.LogLines();
  const std::vector<std::string> parallel(all.begin() + before, all.end());
  ASSERT_GE(parallel.size(), 3u);
  EXPECT_EQ(parallel[2].rfind("并行编译: 最多同时运行 ", 0), 0u) << parallel[2];
  EXPECT_EQ(Comparable(parallel), Comparable(one_at_a_time));
  EXPECT_EQ(FilesIn(s.Output("Delphi7"), "*.bpl").size(), 171u);
  EXPECT_TRUE(p.Close(10000));
}

// dclcxLibraryVCL needs dxTheme only through cxLibraryVCL, which is not
// ticked: with the parallel box ticked it still waits for dxTheme's
// compile, so the two compilers never run at the same time.
TEST(Workflow, ParallelCompileWaitsThroughAnUntickedPackage) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  const std::string out = s.Output("Delphi7");
  SetEnvironmentVariableW(L"KESTRIN_DCC_SLEEP_MS", L"1500");
  Program p(s.Exe(), s.library);
  SetEnvironmentVariableW(L"KESTRIN_DCC_SLEEP_MS", nullptr);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.States() == "110011"; }, 5000));
  ASSERT_EQ(p.ListText(0), "dxTheme");
  ASSERT_EQ(p.ListText(4), "dclcxLibraryVCL");
  // Every other package is there already (cxLibraryVCL with a .dcp the
  // stand-in takes): verify ticks just the two.
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));
  MakeDirs(out);
  for (int i = 0; i < 171; ++i)
    if (i != 0 && i != 4) WriteFileUtf8(out + "\\" + p.ListText(i) + "D7.bpl", PackageBytes(p.ListText(i) + "D7.bpl"));
  WriteFileUtf8(out + "\\cxLibraryVCLD7.dcp", "old");
  std::vector<std::string> log = RunCommand(p, kVerifyButton);
  ASSERT_EQ(p.Ticked(), (std::vector<int>{0, 4}));

  ASSERT_TRUE(p.Click(kParallelCheck));
  ASSERT_TRUE(WaitUntil([&] { return p.Checked(kParallelCheck); }, 5000));
  ASSERT_EQ(CountProcesses(L"dcc32.exe"), 0);
  const std::size_t before = p.LogLines().size();
  const ULONGLONG start = GetTickCount64();
  ASSERT_TRUE(p.Click(kCompileButton));
  int most = 0, polls = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        most = std::max(most, CountProcesses(L"dcc32.exe"));
        ++polls;
        return p.WaitIdle(0) && p.LogLines().size() > before;
      },
      60000));
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_EQ(most, 1) << polls << " polls";
  EXPECT_GE(took, 3000u);
  auto all = p.LogLines();
  log.assign(all.begin() + before, all.end());
  EXPECT_EQ(CountPrefix(log, "编译结果: 共 2 个包, 成功 2 个, 失败 0 个, 未编译 0 个; 用时 "), 1);
  EXPECT_TRUE(Has(log, "编译：dxThemeD7.dpk"));
  EXPECT_TRUE(Has(log, "编译：dclcxLibraryVCLD7.dpk"));
  EXPECT_TRUE(p.Close(10000));
}

}  // namespace
}  // namespace kt
