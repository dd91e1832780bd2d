#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "app/controls.h"
#include "ide/uninstall.h"
#include "catalogue/ide_profiles.h"
#include "targets/library_folder.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

TEST(OverwriteAndDeleteFile, RewritesKeepingTheLengthThenDeletes) {
  TempDir d;
  // A file system that records what was written before the deletion.
  struct Spy : PosixFileSystem {
    std::string written;
    std::unique_ptr<File> CreateWrite(std::string_view path) override {
      struct F : File {
        std::unique_ptr<File> inner;
        std::string* log;
        long long Read(char* b, std::size_t n) override { return inner->Read(b, n); }
        long long ReadAt(long long o, char* b, std::size_t n) override { return inner->ReadAt(o, b, n); }
        bool Write(std::string_view s) override {
          *log += s;
          return inner->Write(s);
        }
        long long Size() override { return inner->Size(); }
        bool Flush() override { return inner->Flush(); }
        bool Close() override { return inner->Close(); }
      };
      auto f = std::make_unique<F>();
      f->inner = PosixFileSystem::CreateWrite(path);
      if (!f->inner) return nullptr;
      f->log = &written;
      return f;
    }
  } fs;
  for (int size : {3 * 65536 + 5, 1000, 2, 1, 0}) {  // the first takes several write blocks
    d.Write("f.bpl", std::string(size, 'q'));
    fs.written.clear();
    EXPECT_EQ(OverwriteAndDeleteFile(fs, d.Root() + "f.bpl"), DeleteResult::Deleted);
    EXPECT_EQ(fs.written, std::string(size > 2 ? size - 2 : 0, 'X') + "\r\n") << size;
    EXPECT_FALSE(d.Exists("f.bpl"));
  }
  d.Write("ro.bpl", "abc");
  ASSERT_TRUE(fs.SetAttributes(d.Root() + "ro.bpl", kAttrReadOnly));
  EXPECT_EQ(OverwriteAndDeleteFile(fs, d.Root() + "ro.bpl"), DeleteResult::Deleted);
  EXPECT_EQ(OverwriteAndDeleteFile(fs, d.Root() + "missing.bpl"), DeleteResult::Missing);
  EXPECT_FALSE(d.Exists("missing.bpl"));
}

