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
    t_.Click(ctl::kSelectAllButton);
    t_.Click(ctl::kCompileButton);
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
  // The findings of the last run in brief: kind, package and module.
  std::vector<std::string> Brief(Problem only) const {
    std::vector<std::string> r;
    for (const Finding& f : result.findings)
      if (f.problem == only) r.push_back(f.package + " " + f.module);
    return r;
  }
  bool Logged(const std::string& line) {
    const auto lines = t.LogLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::string Out(const std::string& file) { return out + "\\" + file; }
  void Register(const std::string& path, const std::string& key = "Known Packages") {
    t.registry.Set(base + key, path, RegType::Sz, "test");
  }
  // A package of someone else's, written into dir/other.
  std::string Foreign(const std::string& module, std::vector<pe::PackageUnitSpec> units,
                      bool pe32plus = false, std::uint32_t flags = 0,
                      std::vector<pe::PackageRequirement> required = {{"rtl", "rtl70.bpl", {}}}) {
    pe::PackageSpec p;
    p.module = module;
    p.pe32plus = pe32plus;
    p.flags = package_flags::kPackageModule | package_flags::kDesignOnly | flags;
    p.required = std::move(required);
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
  // An older dxCoreD7 in the system folder, which Windows searches before
  // PATH: other bytes, the same units.
  pe::PackageSpec old;
  old.module = "dxCoreD7.bpl";
  old.contains = pe::PackageUnits("dxCoreD7", {"dxCoreReg", "dxCoreMain"});
  old.description = "an older build";
  dir.Write("sys/dxCoreD7.bpl", pe::WritePackage(old));
  // A 64-bit package where the IDE is 32-bit.
  const std::string wide = Foreign("dclWideD7.bpl", pe::PackageUnits("dclWideD7", {"WideUnit"}), true);
  Register(wide);
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "警告: IDE 会加载 " + sys + "\\dxCoreD7.bpl, 而不是输出目录中的 dxCoreD7.bpl",
                       "错误: IDE 无法加载 dclcxGridD7.bpl: 找不到它需要的 cxGridD7.bpl",
                       "错误: IDE 无法加载 dclWideD7.bpl: " + wide + " 不是有效的模块",
                       "诊断结果: 2 个错误, 1 个警告, 0 个提示"}));
  EXPECT_EQ(result.failures, 2);
  EXPECT_EQ(result.findings[2].advice, "它是 64 位模块, IDE 是 32 位的: 换成 32 位的文件, 用这个 IDE 的编译器重新编译");
}

// Every design package needs dxCoreD7: one finding names them all, counted
// once, and says which package of the library builds it. Taken off PATH, the
// output folder's packages are named where they are.
TEST_F(Diagnose, OneFindingPerCause) {
  fs::remove(dir.Path() / "lib/Library/Delphi7/dxCoreD7.bpl");
  Run();
  ASSERT_EQ(result.findings.size(), 1u);
  const Finding& f = result.findings[0];
  EXPECT_EQ(f.text.rfind("IDE 无法加载 dclcxBarEditItemD7.bpl, ", 0), 0u) << f.text;
  RegValue v;
  std::size_t registered = 0;
  for (std::string_view design : DesignNames(IdeFamily::Delphi))
    registered += t.registry.Get(base + "Known Packages", Out(std::string(design) + "D7.bpl"), &v);
  EXPECT_EQ(f.text.substr(f.text.find(" 等 ")), " 等 " + std::to_string(registered) + " 个: 找不到它需要的 dxCoreD7.bpl");
  EXPECT_EQ(std::count(f.text.begin(), f.text.end(), ','), 9);
  EXPECT_EQ(f.advice, "dxCoreD7.bpl 由本库的包 dxCore 编译生成: 先编译它, 再点 安装");
  EXPECT_EQ(result.errors, 1);
  t.registry.Set("Environment", "Path", RegType::ExpandSz, "");
  Run();
  ASSERT_FALSE(result.findings.empty());
  EXPECT_EQ(result.findings[0].advice, result.findings[0].module + " 在输出目录 " + out +
                                           " 中: 点 安装, 它会把这个文件夹加入当前用户的 PATH");
}

