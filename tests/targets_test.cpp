#include <gtest/gtest.h>

#include "app/controls.h"
#include "targets/ide_profile.h"
#include "targets/library_folder.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

TEST(NormalizeFolderPath, TrimsAndEndsInOneBackslash) {
  EXPECT_EQ(NormalizeFolderPath(""), "");
  EXPECT_EQ(NormalizeFolderPath(" \t  "), "");
  EXPECT_EQ(NormalizeFolderPath("  D:\\Delphi7\\  "), "D:\\Delphi7\\");
  EXPECT_EQ(NormalizeFolderPath("D:\\Delphi7"), "D:\\Delphi7\\");
  EXPECT_EQ(NormalizeFolderPath("\x01" "C:\\a b\r\n"), "C:\\a b\\");
}

struct Targets : ::testing::Test {
  TempDir dir;
  TestApp t;
  std::string Library() {
    dir.Write("lib/XP Theme Manager/readme.txt", "");
    return dir.Root() + "lib";
  }
};

TEST_F(Targets, ProbeEnablesExactlyTheRegisteredReleases) {
  t.RegisterIde(1, "C:\\D7", dir);
  t.RegisterIde(4, "C:\\BDS", dir);
  // Delphi 6: App names a file that is gone.
  t.registry.Set(std::string(kIdeProfiles[0].baseKey), "App", RegType::Sz, dir.Root() + "gone.exe");
  t.registry.Set(std::string(kIdeProfiles[0].baseKey), "RootDir", RegType::Sz, "C:\\D6");
  // Delphi 8: App without RootDir.
  t.registry.Set(std::string(kIdeProfiles[2].baseKey), "App", RegType::Sz, dir.Root() + "ide1/bin/ide.exe");
  // BDS 2005: App stored as a number; the probe goes on past it.
  t.registry.Set(std::string(kIdeProfiles[3].baseKey), "App", RegType::Dword, "7");
  t.registry.Set(std::string(kIdeProfiles[3].baseKey), "RootDir", RegType::Sz, "C:\\B");
  t.shell.folderAnswers.push_back(std::nullopt);
  FormShow(t.app);
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(t.view.enabled[ctl::kFirstIde + i], i == 1 || i == 4) << i;
  EXPECT_TRUE(t.view.messages.empty());
  EXPECT_EQ(t.app.selectedIde, -1);
  for (int id : {ctl::kBtnCompile, ctl::kButton4, ctl::kButton10, ctl::kButton8, ctl::kButton9, ctl::kCheckBox1})
    EXPECT_FALSE(t.view.enabled[id]);
  EXPECT_TRUE(t.view.enabled[ctl::kSelectDevDir]);
}

TEST_F(Targets, StartupTakesTheProgramFolderWhenItHoldsTheMarker) {
  // The test program's own folder holds no marker: the picker opens.
  t.shell.folderAnswers.push_back(Library());
  FormShow(t.app);
  ASSERT_EQ(t.shell.folderTitles.size(), 1u);
  EXPECT_EQ(t.shell.folderTitles[0], "请选择DEV的安装目录");
  EXPECT_EQ(t.view.path, dir.Root() + "lib\\");
  EXPECT_EQ(t.app.ctx.LibraryRoot, dir.Root() + "lib\\");
}

TEST_F(Targets, RefusedAndCancelledFoldersKeepTheEarlierOne) {
  t.shell.folderAnswers = {Library(), dir.Root() + "elsewhere", std::nullopt};
  SelectDevDirClick(t.app);
  const std::string accepted = dir.Root() + "lib\\";
  EXPECT_EQ(t.app.ctx.LibraryRoot, accepted);
  SelectDevDirClick(t.app);  // refused
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "您选择的不是DEV的安装目录");
  EXPECT_EQ(t.view.messages[0].caption, "提示");
  EXPECT_EQ(t.view.messages[0].icon, MessageIcon::Information);
  SelectDevDirClick(t.app);  // cancelled
  EXPECT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.app.ctx.LibraryRoot, accepted);
  EXPECT_EQ(t.view.path, accepted);
}

