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
  t.Click(ctl::kCopyButton);
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
  t.Click(ctl::kCopyButton);
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
  t.Click(ctl::kCopyButton);
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
  t.Click(ctl::kCopyButton);
  const std::string out = dir.Root() + "lib\\Library\\Delphi7";
  RegValue v;
  ASSERT_TRUE(t.registry.Get("Environment", "Path", &v));
  EXPECT_EQ(v.type, RegType::ExpandSz);
  EXPECT_EQ(v.data, "%USERPROFILE%\\bin;C:\\Tools;" + out);
  EXPECT_EQ(t.shell.environmentAnnouncements, 1);
  EXPECT_EQ(t.view.Lines()[2], "已将输出目录加入当前用户的 PATH 环境变量: " + out);
  EXPECT_FALSE(dir.Exists("sys/cxDataD7.bpl"));
  EXPECT_TRUE(t.registry.Get("Software\\Kestrin\\UserPath", out, &v));
  t.Click(ctl::kUninstallButton);
  ASSERT_TRUE(t.registry.Get("Environment", "Path", &v));
  EXPECT_EQ(v.data, "%USERPROFILE%\\bin;C:\\Tools");
  EXPECT_EQ(v.type, RegType::ExpandSz);
  EXPECT_EQ(t.shell.environmentAnnouncements, 2);
  EXPECT_FALSE(t.registry.Get("Software\\Kestrin\\UserPath", out, &v));
}

// An entry that was there before the copy is the user's: nothing is
// recorded, and the uninstall keeps it and says so. Old copies of the
// release's runtime packages in the system folder are named.
TEST_F(Deploy, TheUsersOwnPathEntryStaysAndOldCopiesAreNamed) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "d");
  for (const char* old : {"dxCoreD7.bpl", "cxDataD7.BPL", "cxDataD6.bpl", "dclcxGridD7.bpl"})
    dir.Write(std::string("sys/") + old, "old");
  const std::string out = dir.Root() + "lib\\Library\\Delphi7", mine = "C:\\Tools;" + out + "\\";
  t.registry.Set("Environment", "Path", RegType::Sz, mine);
  t.fs.InjectError(dir.Root() + "sys\\kestrin-write-test", EACCES);
  t.view.answers = {true};
  t.Click(ctl::kCopyButton);
  auto lines = t.view.Lines();
  EXPECT_EQ(lines[2], "输出目录已在当前用户的 PATH 环境变量中: " + out);
  EXPECT_EQ(lines[3], "系统目录中已有同名的运行时包, Windows 会先加载它们: cxDataD7.BPL, dxCoreD7.bpl");
  EXPECT_NE(lines[4].find("以管理员身份运行"), std::string::npos);
  EXPECT_FALSE(t.registry.KeyExists("Software\\Kestrin\\UserPath"));
  t.view.ClearLog();
  t.Click(ctl::kUninstallButton);
  RegValue v;
  ASSERT_TRUE(t.registry.Get("Environment", "Path", &v));
  EXPECT_EQ(v.data, mine);
  EXPECT_EQ(t.view.Lines()[4], "PATH 中的输出目录不是本工具添加的, 保留: " + out);
  t.registry.Set("Environment", "Path", RegType::Dword, "7");
  t.view.ClearLog();
  t.Click(ctl::kUninstallButton);
  EXPECT_EQ(t.view.Lines()[4].rfind("当前用户的 PATH 环境变量不是文本", 0), 0u) << t.view.Lines()[4];
}

// A folder that PATH cannot carry, or that is not fully qualified, is
// refused with a line that names it and why, and nothing is written.
TEST_F(Deploy, FoldersUnfitForPathAreRefused) {
  t.registry.Set("Environment", "Path", RegType::Sz, "C:\\Tools");
  const std::string before = t.registry.DumpText();
  t.fs.InjectError(dir.Root() + "sys\\", EACCES);
  const std::pair<std::string, std::string> cases[] = {
      {dir.Root() + "a;b\\", "含有分号"}, {dir.Root() + "100%\\", "含有百分号"},
      {"lib\\", "不是完整路径"}, {dir.Root() + "gone\\", "无法取得它的长路径形式"}};
  for (const auto& [root, why] : cases) {
    t.app.SetLibraryFolder(root);
    t.view.answers = {true};
    t.view.ClearLog();
    t.Click(ctl::kCopyButton);
    const std::string line = t.view.Lines()[2];
    EXPECT_EQ(line.rfind("无法把输出目录加入当前用户的 PATH 环境变量 (未作任何修改): " + root +
                             "Library\\Delphi7 " + why, 0), 0u) << line;
  }
  EXPECT_EQ(t.registry.DumpText(), before);
  for (const char* full : {"C:\\Lib", "c:\\", "\\\\srv\\share", "\\\\srv\\share\\Lib"})
    EXPECT_TRUE(IsFullyQualifiedWindowsPath(full)) << full;
  for (const char* partial : {"C:Lib", "\\Lib", "Lib", "\\\\srv", "\\\\srv\\", "\\\\?\\C:\\Lib", "/tmp/x"})
    EXPECT_FALSE(IsFullyQualifiedWindowsPath(partial)) << partial;
}