TEST(OverwriteAndDeleteFile, AFileHeldOpenKeepsItsContentAndAttributes) {
  TempDir d;
  PosixFileSystem fs;
  d.Write("held.bpl", "content");
  fs.SetAttributes(d.Root() + "held.bpl", kAttrReadOnly);
  int fd = open((d.Path() / "held.bpl").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  EXPECT_EQ(OverwriteAndDeleteFile(fs, d.Root() + "held.bpl"), DeleteResult::Failed);
  close(fd);
  EXPECT_EQ(d.Read("held.bpl"), "content");
  std::uint32_t a = 0;
  ASSERT_TRUE(fs.GetAttributes(d.Root() + "held.bpl", &a));
  EXPECT_TRUE(a & kAttrReadOnly);
}

struct UninstallCommand : ::testing::Test {
  TempDir dir;
  TestApp t;
  std::string base;
  void Prepare(int ide) {
    dir.Write("sys/keep.dll", "x");
    t.StartWithRelease(dir, ide);
    base = std::string(kIdeProfiles[ide].baseKey);
  }
  std::string Out() { return dir.Root() + "lib\\Library\\" + std::string(t.target().longSuffix()); }
  bool Has(const std::string& key, const std::string& name) {
    RegValue v;
    return t.registry.Get(base + key, name, &v);
  }
};

TEST_F(UninstallCommand, RegistryOnlyWithoutTheCheckBox) {
  Prepare(1);
  t.registry.Set(base + "Known Packages", Out() + "\\dclcxGridD7.bpl", RegType::Sz, "d");
  t.registry.Set(base + "Known Packages", Out() + "\\DCLDXBARD7.BPL", RegType::Sz, "d");  // case aside
  t.registry.Set(base + "Known Packages", "C:\\Other\\dclcxGridD7.bpl", RegType::Sz, "by hand");
  t.registry.Set(base + "Disabled Packages", Out() + "\\dcldxRibbonD7.bpl", RegType::Sz, "d");
  t.registry.Set(base + "Library", "Search Path", RegType::Sz, "keep");
  dir.Write("lib/Library/Delphi7/dxCoreD7.bpl", "MZ");
  t.Click(ctl::kUninstallButton);
  EXPECT_FALSE(Has("Known Packages", Out() + "\\dclcxGridD7.bpl"));
  EXPECT_FALSE(Has("Known Packages", Out() + "\\dcldxBarD7.bpl"));
  EXPECT_FALSE(Has("Disabled Packages", Out() + "\\dcldxRibbonD7.bpl"));
  EXPECT_TRUE(Has("Known Packages", "C:\\Other\\dclcxGridD7.bpl"));
  EXPECT_TRUE(Has("Library", "Search Path"));
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/dxCoreD7.bpl"));
  EXPECT_EQ(t.view.commandPane, "删除设计时包信息成功.\r\n");
  EXPECT_EQ(t.view.Lines(), (std::vector<std::string>{
                                "=================================================", "从注册表中删除设计时包信息...",
                                "=================================================", "从注册表中删除禁用的设计时包信息...",
                                " ", "========================完成======================"}));
}

TEST_F(UninstallCommand, WithTheCheckBoxBothFoldersAreCleared) {
  Prepare(1);
  dir.Write("lib/Library/Delphi7/dxCoreD7.bpl", std::string(1000, 'b'));
  dir.Write("lib/Library/Delphi7/dclcxGridD7.bpl", "MZ");
  dir.Write("lib/Library/Delphi7/dxCoreMain.dcu", "unit");  // not a package file
  dir.Write("sys/cxDataD7.bpl", "MZ");
  dir.Write("sys/dxCoreD7.BPL", "MZ");
  dir.Write("sys/cxGridD7.bpl", "held");
  int fd = open((dir.Path() / "sys/cxGridD7.bpl").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  t.view.checked[ctl::kDeleteBplCheck] = true;
  t.Click(ctl::kUninstallButton);
  close(fd);
  EXPECT_FALSE(dir.Exists("lib/Library/Delphi7/dxCoreD7.bpl"));
  EXPECT_FALSE(dir.Exists("lib/Library/Delphi7/dclcxGridD7.bpl"));
  EXPECT_TRUE(dir.Exists("lib/Library/Delphi7/dxCoreMain.dcu"));
  EXPECT_FALSE(dir.Exists("sys/cxDataD7.bpl"));
  EXPECT_FALSE(dir.Exists("sys/dxCoreD7.BPL"));
  EXPECT_EQ(dir.Read("sys/cxGridD7.bpl"), "held");
  EXPECT_TRUE(dir.Exists("sys/keep.dll"));
  auto lines = t.view.Lines();
  const std::string sys = dir.Root() + "sys\\";
  std::vector<std::string> expected = {
      "=================================================", "从注册表中删除设计时包信息...",
      "=================================================", "从注册表中删除禁用的设计时包信息...",
      "=================================================", "删除组件安装目录下的设计时包文件...",
      "删除：" + Out() + "\\dxCoreD7.BPL 成功.", "删除：" + Out() + "\\dclcxGridD7.BPL 成功.",
      "=================================================", "删除System32目录下的运行时包文件",
      "删除：" + dir.Root() + "sys\\cxDataD7.BPL 成功.", "删除：" + dir.Root() + "sys\\cxGridD7.BPL 失败. Device or resource busy",
      "删除：" + dir.Root() + "sys\\dxCoreD7.BPL 成功.", " ", "========================完成======================"};
  EXPECT_EQ(lines, expected);
}

TEST_F(UninstallCommand, Delphi6LogsEveryValueAndBds2005SaysRemoved) {
  Prepare(0);
  t.registry.Set(base + "Known Packages", Out() + "\\dclcxGridD6.bpl", RegType::Sz, "d");
  t.registry.Set(base + "Disabled Packages", Out() + "\\dclcxGridD6.bpl", RegType::Sz, "d");
  t.view.checked[ctl::kDeleteBplCheck] = true;
  dir.Write("sys/cxDataD6.bpl", "MZ");
  t.Click(ctl::kUninstallButton);
  auto lines = t.view.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "删除：" + Out() + "\\dclcxGridD6.bpl"), 2);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "删除System32目录下的运行时包文件..."), lines.end());
  EXPECT_FALSE(Has("Disabled Packages", Out() + "\\dclcxGridD6.bpl"));

  TempDir dir2;
  TestApp t2;
  dir2.Write("lib/XP Theme Manager/x", "");
  dir2.Write("sys/cxDataD9.bpl", "MZ");
  t2.fs.SetSystemFolder(dir2.Root() + "sys");
  t2.RegisterIde(3, dir2.Root() + "ide", dir2);
  const std::string base2(kIdeProfiles[3].baseKey);
  t2.registry.Set(base2 + "Known Packages", dir2.Root() + "lib\\Library\\Delphi9\\dclcxGridD9.bpl", RegType::Sz, "d");
  t2.shell.folderAnswers.push_back(std::nullopt);
  t2.Start();
  t2.app.SetLibraryFolder(dir2.Root() + "lib\\");
  t2.Choose(3);
  t2.view.checked[ctl::kDeleteBplCheck] = true;
  t2.Click(ctl::kUninstallButton);
  auto l2 = t2.view.Lines();
  EXPECT_EQ(l2[3], "从注册表中删除设计时包信息...");  // the BDS header for disabled packages
  EXPECT_NE(std::find(l2.begin(), l2.end(), "移除：" + dir2.Root() + "sys\\cxDataD9.BPL 成功."), l2.end());
  for (const auto& l : l2) EXPECT_EQ(l.find("dclcxGridD9.bpl"), std::string::npos) << "BDS deletes silently";
  RegValue v;
  EXPECT_FALSE(t2.registry.Get(base2 + "Known Packages", dir2.Root() + "lib\\Library\\Delphi9\\dclcxGridD9.bpl", &v));
}