// What a registered package needs is found, but is no module the IDE can
// load, or lacks a function the package imports (by name or by ordinal):
// the load fails as Windows fails it.
TEST_F(Diagnose, WhatIsFoundMustBeLoadable) {
  dir.Write("ide/bin/junkD7.bpl", "these are not a module's bytes");
  pe::PackageSpec cut;
  cut.module = "shortD7.bpl";
  cut.contains = pe::PackageUnits("shortD7", {"ShortUnit"});
  const std::string whole = pe::WritePackage(cut);
  dir.Write("ide/bin/shortD7.bpl", whole.substr(0, whole.size() - 100));
  const auto needs = [&](const std::string& name, std::vector<std::string> units = {}) {
    return Foreign("dclNeeds" + name + ".bpl", pe::PackageUnits("dclNeeds" + name, {name + "Use"}), false, 0,
                   {{"rtl", "rtl70.bpl", {}}, {name, name + ".bpl", std::move(units)}});
  };
  for (const std::string& p : {needs("junkD7"), needs("shortD7"), needs("dxThemeD7", {"NoSuchUnit"}),
                               needs("dxCoreD7", {"dxCoreMain"})})
    Register(p);
  // Imports by ordinal: those within the export table, one past its end.
  pe::DllSpec ordinals;
  ordinals.moduleName = "dclOrdinalD7.bpl";
  ordinals.imports = {{"dxCoreD7.bpl", {"#1"}}, {"dxGDIPlusD7.bpl", {"#2", "#999"}}};
  ordinals.rcdata = {{"PACKAGEINFO", pe::PackageInfoBytes({"dclOrdinalD7.bpl", false, 0, {}, {}, ""})}};
  dir.Write("other/dclOrdinalD7.bpl", pe::WriteDll(ordinals));
  Register(dir.Root() + "other\\dclOrdinalD7.bpl");
  Run();
  EXPECT_EQ(Brief(Problem::InvalidModule),
            (std::vector<std::string>{"dclNeedsjunkD7.bpl junkD7.bpl", "dclNeedsshortD7.bpl shortD7.bpl"}));
  EXPECT_EQ(Brief(Problem::MissingEntryPoint),
            (std::vector<std::string>{"dclNeedsdxThemeD7.bpl dxThemeD7.bpl", "dclOrdinalD7.bpl dxGDIPlusD7.bpl"}));
  EXPECT_EQ(result.errors, 4);
  EXPECT_TRUE(Logged("错误: IDE 无法加载 dclNeedsdxThemeD7.bpl: " + Out("dxThemeD7.bpl") +
                     " 中没有它需要的 @Nosuchunit@Finalization$qqrv"));
  EXPECT_TRUE(Logged("错误: IDE 无法加载 dclOrdinalD7.bpl: " + Out("dxGDIPlusD7.bpl") + " 中没有它需要的 #999"));
  EXPECT_TRUE(Logged("错误: IDE 无法加载 dclNeedsjunkD7.bpl: " + dir.Root() + "ide\\bin\\junkD7.bpl 不是有效的模块"));
}

// The runtime library's duplicate-unit check: SysInit (in every package,
// flags 0) and units flagged as package units or weak never count; names
// compare letter case aside; packages that ignore duplicates are compared
// only among themselves. The IDE's program loads its own packages first.
TEST_F(Diagnose, DuplicateUnitsAsTheRuntimeLibraryCountsThem) {
  using U = pe::PackageUnitSpec;
  Register(Foreign("dclPackageUnitD7.bpl", {{"dclPackageUnitD7", 3}, {"cxGridMain", unit_flags::kPackage}}));
  Register(Foreign("dclWeakD7.bpl", {{"dclWeakD7", 3}, {"cxGridMain", unit_flags::kWeak}}));
  Register(Foreign("dclSysInitD7.bpl", pe::PackageUnits("dclSysInitD7", {"Mine"})));
  Register(Foreign("dclClashD7.bpl", {{"dclClashD7", 3}, U{"SYSINIT", 0}, {"CXGRIDMAIN", 0}}));
  const auto ignoring = package_flags::kIgnoreDupUnits;
  Register(Foreign("dclIgnoreAD7.bpl", {{"dclIgnoreAD7", 3}, {"cxGridMain", 0}, {"Shared", 0}}, false, ignoring));
  Register(Foreign("dclIgnoreBD7.bpl", {{"dclIgnoreBD7", 3}, {"shared", 0}}, false, ignoring));
  Run();
  EXPECT_EQ(Brief(Problem::UnitClash),
            (std::vector<std::string>{"dclClashD7.bpl CXGRIDMAIN", "dclIgnoreBD7.bpl shared"}));
  EXPECT_EQ(result.findings.size(), 2u);
  EXPECT_TRUE(Logged("错误: cxGridD7.bpl 和 dclClashD7.bpl 都包含单元 CXGRIDMAIN, IDE 只能加载其中一个"));

  // Once the IDE's program imports its runtime packages, their units count
  // before any registered package's.
  pe::DllSpec app;
  app.moduleName = "delphi32.exe";
  app.imports = {{"kernel32.dll", {"Sleep"}}, {"vcl70.bpl", {"@Forms@Finalization$qqrv"}}};
  dir.Write("ide/bin/delphi32.exe", pe::WriteDll(app));
  Register(Foreign("dclFormsD7.bpl", {{"dclFormsD7", 3}, {"forms", 0}, {"Windows", 0x0C}}));
  Run();
  EXPECT_EQ(Brief(Problem::UnitClash), (std::vector<std::string>{"dclClashD7.bpl CXGRIDMAIN", "dclFormsD7.bpl forms",
                                                                  "dclIgnoreBD7.bpl shared"}));
  EXPECT_TRUE(Logged("错误: vcl70.bpl 和 dclFormsD7.bpl 都包含单元 forms, IDE 只能加载其中一个"));
}