TEST(CopyFileByStream, SourceHeldOpenIsRefusedAndNothingIsCreated) {
  TempDir d;
  d.Write("src.bin", "abc");
  PosixFileSystem fs;
  int fd = open((d.Path() / "src.bin").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);
  EXPECT_TRUE(CopyFileByStream(fs, d.Root() + "src.bin", d.Root() + "dst.bin", 1).has_value());
  EXPECT_FALSE(d.Exists("dst.bin"));
  close(fd);
  EXPECT_FALSE(CopyFileByStream(fs, d.Root() + "src.bin", d.Root() + "dst.bin", 1).has_value());
  EXPECT_EQ(d.Read("dst.bin"), "abc");
  EXPECT_TRUE(CopyFileByStream(fs, d.Root() + "none.bin", d.Root() + "x.bin", 1).has_value());
}


// A copy is put in place only once it is whole: a failed replacement leaves
// the earlier copy and no stray file beside it.
TEST_F(Deploy, AFailedCopyLeavesTheEarlierCopyWholeAndNoTemporaryFile) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "new");
  dir.Write("sys/cxDataD7.bpl", "old copy");
  int fd = open((dir.Path() / "sys" / "cxDataD7.bpl").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_SH), 0);  // a program has it loaded
  t.Click(ctl::kCopyButton);
  close(fd);
  EXPECT_EQ(dir.Read("sys/cxDataD7.bpl"), "old copy");
  for (const auto& e : std::filesystem::directory_iterator(dir.Path() / "sys"))
    EXPECT_FALSE(e.path().string().ends_with(".kestrin-tmp")) << e.path();
  EXPECT_EQ(t.view.Lines()[2].rfind("复制 cxDataD7.bpl 到System32目录失败: ", 0), 0u);
}

// Temporary files left by a run cut short go with the next copy (system
// folder) and uninstall (both folders); one another run holds open stays.
TEST_F(Deploy, LeftTemporaryFilesAreRemoved) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl.1-1.kestrin-tmp", "left");
  dir.Write("sys/cxDataD7.bpl.kestrin-tmp", "left");
  dir.Write("sys/dxCoreD7.bpl.9-2.kestrin-tmp", "held");
  int fd = open((dir.Path() / "sys/dxCoreD7.bpl.9-2.kestrin-tmp").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  t.Click(ctl::kCopyButton);
  const std::string sys = dir.Root() + "sys\\";
  auto lines = t.view.Lines();
  EXPECT_EQ(lines[2], "已删除遗留的临时文件: " + sys + "cxDataD7.bpl.kestrin-tmp");
  EXPECT_EQ(lines[3].rfind("无法删除遗留的临时文件 " + sys + "dxCoreD7.bpl.9-2.kestrin-tmp: ", 0), 0u);
  close(fd);
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/cxDataD7.bpl.1-1.kestrin-tmp"));
  t.view.checked[ctl::kDeleteBplCheck] = true;
  t.Click(ctl::kUninstallButton);
  EXPECT_FALSE(dir.Exists("lib/Library/Delphi7/cxDataD7.bpl.1-1.kestrin-tmp"));
  EXPECT_FALSE(dir.Exists("sys/dxCoreD7.bpl.9-2.kestrin-tmp"));
}

// Without a system folder, copy and uninstall stop with a message before any
// file is touched (an empty folder would mean the current drive's root).
TEST_F(Deploy, NoSystemFolderStopsCopyAndUninstall) {
  dir.Write("lib/Library/Delphi7/cxDataD7.bpl", "d");
  t.fs.SetSystemFolder("");
  t.Click(ctl::kCopyButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text.rfind("无法取得系统目录, 未复制任何运行时包", 0), 0u);
  EXPECT_TRUE(t.view.log.empty());
  t.view.checked[ctl::kDeleteBplCheck] = true;
  t.Click(ctl::kUninstallButton);
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
