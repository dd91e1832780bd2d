#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "app/controls.h"
#include "app/events.h"
#include "app/panes.h"
#include "targets/library_folder.h"
#include "platform/text.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

TEST(Panes, SaveNamesAndLineEnds) {
  EXPECT_EQ(SaveLogPath("C:\\logs\\build"), "C:\\logs\\build.txt");
  EXPECT_EQ(SaveLogPath("C:\\logs\\build.txt"), "C:\\logs\\build.txt");
  EXPECT_EQ(SaveLogPath("C:\\logs\\BUILD.TXT"), "C:\\logs\\BUILD.TXT");
  EXPECT_EQ(SaveLogPath("C:\\logs\\build.log"), "C:\\logs\\build.log.txt");
  EXPECT_EQ(ToCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
  EXPECT_EQ(LogEntry("x\n"), "x\r\n");
  EXPECT_EQ(LogEntry(""), "\r\n");
  EXPECT_EQ(LogEntry(std::string("a\0b", 3)), "a b\r\n");
}

TEST(Panes, SavedLogIsGbkWithCrLfAndReplacesAnOldFile) {
  TempDir d;
  TestApp t;
  d.Write("build.txt", "old content that is longer than the new one..................");
  t.view.AppendLog("编译组件...");
  t.view.AppendLog("line1\nline2");
  t.shell.saveAnswers = {d.Root() + "build.txt", d.Root() + "empty", std::nullopt};
  t.Click(ctl::kSaveLogMenu);
  EXPECT_EQ(t.shell.saveFilters[0], "文本文件(*.TXT)|*.TXT|所有文件(*.*)|*.*");
  EXPECT_EQ(t.shell.saveFolders[0], t.fs.ExecutableFolder());
  EXPECT_EQ(d.Read("build.txt"), "\xB1\xE0\xD2\xEB\xD7\xE9\xBC\xFE...\r\nline1\r\nline2\r\n");
  EXPECT_FALSE(d.Exists("build.txt.txt"));
  t.view.ClearLog();
  t.Click(ctl::kSaveLogMenu);
  EXPECT_EQ(d.Read("empty.txt"), "");
  t.Click(ctl::kSaveLogMenu);  // cancelled: nothing written
  t.shell.saveAnswers = {d.Root() + "no/such/folder/x"};
  t.Click(ctl::kSaveLogMenu);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_NE(t.view.messages[0].text.find(d.Root() + "no/such/folder/x.txt"), std::string::npos);
}

TEST(Panes, ButtonsOfThePanes) {
  TestApp t;
  t.view.commandPane = "dir\r\ncd ..\r\n";
  t.Click(ctl::kCopyCommandsButton);
  EXPECT_EQ(t.view.clipboard, "dir\r\ncd ..\r\n");
  t.Click(ctl::kClearCommandsButton);
  EXPECT_EQ(t.view.commandPane, "");
  t.view.AppendLog("x");
  t.Click(ctl::kClearLogButton);
  EXPECT_TRUE(t.view.log.empty());
  t.Click(ctl::kRunCmdButton);
  EXPECT_EQ(t.shell.prompts, 1);
  t.Click(ctl::kForumLink);
  ASSERT_EQ(t.shell.urls.size(), 1u);
  EXPECT_EQ(t.shell.urls[0].rfind("https://", 0), 0u);
}

TEST(CommandStates, FollowTheUsersProgress) {
  TempDir d;
  TestApp t;
  d.Write("lib/XP Theme Manager/x", "");
  TestApp::PlaceCompiler(d);
  t.RegisterIde(1, d.Root() + "ide", d);
  t.RegisterIde(2, d.Root() + "ide", d);
  t.shell.folderAnswers.push_back(std::nullopt);
  t.Start();
  t.app.SetLibraryFolder(d.Root() + "lib\\");
  auto states = [&] {
    std::string s;
    for (int id : {ctl::kCompileButton, ctl::kVerifyButton, ctl::kCopyButton, ctl::kInstallButton, ctl::kUninstallButton, ctl::kDeleteBplCheck})
      s += t.view.enabled[id] ? '1' : '0';
    return s;
  };
  EXPECT_EQ(states(), "000000");
  // Clicks on disabled commands are refused whatever reaches the handler.
  t.Click(ctl::kCompileButton);
  t.Click(ctl::kCopyButton);
  EXPECT_TRUE(t.view.log.empty());
  t.Click(110);  // Delphi6 is not registered
  EXPECT_EQ(t.target().release, nullptr);
  t.Choose(1);
  EXPECT_EQ(states(), "110011");
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(states(), "111111");
  t.Click(ctl::kCopyButton);
  EXPECT_EQ(states(), "111111");
  t.Choose(2);
  EXPECT_EQ(states(), "110011");
  t.Click(ctl::kVerifyButton);
  t.Click(ctl::kCompileButton);
  EXPECT_EQ(states(), "110011");
}

TEST(CommandStates, NothingStartsInsideARunningCommandAndExitWaits) {
  TempDir d;
  TestApp t;
  t.SetUpLibrary(d, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  bool ended = false;
  t.app.endProgram = [&] { ended = true; };
  bool looked = false;
  t.view.onEvents = [&] {
    if (looked || !t.app.busy) return;
    looked = true;
    // While the compile runs: everything but stop, the panes and exit is off.
    EXPECT_FALSE(t.view.enabled[ctl::kVerifyButton]);
    EXPECT_FALSE(t.view.enabled[ctl::ReleaseButton(1)]);
    EXPECT_FALSE(t.view.enabled[ctl::kChooseFolderButton]);
    EXPECT_FALSE(t.view.enabled[ctl::kSelectAllButton]);
    const std::size_t before = t.view.log.size();
    t.app.OnCommand(ctl::kVerifyButton);  // refused
    t.app.OnCommand(ctl::kUninstallButton);
    EXPECT_EQ(t.view.log.size(), before);
    t.app.OnCommand(ctl::kExitButton);
    EXPECT_FALSE(ended);  // the run finishes first
  };
  t.Click(ctl::kCompileButton);
  EXPECT_TRUE(ended);
  auto lines = t.view.Lines();
  EXPECT_EQ(lines.back(), "========================完成======================");
  EXPECT_TRUE(t.view.enabled[ctl::kVerifyButton]);
}

// What a command tells from its thread reaches the window in the order it
// was told, while the window takes it as it comes.
TEST(RunningCommand, EventsArriveInOrder) {
  StopToken stop;
  std::atomic<int> wakes{0};
  EventQueue queue([&] { ++wakes; });
  QueuedHost host(queue, stop);
  std::thread command([&] {
    for (int i = 0; i < 1000; ++i) {
      host.Log(std::to_string(i));
      if (i % 100 == 0) host.PackageStarted(static_cast<std::size_t>(i));
    }
  });
  std::vector<std::string> seen;
  std::size_t started = 0;
  auto take = [&] {
    while (std::optional<Event> e = queue.Take()) {
      if (auto* log = std::get_if<event::Log>(&*e)) seen.push_back(log->text);
      if (auto* p = std::get_if<event::PackageStarted>(&*e)) {
        EXPECT_EQ(p->row, seen.size() - 1);  // right after its line
        ++started;
      }
    }
  };
  while (seen.size() < 1000 && wakes.load() < 2000) take();
  command.join();
  take();
  ASSERT_EQ(seen.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], std::to_string(i));
  EXPECT_EQ(started, 10u);
  EXPECT_GE(wakes.load(), 1);
}

// Ticks the user sets or clears while a compile runs change the next run,
// not this one.
TEST(RunningCommand, TicksClickedDuringARunDoNotChangeIt) {
  TempDir d;
  TestApp t;
  t.SetUpLibrary(d, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  t.view.onEvents = [&] {
    t.view.SetTicked(0, false);
    t.view.SetTicked(5, true);
  };
  setenv("KESTRIN_DCC_SLEEP_MS", "100", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_SLEEP_MS");
  auto lines = t.LogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("编译：", 0) == 0; }), 3);
  EXPECT_EQ(t.processes.lines.size(), 3u);
  EXPECT_TRUE(t.view.statuses[5].empty());
  EXPECT_FALSE(t.app.packages().ticked(0));
  EXPECT_TRUE(t.app.packages().ticked(5));
}

