#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/controls.h"
#include "ide/env_options_file.h"
#include "ide/folder_list.h"
#include "targets/library_folder.h"
#include "platform/text.h"
#include "catalogue/ide_profiles.h"
#include "tests/harness.h"
#include "tools/pewriter/package_writer.h"

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
  std::string Out() { return dir.Root() + "lib\\Library\\" + std::string(t.target().longSuffix()); }
  // A package module in the output folder (`rel` below it) that requires `modules`.
  void Package(const std::string& rel, std::vector<std::string> modules = {}) {
    pe::PackageSpec p;
    p.module = rel.substr(rel.rfind('/') + 1);
    for (const std::string& m : modules) p.required.push_back({m.substr(0, m.size() - 4), m, {}});
    p.contains = pe::PackageUnits(p.module.substr(0, p.module.size() - 4), {p.module + "Unit"});
    dir.Write("lib/Library/" + std::string(t.target().longSuffix()) + "/" + rel, pe::WritePackage(p));
  }
};

TEST_F(InstallCommand, WritesSearchPathAndKnownPackages) {
  Prepare(1);
  t.registry.Set(base + "Library", "Search Path", RegType::ExpandSz, "$(DELPHI)\\Lib");
  t.registry.CreateKey(base + "Known Packages");
  t.registry.Set(base + "Known Packages", Out() + "\\dclcxGridD7.bpl", RegType::Sz, "old text");
  t.registry.Set(base + "Known Packages", "C:\\Other\\dclcxGridD7.bpl", RegType::Sz, "by hand");
  Package("dclcxGridD7.bpl");
  Package("dcldxSpellCheckerD7.bpl");
  Package("sub/dcldxBarD7.bpl");  // not directly in the folder
  t.Click(ctl::kInstallButton);
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
  t.Click(ctl::kInstallButton);
  EXPECT_EQ(Value("Library", "Search Path"), expected_path);
}

TEST_F(InstallCommand, AbsentSearchPathGetsNoLeadingSeparatorAndNoEmptyEntry) {
  Prepare(4);  // BDS 2006; no output folder exists yet
  t.registry.CreateKey(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  t.Click(ctl::kInstallButton);
  std::string sp = Value("Library", "Search Path");
  EXPECT_EQ(sp, dir.Root() + "lib\\ExpressBars 6\\Sources" + sp.substr(sp.find(';')));
  EXPECT_EQ(sp.find(";;"), std::string::npos);
  auto lines = t.view.Lines();
  EXPECT_EQ(lines[1], "安装到：BDS 2006");
  EXPECT_EQ(lines.size(), 5u);  // no package file, no package line
}

// Each design package it registered must load in an IDE started afterwards:
// nothing is needed, the output folder goes on the user's PATH (once), or
// what cannot load is named, and its registration stays.
TEST_F(InstallCommand, WhatItRegistersMustLoad) {
  Prepare(1);
  t.registry.CreateKey("Environment");
  t.registry.CreateKey(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  Package("dcldxBarD7.bpl");
  t.Click(ctl::kInstallButton);
  EXPECT_EQ(Value("Environment", "Path"), "<absent>");
  EXPECT_EQ(t.view.Lines().size(), 6u);

  Package("dclcxGridD7.bpl", {"cxGridD7.bpl"});
  Package("cxGridD7.bpl");
  t.Click(ctl::kInstallButton);
  base.clear();
  EXPECT_EQ(Value("Environment", "Path"), Out());
  EXPECT_EQ(Value("Software\\Kestrin\\UserPath", Out()), Out());
  auto lines = t.view.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "已将输出目录加入当前用户的 PATH 环境变量: " + Out() +
                                                       " (dclcxGridD7.bpl 需要 cxGridD7.bpl)"), 1);
  EXPECT_EQ(t.view.commandPane, "");

  t.view.log.clear();
  base = std::string(kIdeProfiles[1].baseKey);
  t.Click(ctl::kInstallButton);  // already on PATH: nothing to add, nothing to tell
  EXPECT_EQ(t.view.Lines().size(), 7u);

  std::filesystem::remove(dir.Path() / "lib/Library/Delphi7/cxGridD7.bpl");
  t.view.log.clear();
  t.Click(ctl::kInstallButton);
  lines = t.view.Lines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], "错误: IDE 无法加载 dclcxGridD7.bpl: 找不到它需要的 cxGridD7.bpl");
  EXPECT_EQ(t.view.commandPane, "未完成: 安装 — 1 个设计时包 IDE 无法加载\r\n");
  EXPECT_NE(Value("Known Packages", Out() + "\\dclcxGridD7.bpl"), "<absent>");
  // The uninstall takes out the entry the install made.
  t.Click(ctl::kUninstallButton);
  base.clear();
  EXPECT_EQ(Value("Environment", "Path"), "");
}