TEST_F(Targets, ChoosingAReleaseFillsTheContextAndLoadsTheFamily) {
  t.RegisterIde(1, "  C:\\Program Files\\Borland\\Delphi7  ", dir);
  t.RegisterIde(4, "D:\\BDS\\4.0\\", dir);
  t.RegisterIde(0, "", dir);
  t.view.path = Library();
  EditPathChange(t.app);
  FormShow(t.app);  // the marker is not beside the test program: picker, cancelled
  t.Choose(1);
  EXPECT_EQ(t.app.ctx.IdeBinDir, "C:\\Program Files\\Borland\\Delphi7\\bin");
  EXPECT_EQ(t.app.ctx.IdeShortSuffix, "D7");
  EXPECT_EQ(t.app.ctx.IdeLongSuffix, "Delphi7");
  EXPECT_EQ(t.view.rows.size(), 171u);
  for (int id : {ctl::kBtnCompile, ctl::kButton4, ctl::kButton9, ctl::kCheckBox1}) EXPECT_TRUE(t.view.enabled[id]);
  for (int id : {ctl::kButton10, ctl::kButton8}) EXPECT_FALSE(t.view.enabled[id]);
  BtnSelectClick(t.app);
  t.Choose(1);  // already selected: nothing happens, the ticks stay
  EXPECT_EQ(t.view.Ticked().size(), 171u);
  t.Choose(4);
  EXPECT_EQ(t.view.rows.size(), 131u);
  EXPECT_TRUE(t.view.Ticked().empty());
  EXPECT_EQ(t.app.lists.runtime.size(), 49u);
  EXPECT_EQ(t.app.ctx.IdeBinDir, "D:\\BDS\\4.0\\bin");
  EXPECT_EQ(t.app.ctx.IdeShortSuffix, "D10");
  t.app.states.copy = t.app.states.install = true;
  t.Choose(0);
  EXPECT_EQ(t.view.rows.size(), 171u);
  EXPECT_EQ(t.app.lists.runtime.size(), 65u);
  EXPECT_EQ(t.app.ctx.IdeBinDir, "bin");  // empty RootDir
  EXPECT_EQ(t.app.ctx.IdeLongSuffix, "Delphi6");
  EXPECT_FALSE(t.view.enabled[ctl::kButton10]);
  EXPECT_TRUE(t.view.checked[ctl::kDelphi6]);
  EXPECT_FALSE(t.view.checked[ctl::kBDS2006]);
}

TEST_F(Targets, ChoiceWithAnEmptyPathBoxAsksForTheFolderFirst) {
  t.RegisterIde(1, "C:\\D7", dir);
  t.shell.folderAnswers = {std::nullopt, std::nullopt};
  FormShow(t.app);
  EXPECT_EQ(t.shell.folderTitles.size(), 1u);
  t.Choose(1);
  EXPECT_EQ(t.shell.folderTitles.size(), 2u);
  EXPECT_EQ(t.app.ctx.LibraryRoot, "");
  EXPECT_EQ(t.app.ctx.IdeShortSuffix, "D7");  // the choice completes
}

TEST_F(Targets, SettingsChangedAfterTheProbe) {
  t.RegisterIde(1, "C:\\D7", dir);
  t.RegisterIde(4, "D:\\BDS", dir);
  t.view.path = Library();
  EditPathChange(t.app);
  FormShow(t.app);
  t.Choose(1);
  ASSERT_EQ(t.app.ctx.IdeBinDir, "C:\\D7\\bin");
  // BDS's RootDir disappears: the earlier IdeBinDir stays, the rest is set.
  t.registry.Remove(std::string(kIdeProfiles[4].baseKey), "RootDir");
  t.Choose(4);
  EXPECT_EQ(t.app.ctx.IdeBinDir, "C:\\D7\\bin");
  EXPECT_EQ(t.app.ctx.IdeShortSuffix, "D10");
  EXPECT_TRUE(t.view.messages.empty());
  // A numeric RootDir inside a choice: the error shows and the handler stops.
  t.registry.Set(std::string(kIdeProfiles[1].baseKey), "RootDir", RegType::Dword, "1");
  t.Choose(1);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Invalid data type for 'RootDir'");
  // The failed choice changed nothing: BDS 2006 is still the release, whole.
  EXPECT_EQ(t.app.selectedIde, 4);
  EXPECT_TRUE(t.view.checked[ctl::kBDS2006]);
  EXPECT_FALSE(t.view.checked[ctl::kDelphi7]);
  EXPECT_EQ(t.app.ctx.IdeShortSuffix, "D10");
  EXPECT_EQ(t.app.ctx.IdeLongSuffix, "Delphi10");
  EXPECT_EQ(t.view.rows.size(), 131u);
  EXPECT_EQ(t.app.lists.runtime.size(), 49u);
}

}  // namespace
}  // namespace kestrin
