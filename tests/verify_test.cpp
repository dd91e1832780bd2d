#include <gtest/gtest.h>

#include "app/controls.h"
#include "compile/verify.h"
#include "targets/library_folder.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

struct VerifyCommand : ::testing::Test {
  TempDir dir;
  TestApp t;
  void SetUp() override {
    t.StartWithRelease(dir, 1);
  }
  void Bpl(const std::string& name) { dir.Write("lib/Library/Delphi7/" + name, "MZ"); }
  void AllBut(std::initializer_list<int> missing) {
    for (int i = 0; i < static_cast<int>(t.view.rows.size()); ++i) {
      bool skip = false;
      for (int m : missing) skip |= m == i;
      if (!skip) Bpl(t.view.rows[i] + "D7.bpl");
    }
  }
};

TEST_F(VerifyCommand, AllCompiledTicksNothingAndEnablesCopyAndInstall) {
  AllBut({});
  t.app.OnCommand(ctl::kSelectAllButton);
  t.view.commandPane = "something\r\n";
  t.app.OnCommand(ctl::kVerifyButton);
  EXPECT_TRUE(t.view.Ticked().empty());
  EXPECT_EQ(t.view.Lines(), (std::vector<std::string>{"=================================================", "验证组件...", " ",
                                                       "========================完成======================"}));
  EXPECT_EQ(t.view.commandPane, "");
  for (int id : {ctl::kCompileButton, ctl::kVerifyButton, ctl::kCopyButton, ctl::kInstallButton}) EXPECT_TRUE(t.view.enabled[id]);
}

TEST_F(VerifyCommand, TicksAndLogsExactlyTheMissingPackages) {
  AllBut({5, 170});
  t.app.OnCommand(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{5, 170}));
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "包:dxComnD7.dpk  未编译.");
  EXPECT_EQ(lines[3], "包:dcldxSpellCheckerD7.dpk  未编译.");
}

TEST_F(VerifyCommand, LetterCaseAndSubfoldersDoNotMatter) {
  AllBut({2, 3, 4});
  Bpl("DXCORED7.BPL");
  dir.Write("lib/Library/Delphi7/sub/cxLibraryVCLD7.bpl", "MZ");
  t.app.OnCommand(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{4}));
}

TEST_F(VerifyCommand, NoOutputFolderReportsEverything) {
  t.app.OnCommand(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked().size(), 171u);
}

TEST_F(VerifyCommand, WithoutAReleaseTheDelphi7NamesAreUsed) {
  TestApp fresh;
  fresh.app.SetLibraryFolder(dir.Root() + "lib\\");
  Bpl("dxThemeD7.bpl");
  const VerifyResult r = Verify(fresh.session(), {.target = fresh.target(), .packages = fresh.app.packages()});
  EXPECT_EQ(r.missing.size(), 170u);
  EXPECT_NE(r.missing[0], 0u);
  EXPECT_EQ(fresh.target().release, nullptr);  // nothing is kept for later
}

}  // namespace
}  // namespace kestrin
