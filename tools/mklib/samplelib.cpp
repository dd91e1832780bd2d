#include "tools/mklib/samplelib.h"

#include <map>
#include <set>

#include "catalogue/catalogue.h"
#include "platform/text.h"
#include "targets/library_folder.h"

namespace kestrin {
namespace {

bool Contains(const std::string& s, const char* part) {
  return ToLowerAscii(s).find(ToLowerAscii(part)) != std::string::npos;
}

std::string Family(const std::string& suffix) {
  return suffix == "D6" || suffix == "D7" ? "Delphi" : "Bds";
}

std::set<std::string> DesignSet(IdeFamily family) {
  std::set<std::string> design;
  for (std::string_view d : DesignNames(family)) design.insert(ToLowerAscii(d));
  return design;
}

std::vector<PackageRequires> DeepGraph(IdeFamily family) {
  const std::set<std::string> design = DesignSet(family);
  std::vector<std::string> runtime;
  for (std::string_view entry : BuildOrder(family))
    if (!design.count(ToLowerAscii(entry))) runtime.emplace_back(entry);
  std::set<std::string> chain;
  for (std::size_t i = 0; i < runtime.size(); ++i)
    if (runtime.size() <= kSampleDeepChain || i < kSampleCorePackages ||
        i >= runtime.size() - (kSampleDeepChain - kSampleCorePackages))
      chain.insert(runtime[i]);
  std::vector<PackageRequires> graph;
  std::map<std::string, std::string> runtime_by_name;  // lower-case name -> name
  std::string last_link, last_runtime;
  for (std::string_view entry : BuildOrder(family)) {
    PackageRequires p{std::string(entry), design.count(ToLowerAscii(entry)) > 0, {}};
    const std::string lower = ToLowerAscii(p.package);
    if (p.design) {
      auto own = runtime_by_name.find(lower.rfind("dcl", 0) == 0 ? lower.substr(3) : lower);
      if (own != runtime_by_name.end()) p.required.push_back(own->second);
      else if (!last_runtime.empty()) p.required.push_back(last_runtime);
    } else {
      if (!last_link.empty()) p.required.push_back(last_link);
      if (chain.count(p.package)) last_link = p.package;
      runtime_by_name[lower] = p.package;
      last_runtime = p.package;
    }
    graph.push_back(std::move(p));
  }
  return graph;
}

}  // namespace

std::vector<PackageRequires> SamplePackageGraph(IdeFamily family, SampleGraphShape shape) {
  if (shape == SampleGraphShape::Deep) return DeepGraph(family);
  const std::set<std::string> design = DesignSet(family);
  std::vector<PackageRequires> graph;
  std::vector<std::string> cores;
  std::map<std::string, std::string> runtime_by_name;      // lower-case name -> name
  std::map<std::string, std::string> last_runtime_of_product;
  for (std::string_view entry : BuildOrder(family)) {
    PackageRequires p{std::string(entry), design.count(ToLowerAscii(entry)) > 0, {}};
    const std::string product = ProductFolderFor(p.package);
    const std::string lower = ToLowerAscii(p.package);
    if (p.design) {
      // Its runtime package: dclX's X, or the runtime package its product
      // built last, or the last core package.
      auto own = runtime_by_name.find(lower.rfind("dcl", 0) == 0 ? lower.substr(3) : lower);
      if (own != runtime_by_name.end()) p.required.push_back(own->second);
      else if (last_runtime_of_product.count(product)) p.required.push_back(last_runtime_of_product[product]);
      else if (!cores.empty()) p.required.push_back(cores.back());
    } else {
      p.required = cores;
      if (cores.size() < kSampleCorePackages) {
        cores.push_back(p.package);
      } else if (auto previous = last_runtime_of_product.find(product);
                 previous != last_runtime_of_product.end()) {
        p.required.push_back(previous->second);
      }
      runtime_by_name[lower] = p.package;
      last_runtime_of_product[product] = p.package;
    }
    graph.push_back(std::move(p));
  }
  return graph;
}

std::string ProductFolderFor(const std::string& p) {
  struct Rule { const char* part; const char* folder; };
  static const Rule rules[] = {
      {"Skin", "ExpressSkins Library"},       {"dxPS", "ExpressPrinting System"},
      {"PivotGrid", "ExpressPivotGrid 2"},    {"Scheduler", "ExpressScheduler 3"},
      {"cxGrid", "ExpressQuantumGrid 6"},     {"EQGrid", "ExpressQuantumGrid 3"},
      {"GrEd", "ExpressQuantumGrid 3"},       {"ExEL", "ExpressQuantumGrid 3"},
      {"EQTL", "ExpressQuantumTreeList 3"},   {"EQDBTL", "ExpressQuantumTreeList 3"},
      {"ECQDBC", "ExpressQuantumTreeList 3"}, {"TreeList", "ExpressQuantumTreeList 4"},
      {"VerticalGrid", "ExpressVerticalGrid"}, {"SpreadSheet", "ExpressSpreadSheet"},
      {"SpellChecker", "ExpressSpellChecker"}, {"LayoutControl", "ExpressLayout Control"},
      {"PageControl", "ExpressPageControl 2"}, {"NavBar", "ExpressNavBar 2"},
      {"Docking", "ExpressDocking Library"},  {"Bar", "ExpressBars 6"},
      {"Ribbon", "ExpressBars 6"},            {"dxsb", "ExpressSideBar"},
      {"FlowChart", "ExpressFlowChart"},      {"OrgC", "ExpressOrgChart"},
      {"dbor", "ExpressOrgChart"},            {"MasterView", "ExpressMasterView"},
      {"mds", "ExpressMemData"},              {"dbtr", "ExpressDBTree Suite"},
      {"trmd", "ExpressDBTree Suite"},        {"Ins", "ExpressInspector"},
      {"ExRw", "ExpressInspector"},           {"Web", "ExpressWeb Framework"},
      {"ScriptEngine", "ExpressScript Engine"}, {"PascalScript", "Innerfuse Pascal Script"},
      {"Export", "ExpressExport Library"},    {"cxEditors", "ExpressEditors Library 5"},
      {"cxExtEditors", "ExpressEditors Library 5"}, {"Edtr", "ExpressEditors Library 3"},
      {"ELib", "ExpressEditors Library 3"},   {"DBEd", "ExpressEditors Library 3"},
      {"Adapters", "ExpressDataController"},  {"cxData", "ExpressDataController"},
      {"GDIPlus", "ExpressGDI+ Library"},     {"dxCore", "ExpressCore Library"},
      {"dxComn", "ExpressCommon Library"},    {"dxTheme", "XP Theme Manager"},
      {"cxLibrary", "ExpressLibrary"},
  };
  for (const Rule& r : rules)
    if (Contains(p, r.part)) return r.folder;
  return "ExpressLibrary";
}

bool GenerateSampleLibrary(FileSystem& fs, const SampleLibraryOptions& o,
                           SampleLibraryReport* report, std::string* error) {
  SampleLibraryReport local;
  SampleLibraryReport& rep = report ? *report : local;
  const std::string root = NormalizeFolderPath(o.root);
  auto dir = [&](const std::string& path) {
    if (!MakeDirs(fs, path)) {
      if (error) *error = "cannot create " + path + ": " + fs.LastError();
      return false;
    }
    ++rep.folders;
    return true;
  };
  auto file = [&](const std::string& path, const std::string& text) {
    if (!WriteWholeFile(fs, path, text)) {
      if (error) *error = "cannot write " + path + ": " + fs.LastError();
      return false;
    }
    ++rep.files;
    return true;
  };
  if (!dir(root) || !dir(root + std::string(kMarkerFolder))) return false;
  for (std::string_view product : kProductSourceFolders)
    if (!dir(root + std::string(product) + "\\Sources")) return false;

  for (const std::string& suffix : o.suffixes) {
    const IdeFamily family = Family(suffix) == "Delphi" ? IdeFamily::Delphi : IdeFamily::Bds;
    for (const PackageRequires& entry : SamplePackageGraph(family, o.shape)) {
      const std::string& name = entry.package;
      std::vector<std::string> required = {"rtl", "vcl"};
      if (entry.design) required.push_back("designide");
      for (const std::string& r : entry.required) required.push_back(r + suffix);
      // One package spells its name differently inside its project.
      std::string package = name == "dxPscxTLLnk" ? "dxPSCxTLLnk" : name;
      // Written as real projects are: the clause over many lines, with a
      // comment and a directive inside.
      std::string text = "package " + package + suffix + ";\r\n\r\n{$R *.res}\r\n" +
                         "{$DESCRIPTION 'Sample package " + name + "'}\r\n\r\nrequires\r\n" +
                         "  { packages of Delphi itself }\r\n";
      for (std::size_t i = 0; i < required.size(); ++i) {
        if (i == 2) text += "  {$IFDEF VER150} vclx, {$ENDIF} // the library's own\r\n";
        text += "  " + required[i] + (i + 1 < required.size() ? ",\r\n" : ";\r\n");
      }
      const std::string folder = root + ProductFolderFor(name) + "\\Sources\\";
      text += "\r\ncontains\r\n  " + name + "Reg in '" + name + "Reg.pas',\r\n  " + name +
              "Main in '" + name + "Main.pas';\r\n\r\nend.\r\n";
      if (!file(folder + name + suffix + ".dpk", text)) return false;
      ++rep.projects;
    }
  }
  // Unrelated files: units, resources and demos spread over the products.
  int made = 0, round = 0;
  while (made < o.extraFiles) {
    for (std::string_view product : kProductSourceFolders) {
      if (made >= o.extraFiles) break;
      std::string base = root + std::string(product);
      std::string sub;
      switch (made % 4) {
        case 0: sub = "\\Sources\\"; break;
        case 1: sub = "\\Demos\\Demo" + std::to_string(round % 20) + "\\"; break;
        case 2: sub = "\\Help\\"; break;
        default: sub = "\\Sources\\Res\\"; break;
      }
      if (!fs.DirExists(base + sub) && !dir(base + sub)) return false;
      std::string name = "unit" + std::to_string(made) + (made % 4 == 2 ? ".hlp" : ".pas");
      if (!file(base + sub + name, "unit filler;\r\ninterface\r\nimplementation\r\nend.\r\n")) return false;
      ++made;
    }
    ++round;
  }
  return true;
}

}  // namespace kestrin