TEST_F(InstallCommand, MissingLibraryKeyStopsWithAMessage) {
  Prepare(1);
  t.registry.CreateKey(base + "Known Packages");
  t.Click(ctl::kInstallButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Failed to set data for 'Search Path'");
  EXPECT_EQ(t.view.messages[0].icon, MessageIcon::Error);
  EXPECT_TRUE(t.view.log.empty());
  EXPECT_FALSE(t.registry.KeyExists(base + "Library"));
}

TEST_F(InstallCommand, MissingKnownPackagesKeyStopsAtTheFirstPackage) {
  Prepare(1);
  t.registry.CreateKey(base + "Library");
  Package("dclcxGridD7.bpl");
  t.Click(ctl::kInstallButton);
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
  t.Click(ctl::kInstallButton);
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
  t.Click(ctl::kInstallButton);
  EXPECT_EQ(Value("Library", "Search Path"), mine);
}


// A Search Path that is there but cannot be read is not an empty one: the
// install stops before it writes anything, so the user's entries survive.
TEST_F(InstallCommand, AnUnreadableSearchPathStopsBeforeAnyWrite) {
  Prepare(1);
  t.registry.Set(base + "Library", "Search Path", RegType::Sz, "$(DELPHI)\\Lib;C:\\Mine");
  t.registry.FailValueAccess(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  Package("dclcxGridD7.bpl");
  const std::string before = t.registry.DumpText();
  t.Click(ctl::kInstallButton);
  ASSERT_EQ(t.view.messages.size(), 1u);
  EXPECT_EQ(t.view.messages[0].text, "Failed to get data for 'Search Path': Access is denied.");
  EXPECT_EQ(t.registry.DumpText(), before);
  EXPECT_TRUE(t.view.log.empty());
}

// RAD Studio 2009's EnvOptions.proj in the test's application data folder,
// before and after the install.
struct EnvOptionsInstall : InstallCommand {
  const std::string rel = "appdata/CodeGear/BDS/6.0/EnvOptions.proj";
  void SetUp() override {
    Prepare(6);
    t.registry.CreateKey(base + "Library");
    t.registry.CreateKey(base + "Known Packages");
  }
  std::string Install(const std::string& content) {
    if (!content.empty()) dir.Write(rel, content);
    t.Click(ctl::kInstallButton);
    return dir.Exists(rel) ? dir.Read(rel) : "<absent>";
  }
  std::string File() { return dir.Root() + "appdata\\CodeGear\\BDS\\6.0\\EnvOptions.proj"; }
  // The products' Sources (no output folder exists), from product `first` on.
  std::string Sources(std::size_t first) {
    std::string list;
    for (std::size_t i = first; i < kProductSourceFolders.size(); ++i)
      list += (list.empty() ? "" : ";") + dir.Root() + "lib\\" + std::string(kProductSourceFolders[i]) + "\\Sources";
    return list;
  }
  std::string EnvOptionsLine() {
    for (const std::string& l : t.view.Lines())
      if (l.find(File()) != std::string::npos) return l;
    return "<none>";
  }
};

TEST_F(EnvOptionsInstall, MergesIntoThePropertyKeepingEveryOtherByte) {
  const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                           "<Project xmlns=\"http://schemas.microsoft.com/developer/msbuild/2003\">\r\n"
                           "  <!-- <PropertyGroup> -->\r\n  <PropertyGroup>\r\n"
                           "    <BrowsingPath>$(BDS)\\source</BrowsingPath>\r\n    <Win32LibraryPath>C:\\R&amp;D;";
  const std::string tail = "\r\n    </Win32LibraryPath>\r\n  </PropertyGroup>\r\n  <PropertyGroup>"
                           "<Win32LibraryPath>x</Win32LibraryPath></PropertyGroup>\r\n</Project>\r\n";
  const std::string first = dir.Root() + "lib\\" + std::string(kProductSourceFolders[0]) + "\\SOURCES\\";
  EXPECT_EQ(Install(head + first + tail), head + first + ";" + Sources(1) + tail);
  EXPECT_EQ(EnvOptionsLine(), "已更新 " + File() + ": Win32LibraryPath 中添加了 " + Sources(1) + ".");
  t.view.log.clear();
  t.Click(ctl::kInstallButton);  // all there now
  EXPECT_EQ(dir.Read(rel), head + first + ";" + Sources(1) + tail);
  EXPECT_EQ(EnvOptionsLine(), "未更改 " + File() + ": Win32LibraryPath 已包含库的全部目录.");
  t.Click(ctl::kUninstallButton);  // leaves the file as it leaves Search Path
  EXPECT_EQ(dir.Read(rel), head + first + ";" + Sources(1) + tail);
}

TEST_F(EnvOptionsInstall, AddsThePropertyToTheFirstGroupWithItsIndentAndLineEnds) {
  const std::string head = "<Project>\n<PropertyGroup Condition=\"'$(A)'==''\">\n\t<A>1</A>";
  const std::string tail = "\n</PropertyGroup>\n</Project>";
  EXPECT_EQ(Install(head + tail), head + "\n\t<Win32LibraryPath>" + Sources(0) + "</Win32LibraryPath>" + tail);
  EXPECT_EQ(EnvOptionsLine(), "已更新 " + File() + ": 添加了 Win32LibraryPath = " + Sources(0) + ".");
}

TEST_F(EnvOptionsInstall, AMissingFileIsNotCreated) {
  EXPECT_EQ(Install(""), "<absent>");
  EXPECT_EQ(EnvOptionsLine(), "未更新 " + File() + ": 文件不存在.");
}

// The new content goes beside the file under a name of its own, is flushed
// to the disk and only then put in place; nothing is left beside it.
TEST_F(EnvOptionsInstall, AFailedWriteOrFlushLeavesTheFileWholeAndNothingBesideIt) {
  const std::string text = "<Project><PropertyGroup></PropertyGroup></Project>";
  t.fs.FailFlushes(File() + ".");
  EXPECT_EQ(Install(text), text);
  EXPECT_EQ(EnvOptionsLine(), "未更新 " + File() + ": 写入失败: " + std::strerror(EIO));
  t.fs.InjectError(File() + ".", EACCES);
  t.view.log.clear();
  EXPECT_EQ(Install(text), text);
  EXPECT_EQ(EnvOptionsLine(), "未更新 " + File() + ": 写入失败: " + std::strerror(EACCES));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path() / "appdata/CodeGear/BDS/6.0"),
                          std::filesystem::directory_iterator()), 1);
}