TEST_F(UninstallCommand, EmptyLibraryFolderDeletesNothingThere) {
  dir.Write("sys/cxDataD7.bpl", "MZ");
  t.fs.SetSystemFolder(dir.Root() + "sys");
  t.RegisterIde(1, dir.Root() + "ide", dir);
  t.shell.folderAnswers = {std::nullopt, std::nullopt};
  t.Start();
  t.Choose(1);
  ASSERT_EQ(t.target().library, "");
  t.view.checked[ctl::kDeleteBplCheck] = true;
  t.Click(ctl::kUninstallButton);
  auto lines = t.view.Lines();
  EXPECT_EQ(lines[5], "删除组件安装目录下的设计时包文件...");
  EXPECT_EQ(lines[6], "=================================================");
  EXPECT_FALSE(dir.Exists("sys/cxDataD7.bpl"));
  EXPECT_FALSE(std::filesystem::exists("Library"));
}


// Another name for the same content (a hard link, a symbolic link) loses
// only its name; what it leads to is never overwritten.
TEST(OverwriteAndDeleteFile, LinksLoseTheirNameOnly) {
  TempDir d;
  d.Write("outside/precious.dll", "precious");
  d.Write("out/x.txt", "");
  std::filesystem::create_hard_link(d.Path() / "outside/precious.dll", d.Path() / "out/hardD7.BPL");
  std::filesystem::create_symlink(d.Path() / "outside/precious.dll", d.Path() / "out/softD7.BPL");
  PosixFileSystem fs;
  EXPECT_EQ(OverwriteAndDeleteFile(fs, d.Root() + "out\\hardD7.BPL"), DeleteResult::Deleted);
  EXPECT_EQ(OverwriteAndDeleteFile(fs, d.Root() + "out\\softD7.BPL"), DeleteResult::Deleted);
  EXPECT_FALSE(d.Exists("out/hardD7.BPL"));
  EXPECT_FALSE(std::filesystem::is_symlink(d.Path() / "out/softD7.BPL"));
  EXPECT_EQ(d.Read("outside/precious.dll"), "precious");
}

// Only "not found" is absence: any other failure to reach a file or a value
// is a failure line with the reason, and the pane says not all went.
TEST_F(UninstallCommand, ErrorsAreNotAbsence) {
  Prepare(1);
  t.registry.Set(base + "Known Packages", Out() + "\\dclcxGridD7.bpl", RegType::Sz, "d");
  t.registry.FailValueAccess(base + "Known Packages");
  t.registry.DenyWrites(base + "Disabled Packages");
  t.fs.InjectError(dir.Root() + "sys\\cxDataD7.BPL", EACCES);
  t.fs.InjectError(Out() + "\\dxCoreD7.BPL", ENAMETOOLONG);
  t.view.checked[ctl::kDeleteBplCheck] = true;
  t.Click(ctl::kUninstallButton);
  auto lines = t.view.Lines();
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("删除：" + Out() + "\\dclcxGridD7.bpl 失败. Access is denied."));
  EXPECT_TRUE(has("无法打开注册表键 " + base + "Disabled Packages\\: Access is denied."));
  EXPECT_TRUE(has("删除：" + dir.Root() + "sys\\cxDataD7.BPL 失败. Permission denied"));
  EXPECT_TRUE(has("删除：" + Out() + "\\dxCoreD7.BPL 失败. File name too long"));
  EXPECT_EQ(t.view.commandPane, "部分设计时包信息未能删除(2 项), 详见日志.\r\n");
  EXPECT_TRUE(Has("Known Packages", Out() + "\\dclcxGridD7.bpl"));
}

}  // namespace
}  // namespace kestrin
