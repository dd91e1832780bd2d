#include <gtest/gtest.h>

#include <filesystem>

#include "app/controls.h"
#include "ide/diagnose.h"
#include "ide/install.h"
#include "platform/pe_module.h"
#include "targets/ide_registry.h"
#include "tests/harness.h"
#include "tools/pewriter/package_writer.h"

namespace kestrin {
namespace {
using test::TempDir;
using test::TestApp;
namespace fs = std::filesystem;

// The sample library for Delphi 7, every package compiled once for the
// whole suite; each test copies the packages into a library of its own.
class Compiled {
 public:
  static const TempDir& Get() {
    static Compiled once;
    return once.dir_;
  }

 private:
  Compiled() {
    t_.SetUpLibrary(dir_, 1, {"D7"});
    t_.app.OnCommand(ctl::kSelectAllButton);
    t_.app.OnCommand(ctl::kCompileButton);
  }
  TempDir dir_;
  TestApp t_;
};

// A sound machine: the library compiled and installed into Delphi 7, the
// output folder on the user's PATH (as the copy's PATH offer leaves it).
struct Diagnose : ::testing::Test {
  TempDir dir;
  TestApp t;
  std::string base, out, sys;
  DiagnoseResult result;

  void SetUp() override {
    t.SetUpLibrary(dir, 1, {"D7"});
    fs::copy(Compiled::Get().Path() / "lib" / "Library", dir.Path() / "lib" / "Library",
             fs::copy_options::recursive);
    fs::create_directories(dir.Path() / "sys");
    sys = dir.Root() + "sys";
    t.fs.SetSystemFolder(sys);
    base = std::string(kIdeProfiles[1].baseKey);
    // The IDE's program in RootDir\bin, beside its own packages.
    dir.Write("ide/bin/delphi32.exe", "MZ");
    t.registry.Set(base, "App", RegType::Sz, dir.Root() + "ide\\bin\\delphi32.exe");
    out = dir.Root() + "lib\\Library\\Delphi7";
    t.registry.Set("Environment", "Path", RegType::ExpandSz, "%SystemRoot%\\bin;" + out);
    t.registry.CreateKey(base + "Library");
    t.registry.CreateKey(base + "Known Packages");
    ASSERT_TRUE(Install(t.session(), {t.target()}).started);
  }
  // The findings and the result line of a run.
  std::vector<std::string> Run() {
    t.view.log.clear();
    result = kestrin::Diagnose(t.session(), {t.target()});
    std::vector<std::string> lines = t.LogLines();
    EXPECT_GE(lines.size(), 5u);
    if (lines.size() < 5) return lines;
    EXPECT_EQ(lines[1], "诊断 Delphi7...");
    EXPECT_EQ(lines.back(), "========================完成======================");
    std::vector<std::string> findings;
    for (std::size_t i = 2; i + 2 < lines.size(); ++i) {
      if (lines[i].rfind("    办法: ", 0) == 0) continue;  // each finding has one, checked below
      findings.push_back(lines[i]);
      EXPECT_TRUE(lines[i].rfind("诊断结果", 0) == 0 || lines[i].rfind("未发现问题", 0) == 0 ||
                  (i + 1 < lines.size() && lines[i + 1].rfind("    办法: ", 0) == 0))
          << lines[i];
    }
    return findings;
  }
  std::string Out(const std::string& file) { return out + "\\" + file; }
  void Register(const std::string& path, const std::string& key = "Known Packages") {
    t.registry.Set(base + key, path, RegType::Sz, "test");
  }
  // A package of someone else's, written into dir/other.
  std::string Foreign(const std::string& module, std::vector<pe::PackageUnitSpec> units,
                      bool pe32plus = false) {
    pe::PackageSpec p;
    p.module = module;
    p.pe32plus = pe32plus;
    p.flags = package_flags::kPackageModule | package_flags::kDesignOnly;
    p.required = {{"rtl", "rtl70.bpl", pe::PackageExportName("rtl70.bpl")}};
    p.contains = std::move(units);
    dir.Write("other/" + module, pe::WritePackage(p));
    return dir.Root() + "other\\" + module;
  }
};

TEST_F(Diagnose, ASoundMachineGivesTheOneSoundLineAndChangesNothing) {
  // A copy of the same bytes earlier in the order is no finding.
  fs::copy_file(dir.Path() / "lib/Library/Delphi7/dxCoreD7.bpl", dir.Path() / "sys/dxCoreD7.bpl");
  const std::string before = t.registry.DumpText();
  EXPECT_EQ(Run(), (std::vector<std::string>{"未发现问题: IDE 能加载本库的全部设计时包.",
                                             "诊断结果: 0 个错误, 0 个警告, 0 个提示"}));
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.failures, 0);
  EXPECT_EQ(result.next, StateEvent::None);
  EXPECT_EQ(t.registry.DumpText(), before);
}

TEST_F(Diagnose, Registrations) {
  const std::string known = base + "Known Packages";
  t.registry.Remove(known, Out("dcldxBarD7.bpl"));                      // not registered
  t.registry.Remove(known, Out("dcldxDockingD7.bpl"));                  // not registered
  fs::remove(dir.Path() / "lib/Library/Delphi7/dclcxGridD7.bpl");       // registered but missing
  t.registry.Remove(known, Out("dcldxSpellCheckerD7.bpl"));              // registered from elsewhere
  fs::create_directories(dir.Path() / "old");
  fs::copy_file(dir.Path() / "lib/Library/Delphi7/dcldxSpellCheckerD7.bpl", dir.Path() / "old/dcldxSpellCheckerD7.bpl");
  Register("$(DELPHI)\\..\\old\\dcldxSpellCheckerD7.bpl");
  Register(Out("dcldxELibD7.bpl"), "Disabled Packages");                // disabled
  dir.Write("lib/Library/Delphi7/dcldxEdtrD7.bpl", "MZ but nothing more");  // not a package
  Register("$(NOSUCH)\\x.bpl");                                          // a macro nobody defines
  const std::string elsewhere = dir.Root() + "ide\\..\\old\\dcldxSpellCheckerD7.bpl";
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "提示: 无法展开路径中的宏, 未检查: $(NOSUCH)\\x.bpl",
                       "警告: IDE 已停用这个包: " + Out("dcldxELibD7.bpl"),
                       "警告: dcldxSpellCheckerD7.bpl 注册的不是本库输出目录中的文件: " + elsewhere,
                       "提示: 2 个设计时包没有注册到 Delphi7",
                       "错误: 已注册的设计时包不存在: " + Out("dclcxGridD7.bpl"),
                       "错误: 不是有效的包文件: " + Out("dcldxEdtrD7.bpl"),
                       "诊断结果: 2 个错误, 2 个警告, 2 个提示"}));
  EXPECT_EQ(result.failures, 2);
  EXPECT_EQ(result.hints, 2);
}

