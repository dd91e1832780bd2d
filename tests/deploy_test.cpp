#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "app/controls.h"
#include "ide/deploy.h"
#include "ide/folder_list.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

struct Deploy : ::testing::Test {
  TempDir dir;
  TestApp t;
  void SetUp() override {
    dir.Write("sys/keep.dll", "not ours");
    t.StartWithRelease(dir, 1);
    t.app.Apply(StateEvent::VerifyEnded);
  }
};

TEST_F(Deploy, CopiesEveryRuntimePackageFoundAndSkipsTheRest) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "data-bytes");
  dir.Write("lib/Library/Delphi7/deep/er/dxCoreD7.BPL", std::string(70000, 'c'));
  dir.Write("lib/Library/Delphi7/dclcxGridD7.bpl", "design, not copied");
  dir.Write("sys/cxDataD7.bpl", "an older copy that is replaced");
  t.app.OnCommand(ctl::kCopyButton);
  EXPECT_EQ(dir.Read("sys/cxDataD7.bpl"), "data-bytes");
  EXPECT_TRUE(dir.Read("sys/dxCoreD7.BPL") == std::string(70000, 'c'));
  EXPECT_FALSE(dir.Exists("sys/dclcxGridD7.bpl"));
  EXPECT_EQ(dir.Read("sys/keep.dll"), "not ours");
  EXPECT_EQ(t.view.Lines(), (std::vector<std::string>{
                                "=================================================", "复制运行时包到System32目录",
                                "复制 cxDataD7.bpl 到System32目录成功.", "复制 dxCoreD7.BPL 到System32目录成功.",
                                " ", "========================完成======================"}));
  for (int id : {ctl::kCompileButton, ctl::kVerifyButton, ctl::kCopyButton, ctl::kInstallButton}) EXPECT_TRUE(t.view.enabled[id]);
}

TEST_F(Deploy, AFailedCopyIsLoggedAndTheLoopGoesOn) {
  dir.Write("lib/Library/Delphi7/cxADOAdaptersD7.bpl", "a");
  dir.Write("lib/Library/Delphi7/cxBarEditItemD7.bpl", "b");
  dir.Write("lib/Library/Delphi7/cxBDEAdaptersD7.bpl", "c");
  dir.Write("sys/cxBarEditItemD7.bpl", "in use");
  int fd = open((dir.Path() / "sys/cxBarEditItemD7.bpl").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  t.app.OnCommand(ctl::kCopyButton);
  close(fd);
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[2], "复制 cxADOAdaptersD7.bpl 到System32目录成功.");
  EXPECT_EQ(lines[3].rfind("复制 cxBarEditItemD7.bpl 到System32目录失败: ", 0), 0u) << lines[3];
  EXPECT_GT(lines[3].size(), std::string("复制 cxBarEditItemD7.bpl 到System32目录失败: ").size());
  EXPECT_EQ(lines[4], "复制 cxBDEAdaptersD7.bpl 到System32目录成功.");
  EXPECT_EQ(dir.Read("sys/cxBarEditItemD7.bpl"), "in use");
}

// A system folder that takes no new file: the user is asked; No copies
// nothing and says why, Yes puts the output folder on the user's PATH
// (keeping the value's type and entries), which the uninstall takes back.
TEST_F(Deploy, NoWriteAccessToTheSystemFolder) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "d");
  t.fs.InjectError(dir.Root() + "sys\\", EACCES);
  t.app.OnCommand(ctl::kCopyButton);
  ASSERT_EQ(t.view.questions.size(), 1u);
  EXPECT_EQ(t.view.questions[0].caption, "提示");
  EXPECT_NE(t.view.questions[0].text.find("管理员权限"), std::string::npos);
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "系统目录不可写 (需要管理员权限), 未复制任何运行时包: Permission denied");
  EXPECT_FALSE(t.registry.KeyExists("Environment"));

  t.registry.Set("Environment", "Path", RegType::ExpandSz, "%USERPROFILE%\\bin;C:\\Tools");
  t.view.answers = {true};
  t.view.ClearLog();
  t.app.OnCommand(ctl::kCopyButton);
  const std::string out = dir.Root() + "lib\\Library\\Delphi7";
  RegValue v;
  ASSERT_TRUE(t.registry.Get("Environment", "Path", &v));
  EXPECT_EQ(v.type, RegType::ExpandSz);
  EXPECT_EQ(v.data, "%USERPROFILE%\\bin;C:\\Tools;" + out);
  EXPECT_EQ(t.shell.environmentAnnouncements, 1);
  EXPECT_EQ(t.view.Lines()[2], "已将输出目录加入当前用户的 PATH 环境变量: " + out);
  EXPECT_FALSE(dir.Exists("sys/cxDataD7.bpl"));
  t.app.OnCommand(ctl::kUninstallButton);
  ASSERT_TRUE(t.registry.Get("Environment", "Path", &v));
  EXPECT_EQ(v.data, "%USERPROFILE%\\bin;C:\\Tools");
  EXPECT_EQ(v.type, RegType::ExpandSz);
  EXPECT_EQ(t.shell.environmentAnnouncements, 2);
}

