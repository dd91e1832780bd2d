#include <gtest/gtest.h>

#include "app/controls.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;

struct Verify : ::testing::Test {
  TempDir dir;
  TestApp t;
  void SetUp() override {
    t.StartWithRelease(dir, 1);
  }
  void Bpl(const std::string& name) { dir.Write("lib/Library/Delphi7/" + name, "MZ"); }
  void AllBut(std::initializer_list<int> missing) {
    for (int i = 0; i < t.view.BuildCount(); ++i) {
      bool skip = false;
      for (int m : missing) skip |= m == i;
      if (!skip) Bpl(t.view.rows[i] + "D7.bpl");
    }
  }
};

TEST_F(Verify, AllCompiledTicksNothingAndEnablesCopyAndInstall) {
  AllBut({});
  BtnSelectClick(t.app);
  t.view.commandPane = "something\r\n";
  t.app.OnCommand(ctl::kButton4);
  EXPECT_TRUE(t.view.Ticked().empty());
  EXPECT_EQ(t.view.Lines(), (std::vector<std::string>{"=================================================", "验证组件...", " ",
                                                       "========================完成======================"}));
  EXPECT_EQ(t.view.commandPane, "");
  for (int id : {ctl::kBtnCompile, ctl::kButton4, ctl::kButton10, ctl::kButton8}) EXPECT_TRUE(t.view.enabled[id]);
}

TEST_F(Verify, TicksAndLogsExactlyTheMissingPackages) {
  AllBut({5, 170});
  t.app.OnCommand(ctl::kButton4);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{5, 170}));
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "包:dxComnD7.dpk  未编译.");
  EXPECT_EQ(lines[3], "包:dcldxSpellCheckerD7.dpk  未编译.");
}

TEST_F(Verify, LetterCaseAndSubfoldersDoNotMatter) {
  AllBut({2, 3, 4});
  Bpl("DXCORED7.BPL");
  dir.Write("lib/Library/Delphi7/sub/cxLibraryVCLD7.bpl", "MZ");
  // A stale hit of an earlier search must not let a missing package pass.
  t.app.ctx.FoundFileName = "dclcxLibraryVCLD7.bpl";
  t.app.OnCommand(ctl::kButton4);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{4}));
}

TEST_F(Verify, NoOutputFolderReportsEverything) {
  t.app.OnCommand(ctl::kButton4);
  EXPECT_EQ(t.view.Ticked().size(), 171u);
}

TEST_F(Verify, WithoutAReleaseTheDelphi7SuffixesAreUsedAndKept) {
  TestApp fresh;
  fresh.app.SetPathText(dir.Root() + "lib\\");
  Bpl("dxThemeD7.bpl");
  Button4Click(fresh.app);
  EXPECT_EQ(fresh.app.ctx.IdeShortSuffix, "D7");
  EXPECT_EQ(fresh.app.ctx.IdeLongSuffix, "Delphi7");
  EXPECT_EQ(fresh.view.Ticked().size(), 170u);
  EXPECT_FALSE(fresh.view.ticks[0]);
}

}  // namespace
}  // namespace kestrin