TEST_F(Diagnose, ModulesTheIdeLoads) {
  // cxGridD7 found nowhere: neither in the output folder nor anywhere else.
  fs::remove(dir.Path() / "lib/Library/Delphi7/cxGridD7.bpl");
  // An older dxCoreD7 in the system folder, which Windows searches before PATH.
  pe::PackageSpec old;
  old.module = "dxCoreD7.bpl";
  old.description = "an older build";
  dir.Write("sys/dxCoreD7.bpl", pe::WritePackage(old));
  // A 64-bit package where the IDE is 32-bit.
  const std::string wide = Foreign("dclWideD7.bpl", pe::PackageUnits("dclWideD7", {"WideUnit"}), true);
  Register(wide);
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "警告: IDE 会加载 " + sys + "\\dxCoreD7.bpl, 而不是输出目录中的 dxCoreD7.bpl",
                       "错误: IDE 无法加载 dclcxGridD7.bpl: 找不到它需要的 cxGridD7.bpl",
                       "错误: dclWideD7.bpl 是 64 位模块, IDE 是 32 位的: " + wide,
                       "诊断结果: 2 个错误, 1 个警告, 0 个提示"}));
  EXPECT_EQ(result.failures, 2);
}

TEST_F(Diagnose, UnitsInTwoLoadedPackagesButNotWeakOnes) {
  namespace uf = unit_flags;
  Register(Foreign("dclMineD7.bpl", {{"dclMineD7", static_cast<std::uint8_t>(uf::kMain | uf::kPackage)},
                                     {"cxGridMain", uf::kPackage},
                                     {"SysInit", static_cast<std::uint8_t>(uf::kWeak | uf::kPackage)},
                                     {"dxCoreMain", static_cast<std::uint8_t>(uf::kWeak | uf::kPackage)}}));
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "错误: cxGridD7.bpl 和 dclMineD7.bpl 都包含单元 cxGridMain, IDE 只能加载其中一个",
                       "诊断结果: 1 个错误, 0 个警告, 0 个提示"}));
}

TEST_F(Diagnose, SearchPath) {
  RegValue v;
  ASSERT_TRUE(t.registry.Get(base + "Library", "Search Path", &v));
  dir.Write("oldlib/Sources/dxCoreMain.pas", "unit dxCoreMain;");
  dir.Write("oldlib/Sources/zzOwn.pas", "unit zzOwn;");
  dir.Write("mine/MyUnit.pas", "unit MyUnit;");
  t.registry.Set(base + "Library", "Search Path", RegType::Sz,
                 "$(DELPHI)\\Imports;" + v.data + ";" + dir.Root() + "oldlib\\Sources;$(BDSUSERDIR)\\Imports;" +
                     dir.Root() + "mine");
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "提示: 搜索路径中的文件夹不存在: " + dir.Root() + "ide\\Imports",
                       "警告: 搜索路径中有另一份库的单元 dxCoreMain: " + dir.Root() + "oldlib\\Sources",
                       "提示: 无法展开路径中的宏, 未检查: $(BDSUSERDIR)\\Imports",
                       "诊断结果: 0 个错误, 1 个警告, 2 个提示"}));
}

// The IDE's own environment variables define macros and may replace PATH.
TEST_F(Diagnose, TheIdesEnvironmentVariables) {
  t.shell.environment["LIBROOT"] = dir.Root() + "lib";
  t.registry.Remove(base + "Known Packages", Out("dcldxBarD7.bpl"));
  t.registry.Remove(base + "Known Packages", Out("dcldxDockingD7.bpl"));
  Register("$(MyOut)\\dcldxBarD7.bpl");
  Register("%LIBROOT%\\Library\\Delphi7\\dcldxDockingD7.bpl");
  t.registry.Set(base + "Environment Variables", "MyOut", RegType::Sz, "%LIBROOT%\\Library\\Delphi7");
  EXPECT_EQ(Run().size(), 2u) << "a sound machine";
  // PATH replaced without the output folder: its packages are found nowhere.
  t.registry.Set(base + "Environment Variables", "PATH", RegType::Sz, "C:\\Tools");
  EXPECT_GT(Run().size(), 2u);
  EXPECT_GT(result.errors, 0);
  t.registry.Set(base + "Environment Variables", "PATH", RegType::Sz, "C:\\Tools;%PATH%");
  EXPECT_EQ(Run().size(), 2u);
}

}  // namespace
}  // namespace kestrin