TEST(CopyFileByStream, SourceHeldOpenIsRefusedAndNothingIsCreated) {
  TempDir d;
  d.Write("src.bin", "abc");
  PosixFileSystem fs;
  int fd = open((d.Path() / "src.bin").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);
  EXPECT_TRUE(CopyFileByStream(fs, d.Root() + "src.bin", d.Root() + "dst.bin").has_value());
  EXPECT_FALSE(d.Exists("dst.bin"));
  close(fd);
  EXPECT_FALSE(CopyFileByStream(fs, d.Root() + "src.bin", d.Root() + "dst.bin").has_value());
  EXPECT_EQ(d.Read("dst.bin"), "abc");
  EXPECT_TRUE(CopyFileByStream(fs, d.Root() + "none.bin", d.Root() + "x.bin").has_value());
}


// A copy is put in place only once it is whole: a failed replacement leaves
// the earlier copy and no stray file beside it.
TEST_F(Deploy, AFailedCopyLeavesTheEarlierCopyWholeAndNoTemporaryFile) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "new");
  dir.Write("sys/cxDataD7.bpl", "old copy");
  int fd = open((dir.Path() / "sys" / "cxDataD7.bpl").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);  // a program has it loaded
  t.app.OnCommand(ctl::kCopyButton);
  close(fd);
  EXPECT_EQ(dir.Read("sys/cxDataD7.bpl"), "old copy");
  EXPECT_FALSE(dir.Exists("sys/cxDataD7.bpl.kestrin-tmp"));
  EXPECT_EQ(t.view.Lines()[2].rfind("复制 cxDataD7.bpl 到System32目录失败: ", 0), 0u);
}

// Without a system folder, copy and uninstall stop with a message before any
// file is touched (an empty folder would mean the current drive's root).
TEST_F(Deploy, NoSystemFolderStopsCopyAndUninstall) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "d");
  t.fs.SetSystemFolder("");
  t.app.OnCommand(ctl::kCopyButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text.rfind("无法取得系统目录, 未复制任何运行时包", 0), 0u);
  EXPECT_TRUE(t.view.log.empty());
  t.view.checked[ctl::kDeleteBplCheck] = true;
  t.app.OnCommand(ctl::kUninstallButton);
  ASSERT_EQ(t.view.messages.size(), 2u);
  EXPECT_EQ(t.view.messages[1].text.rfind("无法取得系统目录, 未删除任何包文件", 0), 0u);
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/cxDataD7.bpl"));
}

TEST(UserPath, EntriesAddedOnceAndRemovedAlone) {
  EXPECT_EQ(AddPathEntry("", "C:\\Lib\\D7"), "C:\\Lib\\D7");
  EXPECT_EQ(AddPathEntry("C:\\A;", "C:\\Lib\\D7"), "C:\\A;C:\\Lib\\D7");
  EXPECT_EQ(AddPathEntry("C:\\A;c:\\lib\\d7\\;C:\\B", "C:\\Lib\\D7"), std::nullopt);
  EXPECT_EQ(RemovePathEntry("C:\\A;c:\\lib\\d7\\;;%X%;C:\\Lib\\D7x", "C:\\Lib\\D7"),
            "C:\\A;;%X%;C:\\Lib\\D7x");
  EXPECT_EQ(RemovePathEntry("C:\\Lib\\D7", "C:\\Lib\\D7"), "");
  EXPECT_EQ(RemovePathEntry("C:\\A;C:\\B", "C:\\Lib\\D7"), std::nullopt);
}

}  // namespace
}  // namespace kestrin
