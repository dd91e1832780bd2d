#include <gtest/gtest.h>

#include "app/controls.h"
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
  t.app.OnCommand(ctl::kSaveLogMenu);
  EXPECT_EQ(t.shell.saveFilters[0], "文本文件(*.TXT)|*.TXT|所有文件(*.*)|*.*");
  EXPECT_EQ(t.shell.saveFolders[0], t.fs.ExecutableFolder());
  EXPECT_EQ(d.Read("build.txt"), "\xB1\xE0\xD2\xEB\xD7\xE9\xBC\xFE...\r\nline1\r\nline2\r\n");
  EXPECT_FALSE(d.Exists("build.txt.txt"));
  t.view.ClearLog();
  t.app.OnCommand(ctl::kSaveLogMenu);
  EXPECT_EQ(d.Read("empty.txt"), "");
  t.app.OnCommand(ctl::kSaveLogMenu);  // cancelled: nothing written
  t.shell.saveAnswers = {d.Root() + "no/such/folder/x"};
  t.app.OnCommand(ctl::kSaveLogMenu);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_NE(t.view.messages[0].text.find(d.Root() + "no/such/folder/x.txt"), std::string::npos);
}

TEST(Panes, ButtonsOfThePanes) {
  TestApp t;
  t.view.commandPane = "dir\r\ncd ..\r\n";
  t.app.OnCommand(ctl::kCopyCommandsButton);
  EXPECT_EQ(t.view.clipboard, "dir\r\ncd ..\r\n");
  t.app.OnCommand(ctl::kClearCommandsButton);
  EXPECT_EQ(t.view.commandPane, "");
  t.view.AppendLog("x");
  t.app.OnCommand(ctl::kClearLogButton);
  EXPECT_TRUE(t.view.log.empty());
  t.app.OnCommand(ctl::kRunCmdButton);
  EXPECT_EQ(t.shell.prompts, 1);
  t.app.OnCommand(ctl::kForumLink);
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
  t.app.OnCommand(ctl::kCompileButton);
  t.app.OnCommand(ctl::kCopyButton);
  EXPECT_TRUE(t.view.log.empty());
  t.app.OnCommand(110);  // Delphi6 is not registered
  EXPECT_EQ(t.target().release, nullptr);
  t.Choose(1);
  EXPECT_EQ(states(), "110011");
  t.app.OnCommand(ctl::kVerifyButton);
  EXPECT_EQ(states(), "111111");
  t.app.OnCommand(ctl::kCopyButton);
  EXPECT_EQ(states(), "111111");
  t.Choose(2);
  EXPECT_EQ(states(), "110011");
  t.app.OnCommand(ctl::kVerifyButton);
  t.app.OnCommand(ctl::kCompileButton);
  EXPECT_EQ(states(), "110011");
}

TEST(CommandStates, NothingStartsInsideARunningCommandAndExitWaits) {
  TempDir d;
  TestApp t;
  t.SetUpLibrary(d, 1, {"D7"});
  for (int i = 0; i < 3; ++i) t.view.SetTicked(i, true);
  bool ended = false;
  t.app.endProgram = [&] { ended = true; };
  int nested = 0;
  t.view.onPump = [&] {
    if (nested++) return;
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
  t.app.OnCommand(ctl::kCompileButton);
  EXPECT_TRUE(ended);
  auto lines = t.view.Lines();
  EXPECT_EQ(lines.back(), "========================完成======================");
  EXPECT_TRUE(t.view.enabled[ctl::kVerifyButton]);
}

}  // namespace
}  // namespace kestrin
