#include <gtest/gtest.h>

#include "app/controls.h"
#include "catalogue/ide_profiles.h"
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
  t.Start();
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(t.view.enabled[ctl::kFirstRelease + i], i == 1 || i == 4) << i;
  EXPECT_TRUE(t.view.messages.empty());
  EXPECT_EQ(t.target().release, nullptr);
  for (int id : {ctl::kCompileButton, ctl::kVerifyButton, ctl::kCopyButton, ctl::kInstallButton, ctl::kUninstallButton, ctl::kDeleteBplCheck})
    EXPECT_FALSE(t.view.enabled[id]);
  EXPECT_TRUE(t.view.enabled[ctl::kChooseFolderButton]);
}

TEST_F(Targets, StartupTakesTheProgramFolderWhenItHoldsTheMarker) {
  // The test program's own folder holds no marker: the picker opens.
  t.shell.folderAnswers.push_back(Library());
  t.Start();
  ASSERT_EQ(t.shell.folderTitles.size(), 1u);
  EXPECT_EQ(t.shell.folderTitles[0], "请选择DEV的安装目录");
  EXPECT_EQ(t.view.path, dir.Root() + "lib\\");
  EXPECT_EQ(t.target().library, dir.Root() + "lib\\");
}

TEST_F(Targets, RefusedAndCancelledFoldersKeepTheEarlierOne) {
  t.shell.folderAnswers = {Library(), dir.Root() + "elsewhere", std::nullopt};
  t.Click(ctl::kChooseFolderButton);
  const std::string accepted = dir.Root() + "lib\\";
  EXPECT_EQ(t.target().library, accepted);
  t.Click(ctl::kChooseFolderButton);  // refused
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "您选择的不是DEV的安装目录");
  EXPECT_EQ(t.view.messages[0].caption, "提示");
  EXPECT_EQ(t.view.messages[0].icon, MessageIcon::Information);
  t.Click(ctl::kChooseFolderButton);  // cancelled
  EXPECT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.target().library, accepted);
  EXPECT_EQ(t.view.path, accepted);
}

TEST_F(Targets, ChoosingAReleaseFillsTheContextAndLoadsTheFamily) {
  t.RegisterIde(1, "  C:\\Program Files\\Borland\\Delphi7  ", dir);
  t.RegisterIde(4, "D:\\BDS\\4.0\\", dir);
  t.RegisterIde(0, "", dir);
  t.app.SetLibraryFolder(Library());
  t.Start();  // the marker is not beside the test program: picker, cancelled
  t.Choose(1);
  EXPECT_EQ(t.target().compilerFolder, "C:\\Program Files\\Borland\\Delphi7\\bin");
  EXPECT_EQ(t.target().shortSuffix(), "D7");
  EXPECT_EQ(t.target().longSuffix(), "Delphi7");
  EXPECT_EQ(t.view.rows.size(), 171u);
  for (int id : {ctl::kCompileButton, ctl::kVerifyButton, ctl::kUninstallButton, ctl::kDeleteBplCheck}) EXPECT_TRUE(t.view.enabled[id]);
  for (int id : {ctl::kCopyButton, ctl::kInstallButton}) EXPECT_FALSE(t.view.enabled[id]);
  t.Click(ctl::kSelectAllButton);
  t.Choose(1);  // already selected: nothing happens, the ticks stay
  EXPECT_EQ(t.view.Ticked().size(), 171u);
  t.Choose(4);
  EXPECT_EQ(t.view.rows.size(), 131u);
  EXPECT_TRUE(t.view.Ticked().empty());
  EXPECT_EQ(t.target().compilerFolder, "D:\\BDS\\4.0\\bin");
  EXPECT_EQ(t.target().shortSuffix(), "D10");
  t.EnableCommand(CommandId::Copy);
  t.EnableCommand(CommandId::Install);
  t.Choose(0);
  EXPECT_EQ(t.view.rows.size(), 171u);
  EXPECT_EQ(t.target().compilerFolder, "bin");  // empty RootDir
  EXPECT_EQ(t.target().longSuffix(), "Delphi6");
  EXPECT_FALSE(t.view.enabled[ctl::kCopyButton]);
  EXPECT_TRUE(t.view.checked[ctl::ReleaseButton(0)]);
  EXPECT_FALSE(t.view.checked[ctl::ReleaseButton(4)]);
}

TEST_F(Targets, ChoiceWithAnEmptyPathBoxAsksForTheFolderFirst) {
  t.RegisterIde(1, "C:\\D7", dir);
  t.shell.folderAnswers = {std::nullopt, std::nullopt};
  t.Start();
  EXPECT_EQ(t.shell.folderTitles.size(), 1u);
  t.Choose(1);
  EXPECT_EQ(t.shell.folderTitles.size(), 2u);
  EXPECT_EQ(t.target().library, "");
  EXPECT_EQ(t.target().shortSuffix(), "D7");  // the choice completes
}

TEST_F(Targets, SettingsChangedAfterTheProbe) {
  t.RegisterIde(1, "C:\\D7", dir);
  t.RegisterIde(4, "D:\\BDS", dir);
  t.app.SetLibraryFolder(Library());
  t.Start();
  t.Choose(1);
  ASSERT_EQ(t.target().compilerFolder, "C:\\D7\\bin");
  // BDS's RootDir disappears: the earlier IdeBinDir stays, the rest is set.
  t.registry.Remove(std::string(kIdeProfiles[4].baseKey), "RootDir");
  t.Choose(4);
  EXPECT_EQ(t.target().compilerFolder, "C:\\D7\\bin");
  EXPECT_EQ(t.target().shortSuffix(), "D10");
  EXPECT_TRUE(t.view.messages.empty());
  // A numeric RootDir inside a choice: the error shows and the handler stops.
  t.registry.Set(std::string(kIdeProfiles[1].baseKey), "RootDir", RegType::Dword, "1");
  t.Choose(1);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Invalid data type for 'RootDir'");
  // The failed choice changed nothing: BDS 2006 is still the release, whole.
  EXPECT_EQ(t.target().release, &kIdeProfiles[4]);
  EXPECT_TRUE(t.view.checked[ctl::ReleaseButton(4)]);
  EXPECT_FALSE(t.view.checked[ctl::ReleaseButton(1)]);
  EXPECT_EQ(t.target().shortSuffix(), "D10");
  EXPECT_EQ(t.target().longSuffix(), "Delphi10");
  EXPECT_EQ(t.view.rows.size(), 131u);
}

}  // namespace
}  // namespace kestrin
