#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/pe_module.h"
#include "tests/crafted_modules.h"
#include "tests/harness.h"
#include "tools/pewriter/package_writer.h"

namespace kestrin {
namespace {
using test::TempDir;

std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ImportNames(const ModuleInfo& m) {
  std::vector<std::string> names;
  for (const ImportedModule& i : m.imports) names.push_back(i.name);
  return names;
}

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// The stand-in compiler, run as Kestrin runs it, from an IDE's bin folder.
struct StandInCompile : ::testing::Test {
  TempDir dir;
  void PlaceIde(const std::string& ide, const std::string& number) {
    std::filesystem::create_directories(dir.Path() / ide / "bin");
    std::filesystem::copy_file(test::ToolsDir() + "/dcc32.exe", dir.Path() / ide / "bin" / "dcc32.exe");
    if (!number.empty()) {
      std::string error;
      ASSERT_TRUE(pe::WriteIdePackages(dir.Path() / ide, number, &error)) << error;
    }
  }
  void Compile(const std::string& ide, const std::string& project) {
    const std::string out = (dir.Path() / "out").string();
    const std::string cmd = "cd '" + dir.Path().string() + "' && '" + ide + "/bin/dcc32.exe' -LE" + out + " -N" +
                            out + " -LN" + out + " -U" + out + " " + project + " >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  std::optional<PackageModule> Read(const std::string& bpl, std::string* why) {
    return ReadPackageModule(ReadBytes(dir.Path() / "out" / bpl), why);
  }
};

// The package names each module it needs by the name the .dcp gives (the
// IDE's own from the IDE's lib folder, the library's from the output
// folder), and carries its requires, units and description.
TEST_F(StandInCompile, WritesAPackageThatImportsItsRequiredModules) {
  PlaceIde("ide", "70");
  std::filesystem::create_directories(dir.Path() / "out");
  dir.Write("dxCoreD7.dpk",
            "package dxCoreD7;\r\n{$R *.res}\r\n{$DESCRIPTION 'Sample ''core'' package'}\r\n{$DESIGNONLY}\r\n"
            "requires\r\n  rtl, vcl;\r\ncontains\r\n  dxCoreReg in 'dxCoreReg.pas',\r\n  dxCoreMain;\r\nend.\r\n");
  dir.Write("dxCoreMain.pas", "unit dxCoreMain;\r\n{$WEAKPACKAGEUNIT ON}\r\ninterface\r\nimplementation\r\nend.\r\n");
  dir.Write("dxBarD7.dpk", "package dxBarD7;\r\nrequires rtl, vcl, designide, DXCORED7;\r\ncontains dxBar;\r\nend.\r\n");
  Compile("ide", "dxCoreD7.dpk");
  Compile("ide", "dxBarD7.dpk");

  std::string why;
  auto core = Read("dxCoreD7.bpl", &why);
  ASSERT_TRUE(core) << why;
  EXPECT_TRUE(core->module.isDll);
  EXPECT_EQ(core->module.machine, PeMachine::I386);
  EXPECT_EQ(core->module.exportName, "dxCoreD7.bpl");
  EXPECT_EQ(core->module.exports,
            (std::vector<std::string>{"@Dxcored7@Finalization$qqrv", "@Dxcored7@initialization$qqrv",
                                      "@Dxcoremain@Finalization$qqrv", "@Dxcoremain@initialization$qqrv",
                                      "@Dxcorereg@Finalization$qqrv", "@Dxcorereg@initialization$qqrv",
                                      "Finalize", "Initialize"}));
  // As Delphi 7's own packages are: the required modules by file name, the
  // package's own unit 0x03, SysInit and the other units 0.
  EXPECT_EQ(core->info.flags, package_flags::kPackageModule | package_flags::kDelphi4Produced |
                                  package_flags::kDesignOnly);
  EXPECT_EQ(core->info.required, (std::vector<std::string>{"rtl70.bpl", "vcl70.bpl"}));
  ASSERT_EQ(core->info.contains.size(), 4u);
  const std::pair<const char*, int> units[] = {
      {"dxCoreD7", 0x03}, {"SysInit", 0}, {"dxCoreReg", 0}, {"dxCoreMain", 0x0C}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(core->info.contains[i].name, units[i].first);
    EXPECT_EQ(core->info.contains[i].flags, units[i].second) << units[i].first;
  }
  EXPECT_EQ(core->description, "Sample 'core' package");
  // One import descriptor per unit that uses a module.
  EXPECT_EQ(ImportNames(core->module),
            (std::vector<std::string>{"rtl70.bpl", "vcl70.bpl", "rtl70.bpl", "vcl70.bpl"}));

  auto bar = Read("dxBarD7.bpl", &why);
  ASSERT_TRUE(bar) << why;
  EXPECT_EQ(ImportNames(bar->module),
            (std::vector<std::string>{"rtl70.bpl", "vcl70.bpl", "designide70.bpl", "dxCoreD7.bpl"}));
  ASSERT_EQ(bar->module.imports[3].functions.size(), 1u);
  EXPECT_EQ(bar->module.imports[3].functions[0].name, "@Dxcorereg@Finalization$qqrv");
  EXPECT_FALSE(bar->module.imports[3].functions[0].byOrdinal);
  EXPECT_EQ(bar->info.flags & package_flags::kDesignOnly, 0u);
  EXPECT_EQ(bar->description, "");

  // Each import is one the named module exports.
  for (const ImportedModule& m : bar->module.imports) {
    const auto where = m.name == "dxCoreD7.bpl" ? dir.Path() / "out" / m.name : dir.Path() / "ide" / "bin" / m.name;
    auto target = ReadModule(ReadBytes(where), &why);
    ASSERT_TRUE(target) << m.name << ": " << why;
    EXPECT_TRUE(target->Exports(m.functions[0])) << m.name << " " << m.functions[0].name;
  }
}

// Where the IDE's symbol files cannot be read the module names follow the
// release's rule (BDS 2006: 100); where one is nowhere, the compile fails as
// the real compiler's does.
TEST_F(StandInCompile, NamesTheIdePackagesByTheReleaseWithoutItsLibFolder) {
  PlaceIde("bare", "");
  std::filesystem::create_directories(dir.Path() / "out");
  dir.Write("dxCoreD10.dpk", "package dxCoreD10;\r\nrequires rtl, vclx;\r\ncontains dxCore;\r\nend.\r\n");
  const std::string cmd = "cd '" + dir.Path().string() + "' && bare/bin/dcc32.exe -LNout -Uout dxCoreD10.dpk";
  EXPECT_NE(std::system((cmd + " >/dev/null").c_str()), 0);
  dir.Write("bare/lib/rtl.dcp", "");
  dir.Write("bare/lib/vclx.dcp", "");
  Compile("bare", "dxCoreD10.dpk");
  std::string why;
  auto p = Read("dxCoreD10.bpl", &why);
  ASSERT_TRUE(p) << why;
  EXPECT_EQ(ImportNames(p->module), (std::vector<std::string>{"rtl100.bpl", "vclx100.bpl"}));
}

TEST(PeModule, ReleaseNumbers) {
  EXPECT_EQ(pe::IdePackageNumber("D6"), "60");
  EXPECT_EQ(pe::IdePackageNumber("D9"), "90");
  EXPECT_EQ(pe::IdePackageNumber("D11"), "100");
  EXPECT_EQ(pe::IdePackageNumber("D12"), "120");
  EXPECT_EQ(pe::IdePackageNumber("D13"), "");
}

std::string SamplePackage() {
  pe::PackageSpec p;
  p.module = "dxBarD7.bpl";
  p.required = {{"rtl", "rtl70.bpl", {}}};
  p.contains = pe::PackageUnits("dxBarD7", {"dxBar"});
  p.description = "描述 text";
  return pe::WritePackage(p);
}

TEST(PeModule, FilesThatLie) {
  const std::string good = SamplePackage();
  std::string why;
  auto p = ReadPackageModule(good, &why);
  ASSERT_TRUE(p) << why;
  EXPECT_EQ(p->description, "描述 text");

  // Cut short anywhere before the resource data ends: never a package.
  auto resource = FindResource(good, ResourceKey::Id(kRtRcdata), ResourceKey::Name("packageinfo"));
  ASSERT_TRUE(resource);
  const std::size_t needed = static_cast<std::size_t>(resource->data() - good.data()) + resource->size();
  for (std::size_t n = 0; n < needed; ++n) EXPECT_FALSE(ReadPackageModule(good.substr(0, n))) << n;
  EXPECT_FALSE(ReadModule("MZ", &why));
  EXPECT_FALSE(ReadModule(std::string(4096, '\0'), &why));
  EXPECT_EQ(why, "not a module (no MZ header)");

  // The import table's address past the end of the image.
  const std::size_t dirs = 0x58 + 96;
  std::string bad = good;
  Put32(bad, dirs + 8, 0x7FFFFFF0);
  EXPECT_FALSE(ReadModule(bad, &why));
  EXPECT_EQ(why, "import table outside the file");

  // A resource tree whose name level leads back to its root, and one whose
  // root leads to itself.
  const std::size_t rsrc = static_cast<std::size_t>(resource->data() - good.data()) & ~std::size_t{0x1FF};
  for (std::uint32_t field : {0x18u + 16 + 8 + 4, 0x10u + 4}) {  // PACKAGEINFO sorts second
    bad = good;
    Put32(bad, rsrc + field, 0x80000000u);
    EXPECT_FALSE(FindResource(bad, ResourceKey::Id(kRtRcdata), ResourceKey::Name("PACKAGEINFO"), &why)) << field;
    EXPECT_FALSE(ReadPackageModule(bad, &why));
  }

  // A count far beyond the bytes.
  std::string info(*resource);
  Put32(info, 4, 0x7FFFFFFF);
  EXPECT_FALSE(ReadPackageInfo(info, &why));
  info = std::string(*resource);
  EXPECT_FALSE(ReadPackageInfo(info.substr(0, info.size() - 1), &why));  // last name unterminated
}

// Descriptors that share one list of long names, and a section table as
// long as the format allows: refused at once, however the reader is asked.
TEST(PeModule, WhatAFileCanCostIsBounded) {
  std::string why;
  const std::string shared = test::ModuleWithSharedImportNames();
  EXPECT_FALSE(ReadModule(shared, &why));
  EXPECT_EQ(why, "names larger than any module's");
  auto names_only = ReadModule(shared, &why, {.functionNames = false});
  ASSERT_TRUE(names_only) << why;
  EXPECT_EQ(names_only->imports.size(), 4096u);
  const std::string sections = test::ModuleWithEmptySections();
  EXPECT_FALSE(ReadModule(sections, &why));
  EXPECT_EQ(why, "more sections than Windows loads");
  BytesSource source(sections);
  EXPECT_FALSE(ReadPackageHeader(source, &why));
}

TEST(PeModule, SixtyFourBitModule) {
  pe::DllSpec d;
  d.moduleName = "x64.dll";
  d.pe32plus = true;
  d.imports = {{"kernel32.dll", {"GetTickCount", "Sleep"}}};
  d.exports = {"b", "a"};
  const std::string bytes = pe::WriteDll(d);
  std::string why;
  auto m = ReadModule(bytes, &why);
  ASSERT_TRUE(m) << why;
  EXPECT_EQ(m->machine, PeMachine::Amd64);
  ASSERT_EQ(m->imports.size(), 1u);
  ASSERT_EQ(m->imports[0].functions.size(), 2u);
  EXPECT_EQ(m->imports[0].functions[1].name, "Sleep");
  EXPECT_EQ(m->exports, (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(ReadPackageModule(bytes, &why));
  EXPECT_EQ(why, "not a 32-bit DLL");
}

}  // namespace
}  // namespace kestrin
