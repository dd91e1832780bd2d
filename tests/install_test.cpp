#include <gtest/gtest.h>

#include "app/controls.h"
#include "ide/folder_list.h"
#include "targets/library_folder.h"
#include "platform/text.h"
#include "catalogue/ide_profiles.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

TEST(MergeSearchPath, AppendsOnlyWhatIsMissing) {
  EXPECT_EQ(MergeSearchPath("", {"a", "b"}), "a;b");
  EXPECT_EQ(MergeSearchPath("$(DELPHI)\\Lib;C:\\X\\", {"c:\\x", "", "Y", "y\\"}), "$(DELPHI)\\Lib;C:\\X\\;Y");
  EXPECT_EQ(MergeSearchPath("a;", {"b"}), "a;b");
  std::string once = MergeSearchPath("u;v", {"p", "q"});
  EXPECT_EQ(MergeSearchPath(once, {"p", "q"}), once);
}

struct InstallCommand : ::testing::Test {
  TempDir dir;
  TestApp t;
  std::string base;
  void Prepare(int ide) {
    t.StartWithRelease(dir, ide);
    base = std::string(kIdeProfiles[ide].baseKey);
    t.app.Apply(StateEvent::VerifyEnded);
  }
  std::string Value(const std::string& key, const std::string& name) {
    RegValue v;
    return t.registry.Get(base + key, name, &v) ? v.data : "<absent>";
  }
  std::string Out() { return dir.Root() + "lib\\Library\\" + t.ctx().ideLongSuffix; }
};

TEST_F(InstallCommand, WritesSearchPathAndKnownPackages) {
  Prepare(1);
  t.registry.Set(base + "Library", "Search Path", RegType::ExpandSz, "$(DELPHI)\\Lib");
  t.registry.CreateKey(base + "Known Packages");
  t.registry.Set(base + "Known Packages", Out() + "\\dclcxGridD7.bpl", RegType::Sz, "old text");
  t.registry.Set(base + "Known Packages", "C:\\Other\\dclcxGridD7.bpl", RegType::Sz, "by hand");
  dir.Write("lib/Library/Delphi7/dclcxGridD7.bpl", "MZ");
  dir.Write("lib/Library/Delphi7/dcldxSpellCheckerD7.bpl", "MZ");
  dir.Write("lib/Library/Delphi7/sub/dcldxBarD7.bpl", "MZ");  // not directly in the folder
  t.app.OnCommand(ctl::kInstallButton);
  ASSERT_TRUE(t.view.messages.empty()) << t.view.messages[0].text;
  const std::string out_short = t.fs.ShortPath(Out());
  std::string expected_addition = out_short + ";" + out_short + ";" + out_short;
  for (std::string_view p : kProductSourceFolders)
    expected_addition += ";" + dir.Root() + "lib\\" + std::string(p) + "\\Sources";
  const std::string expected_path = "$(DELPHI)\\Lib;" + out_short + ";" +
                                    expected_addition.substr(3 * out_short.size() + 3);
  EXPECT_EQ(Value("Library", "Search Path"), expected_path);
  RegValue v;
  ASSERT_TRUE(t.registry.Get(base + "Library", "Search Path", &v));
  EXPECT_EQ(v.type, RegType::Sz);
  EXPECT_EQ(Value("Known Packages", Out() + "\\dclcxGridD7.bpl"),
            "ExpressQuantumGrid 6 (VCL Edition) by Developer Express Inc.");
  EXPECT_EQ(Value("Known Packages", Out() + "\\dcldxSpellCheckerD7.bpl"),
            "ExpressSpellChecker by Developer Express Inc.");
  EXPECT_EQ(Value("Known Packages", Out() + "\\dcldxBarD7.bpl"), "<absent>");
  EXPECT_EQ(Value("Known Packages", "C:\\Other\\dclcxGridD7.bpl"), "by hand");
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], "安装到：Delphi7");
  EXPECT_EQ(lines[2], "添加搜索路径：" + expected_addition);
  EXPECT_EQ(lines[3], "添加设计时包:" + Out() + "\\dclcxGridD7.bpl 到注册表成功.");
  EXPECT_EQ(lines[4], "添加设计时包:" + Out() + "\\dcldxSpellCheckerD7.bpl 到注册表成功.");
  EXPECT_EQ(lines[6], "========================完成======================");
  // A second install leaves the search path as it is.
  t.app.OnCommand(ctl::kInstallButton);
  EXPECT_EQ(Value("Library", "Search Path"), expected_path);
}