TEST_F(EnvOptionsInstall, AFileNotUnderstoodIsLeftAlone) {
  const std::pair<std::string, std::string> broken[] = {
      {"<Projekt><PropertyGroup/></Projekt>", "根元素是 Projekt, 不是 Project"},
      {"<Project><ItemGroup/></Project>", "Project 下没有 PropertyGroup"},
      {"<Project><PropertyGroup><Win32LibraryPath>a</Win32LibraryPath></Project>",
       "结束标签 </Project> 与 <PropertyGroup> 不配对"},
      {"<Project><PropertyGroup><Win32LibraryPath>a<!-- b -->c</Win32LibraryPath></PropertyGroup></Project>",
       "Win32LibraryPath 的值中有注释、CDATA 或子元素, 或没有结束标签"},
      {"<Project><PropertyGroup><Win32LibraryPath>&nbsp;</Win32LibraryPath></PropertyGroup></Project>",
       "Win32LibraryPath 的值中有无法识别的实体或字符引用"},
      {"<Project><PropertyGroup><Win32LibraryPath/><WIN32LIBRARYPATH/></PropertyGroup></Project>",
       "PropertyGroup 中有两个 Win32LibraryPath"},
      {"<Project><PropertyGroup><![CDATA[<Win32LibraryPath/>]]></PropertyGroup></Project>",
       "PropertyGroup 中有 CDATA"},
      {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><Project><PropertyGroup/></Project>",
       "声明的编码 windows-1252 与文件的编码不符"},
      {"<Project><PropertyGroup/></Project>\xFF", "不是有效的 UTF-8 文本"},
  };
  for (const auto& [text, why] : broken) {
    t.view.log.clear();
    EXPECT_EQ(Install(text), text);
    EXPECT_EQ(EnvOptionsLine(), "未更新 " + File() + ": 无法识别文件内容 (" + why + ").");
  }
}

TEST(EnvOptionsText, Utf16TextIsEditedAndWrittenBackAsUtf16) {
  std::string bytes, why, expected;
  ASSERT_TRUE(EncodeProjectFile("<Project>\r\n  <PropertyGroup>\r\n    <Win32LibraryPath>库\xF0\x9F\x98\x80</Win32LibraryPath>"
                                "\r\n  </PropertyGroup>\r\n</Project>", TextEncoding::Utf16LeWithBom, &bytes));
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
  auto decoded = DecodeProjectFile(bytes, &why);
  ASSERT_TRUE(decoded) << why;
  auto spot = FindFirstGroupProperty(decoded->text, "Win32LibraryPath", &why);
  ASSERT_TRUE(spot) << why;
  EXPECT_EQ(spot->value, "库\xF0\x9F\x98\x80");
  std::string after;
  ASSERT_TRUE(EncodeProjectFile(AddToProperty(decoded->text, *spot, ";<a&b>"), decoded->encoding, &after));
  ASSERT_TRUE(EncodeProjectFile("<Project>\r\n  <PropertyGroup>\r\n    <Win32LibraryPath>库\xF0\x9F\x98\x80;&lt;a&amp;b&gt;"
                                "</Win32LibraryPath>\r\n  </PropertyGroup>\r\n</Project>", TextEncoding::Utf16LeWithBom, &expected));
  EXPECT_EQ(after, expected);
  EXPECT_FALSE(DecodeProjectFile(bytes.substr(0, bytes.size() - 1), &why));  // cut mid-character
}

}  // namespace
}  // namespace kestrin
