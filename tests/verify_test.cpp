#include <gtest/gtest.h>

#include "app/controls.h"
#include "compile/verify.h"
#include "targets/library_folder.h"
#include "tests/harness.h"
#include "tools/pewriter/package_writer.h"

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
  void Bpl(const std::string& name, bool pe32plus = false) {
    pe::PackageSpec p;
    p.module = name;
    p.pe32plus = pe32plus;
    dir.Write("lib/Library/Delphi7/" + name, pe::WritePackage(p));
  }
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
  t.Click(ctl::kSelectAllButton);
  t.view.commandPane = "something\r\n";
  t.Click(ctl::kVerifyButton);
  EXPECT_TRUE(t.view.Ticked().empty());
  EXPECT_EQ(t.view.Lines(), (std::vector<std::string>{"=================================================", "验证组件...", " ",
                                                       "========================完成======================"}));
  EXPECT_EQ(t.view.commandPane, "");
  for (int id : {ctl::kCompileButton, ctl::kVerifyButton, ctl::kCopyButton, ctl::kInstallButton}) EXPECT_TRUE(t.view.enabled[id]);
}

TEST_F(VerifyCommand, TicksAndLogsExactlyTheMissingPackages) {
  AllBut({5, 170});
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{5, 170}));
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "包:dxComnD7.dpk  未编译.");
  EXPECT_EQ(lines[3], "包:dcldxSpellCheckerD7.dpk  未编译.");
}

TEST_F(VerifyCommand, LetterCaseAndSubfoldersDoNotMatter) {
  AllBut({2, 3, 4});
  Bpl("DXCORED7.BPL");
  Bpl("sub/cxLibraryVCLD7.bpl");
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{4}));
}

// A file by the right name passes only as a whole package module of the
// IDE's bitness.
TEST_F(VerifyCommand, AFileThatIsNoPackageIsNotCompiled) {
  AllBut({});
  const std::string whole = dir.Read("lib/Library/Delphi7/dxThemeD7.bpl");
  dir.Write("lib/Library/Delphi7/dxThemeD7.bpl", whole.substr(0, whole.size() - 1));  // cut short
  dir.Write("lib/Library/Delphi7/dxGDIPlusD7.bpl", "MZ text");
  Bpl("dxCoreD7.bpl", true);  // 64-bit
  pe::DllSpec plain;
  plain.moduleName = "cxLibraryVCLD7.bpl";
  dir.Write("lib/Library/Delphi7/cxLibraryVCLD7.bpl", pe::WriteDll(plain));  // no PACKAGEINFO
  t.Click(ctl::kVerifyButton);
  EXPECT_EQ(t.view.Ticked(), (std::vector<int>{0, 1, 2, 3}));
  auto lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[2], "包:dxThemeD7.dpk  未编译.");
  EXPECT_EQ(lines[3], "    原因: 不是有效的包文件");
}

TEST_F(VerifyCommand, NoOutputFolderReportsEverything) {
  t.Click(ctl::kVerifyButton);
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