TEST_F(Diagnose, SearchPath) {
  RegValue v;
  ASSERT_TRUE(t.registry.Get(base + "Library", "Search Path", &v));
  dir.Write("oldlib/Sources/dxCoreMain.pas", "unit dxCoreMain;");
  dir.Write("oldlib/Sources/zzOwn.pas", "unit zzOwn;");
  dir.Write("mine/MyUnit.pas", "unit MyUnit;");
  // A folder of the IDE's own defaults that is missing is the IDE's business.
  t.registry.Set(base + "Library", "Search Path", RegType::Sz,
                 "$(DELPHI)\\Imports;" + v.data + ";" + dir.Root() + "gone;" + dir.Root() +
                     "oldlib\\Sources;$(BDSUSERDIR)\\Imports;" + dir.Root() + "mine");
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "提示: 搜索路径中的文件夹不存在: " + dir.Root() + "gone",
                       "警告: 搜索路径中有另一份库的单元 dxCoreMain: " + dir.Root() + "oldlib\\Sources",
                       "提示: 无法展开路径中的宏, 未检查: $(BDSUSERDIR)\\Imports",
                       "诊断结果: 0 个错误, 1 个警告, 2 个提示"}));
  EXPECT_EQ(result.findings[0].advice,
            "在 IDE 的 Tools > Environment Options > Library 中, 从 库路径 (Library path) 删除这一项");
  EXPECT_EQ(result.findings[2].advice,
            "在 IDE 的 Tools > Environment Options > Environment Variables 中定义这个变量, 或把这一项改成完整路径");
}

// The advice names the dialogs of the release at hand; a release with none
// of the library installed is told so, and what to run.
TEST(DiagnoseAdvice, FollowsTheRelease) {
  TempDir d;
  TestApp t;
  t.StartWithRelease(d, 4);  // BDS 2006
  const std::string base(kIdeProfiles[4].baseKey);
  t.registry.Set(base + "Library", "Search Path", RegType::Sz, d.Root() + "gone;$(NOSUCH)\\x");
  t.registry.CreateKey(base + "Known Packages");
  const DiagnoseResult r = kestrin::Diagnose(t.session(), {t.target()});
  ASSERT_EQ(r.findings.size(), 3u);
  EXPECT_EQ(r.findings[0].text, "本库尚未安装到 BDS 2006");
  EXPECT_EQ(r.findings[0].advice, "依次点 编译, 验证, 复制, 安装; 不用窗口时: kestrin.com /release:BDS2006 /compile /verify /copy /install");
  EXPECT_EQ(r.findings[1].advice, "在 IDE 的 Tools > Options > Environment Options > Delphi Options > Library - Win32 中, "
                                  "从 库路径 (Library path) 删除这一项");
  EXPECT_EQ(r.findings[2].advice, "在 IDE 的 Tools > Options > Environment Options > Environment Variables 中定义这个变量, "
                                  "或把这一项改成完整路径");
  for (const std::string& line : t.LogLines()) EXPECT_EQ(line.find("(&"), std::string::npos) << line;
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
