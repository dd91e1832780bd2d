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

bool IsDesign(const std::string& p) {
  return ToLowerAscii(p).rfind("dcl", 0) == 0;
}

std::string Family(const std::string& suffix) {
  return suffix == "D6" || suffix == "D7" ? "Delphi" : "Bds";
}

}  // namespace

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
    FixedList order = BuildOrder(family);
    std::map<std::string, std::string> seen_runtime;  // lower-case name -> name
    std::string previous_runtime;
    for (std::string_view entry : order) {
      const std::string name(entry);
      std::vector<std::string> required = {"rtl", "vcl"};
      if (IsDesign(name)) {
        required.push_back("designide");
        // A design-time package requires its runtime package.
        std::string runtime = ToLowerAscii(name.substr(3));
        if (seen_runtime.count(runtime)) required.push_back(seen_runtime[runtime] + suffix);
        else if (!previous_runtime.empty()) required.push_back(previous_runtime + suffix);
      } else {
        if (!previous_runtime.empty()) required.push_back(previous_runtime + suffix);
        seen_runtime[ToLowerAscii(name)] = name;
        previous_runtime = name;
      }
      // One package spells its name differently inside its project.
      std::string package = name == "dxPscxTLLnk" ? "dxPSCxTLLnk" : name;
      std::string text = "package " + package + suffix + ";\r\n\r\n{$R *.res}\r\n" +
                         "{$DESCRIPTION 'Sample package " + name + "'}\r\n\r\nrequires\r\n";
      for (std::size_t i = 0; i < required.size(); ++i)
        text += "  " + required[i] + (i + 1 < required.size() ? ",\r\n" : ";\r\n");
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