// A stop with an end (the window closed) while a question waits for its
// answer answers it No; the command ends as it would after No, then the
// program.
TEST(RunningCommand, AStopDuringAQuestionAnswersItNo) {
  TempDir d;
  TestApp t;
  t.StartWithRelease(d, 1);
  t.app.Apply(StateEvent::VerifyEnded);
  d.Write("lib/Library/Delphi7/cxDataD7.bpl", "d");
  t.fs.InjectError(d.Root() + "sys\\", EACCES);
  bool ended = false;
  t.app.endProgram = [&] { ended = true; };
  t.view.answers = {true};  // the user's Yes comes too late
  t.view.onAsk = [&] { t.app.OnCommand(ctl::kExitButton); };
  t.Click(ctl::kCopyButton);
  EXPECT_TRUE(ended);
  EXPECT_EQ(t.view.questions.size(), 1u);
  const auto lines = t.LogLines();
  ASSERT_GE(lines.size(), 3u) << t.view.messages.size() << (t.view.messages.empty() ? "" : t.view.messages[0].text);
  EXPECT_EQ(lines[2], "系统目录不可写 (需要管理员权限), 未复制任何运行时包: Permission denied");
  EXPECT_FALSE(t.registry.KeyExists("Environment"));
}

// Each ticked package's state in the build list: a compile's outcome with
// the time or the reason, green and red; then verify's. A double click on a
// row brings its compile into view.
TEST(RunningCommand, TheStatusColumnAfterACompileAndAfterVerify) {
  TempDir d;
  TestApp t;
  t.SetUpLibrary(d, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  setenv("KESTRIN_DCC_FAIL", "dxGDIPlusD7", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_FAIL");
  EXPECT_EQ(t.view.statuses[0].rfind("成功 ", 0), 0u) << t.view.statuses[0];
  EXPECT_EQ(t.view.statuses[0].substr(t.view.statuses[0].size() - 4), " 秒");
  EXPECT_EQ(t.view.looks[0], RowLook::Good);
  EXPECT_EQ(t.view.statuses[1], "失败: dxGDIPlusReg.pas(7) Error: Undeclared identifier: 'KestrinFailure'");
  EXPECT_EQ(t.view.looks[1], RowLook::Bad);
  EXPECT_EQ(t.view.statuses[3], "");
  t.app.OnRowActivated(1);
  EXPECT_EQ(t.view.revealed, std::vector<std::string>{"编译：dxGDIPlusD7.dpk"});

  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.view.statuses[0], "已编译");
  EXPECT_EQ(t.view.looks[0], RowLook::Good);
  EXPECT_EQ(t.view.statuses[1], "未编译: dxGDIPlusReg.pas(7) Error: Undeclared identifier: 'KestrinFailure'");
  EXPECT_EQ(t.view.looks[1], RowLook::Bad);
  EXPECT_EQ(t.view.statuses[170], "未编译");
}

// A compile that ran longer than ten seconds asks for the user's eye when
// it ends; a short one does not. Meanwhile the taskbar button shows the
// ticked packages done, red once one failed, and nothing after.
TEST(RunningCommand, ALongRunThatEndsIsNoticedAndTheTaskbarShowsProgress) {
  TempDir d;
  TestApp t;
  t.SetUpLibrary(d, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  std::atomic<std::uint64_t> now{0};
  t.app.clockMs = [&] { return now.load(); };
  t.view.onEvents = [&] { now += 4000; };
  setenv("KESTRIN_DCC_FAIL", "dxGDIPlusD7", 1);
  t.Click(ctl::kCompileButton);
  unsetenv("KESTRIN_DCC_FAIL");
  EXPECT_EQ(t.view.notices, 1);
  using P = test::FakeView::Progress;
  ASSERT_GE(t.view.taskbar.size(), 5u);
  EXPECT_EQ(t.view.taskbar.front(), (P{0, 3, false}));
  EXPECT_EQ(t.view.taskbar[1], (P{1, 3, false}));
  EXPECT_EQ(t.view.taskbar[t.view.taskbar.size() - 2], (P{3, 3, true}));
  EXPECT_EQ(t.view.taskbar.back(), (P{0, 0, false}));
  t.view.onEvents = nullptr;
  t.Click(ctl::kCompileButton);
  EXPECT_EQ(t.view.notices, 1);
}

}  // namespace
}  // namespace kestrin