TEST_F(InstallCommand, AbsentSearchPathGetsNoLeadingSeparatorAndNoEmptyEntry) {
  Prepare(4);  // BDS 2006; no output folder exists yet
  t.registry.CreateKey(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  t.app.OnCommand(ctl::kInstallButton);
  std::string sp = Value("Library", "Search Path");
  EXPECT_EQ(sp, dir.Root() + "lib\\ExpressBars 6\\Sources" + sp.substr(sp.find(';')));
  EXPECT_EQ(sp.find(";;"), std::string::npos);
  auto lines = t.view.Lines();
  EXPECT_EQ(lines[1], "安装到：BDS 2006");
  EXPECT_EQ(lines.size(), 5u);  // no package file, no package line
}

TEST_F(InstallCommand, MissingLibraryKeyStopsWithAMessage) {
  Prepare(1);
  t.registry.CreateKey(base + "Known Packages");
  t.app.OnCommand(ctl::kInstallButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Failed to set data for 'Search Path'");
  EXPECT_EQ(t.view.messages[0].icon, MessageIcon::Error);
  EXPECT_TRUE(t.view.log.empty());
  EXPECT_FALSE(t.registry.KeyExists(base + "Library"));
}

TEST_F(InstallCommand, MissingKnownPackagesKeyStopsAtTheFirstPackage) {
  Prepare(1);
  t.registry.CreateKey(base + "Library");
  dir.Write("lib/Library/Delphi7/dclcxGridD7.bpl", "MZ");
  t.app.OnCommand(ctl::kInstallButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Failed to set data for '" + Out() + "\\dclcxGridD7.bpl'");
  auto lines = t.view.Lines();
  EXPECT_EQ(lines.size(), 3u);  // the branch lines, no closing lines
  EXPECT_NE(Value("Library", "Search Path"), "<absent>");
  EXPECT_FALSE(t.registry.KeyExists(base + "Known Packages"));
}

TEST_F(InstallCommand, SearchPathOfTheWrongTypeStopsBeforeAnyWrite) {
  Prepare(1);
  t.registry.Set(base + "Library", "Search Path", RegType::Dword, "5");
  t.registry.CreateKey(base + "Known Packages");
  const std::string before = t.registry.DumpText();
  t.app.OnCommand(ctl::kInstallButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Invalid data type for 'Search Path'");
  EXPECT_EQ(t.registry.DumpText(), before);
}

TEST_F(InstallCommand, SearchPathHoldingOurFoldersInAnotherCaseIsLeftAlone) {
  Prepare(1);
  std::string mine;
  for (std::string_view p : kProductSourceFolders)
    mine += ToLowerAscii(dir.Root() + "lib\\" + std::string(p) + "\\Sources\\") + ";";
  mine += "C:\\Mine";
  t.registry.Set(base + "Library", "Search Path", RegType::Sz, mine);
  t.registry.CreateKey(base + "Known Packages");
  t.app.OnCommand(ctl::kInstallButton);
  EXPECT_EQ(Value("Library", "Search Path"), mine);
}


// A Search Path that is there but cannot be read is not an empty one: the
// install stops before it writes anything, so the user's entries survive.
TEST_F(InstallCommand, AnUnreadableSearchPathStopsBeforeAnyWrite) {
  Prepare(1);
  t.registry.Set(base + "Library", "Search Path", RegType::Sz, "$(DELPHI)\\Lib;C:\\Mine");
  t.registry.FailValueAccess(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  dir.Write("lib/Library/Delphi7/dclcxGridD7.bpl", "MZ");
  const std::string before = t.registry.DumpText();
  t.app.OnCommand(ctl::kInstallButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Failed to get data for 'Search Path': Access is denied.");
  EXPECT_EQ(t.registry.DumpText(), before);
  EXPECT_TRUE(t.view.log.empty());
}

}  // namespace
}  // namespace kestrin
