#include "targets/library_folder.h"

#include "platform/text.h"

namespace kestrin {

const std::array<std::string_view, 35> kProductSourceFolders = {
    "ExpressBars 6",          "ExpressCommon Library",    "ExpressCore Library",
    "ExpressDataController",  "ExpressDBTree Suite",      "ExpressDocking Library",
    "ExpressEditors Library 3", "ExpressEditors Library 5", "ExpressExport Library",
    "ExpressFlowChart",       "ExpressGDI+ Library",      "ExpressInspector",
    "ExpressLayout Control",  "ExpressLibrary",           "ExpressMasterView",
    "ExpressMemData",         "ExpressNavBar 2",          "ExpressOrgChart",
    "ExpressPageControl 2",   "ExpressPivotGrid 2",       "ExpressPrinting System",
    "ExpressQuantumGrid 3",   "ExpressQuantumGrid 6",     "ExpressQuantumTreeList 3",
    "ExpressQuantumTreeList 4", "ExpressScheduler 3",     "ExpressScript Engine",
    "ExpressSideBar",         "ExpressSkins Library",     "ExpressSpellChecker",
    "ExpressSpreadSheet",     "ExpressVerticalGrid",      "ExpressWeb Framework",
    "Innerfuse Pascal Script", "XP Theme Manager",
};

std::string NormalizeFolderPath(std::string_view path) {
  std::string p = Trim(path);
  if (!p.empty() && p.back() != '\\') p += '\\';
  return p;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string p(folder);
  if (!p.empty() && p.back() != '\\' && p.back() != '/') p += '\\';
  return p + std::string(name);
}

std::string OutputFolder(const ToolContext& ctx) {
  return ctx.libraryRoot + "Library\\" + ctx.ideLongSuffix;
}

std::string ProductSourceFolder(const ToolContext& ctx, std::string_view product) {
  return ctx.libraryRoot + std::string(product) + "\\Sources";
}

std::string PackageFileName(std::string_view package, std::string_view suffix,
                            std::string_view extension) {
  return std::string(package) + std::string(suffix) + std::string(extension);
}

std::string PackageFile(std::string_view folder, std::string_view package,
                        std::string_view suffix, std::string_view extension) {
  return JoinPath(folder, PackageFileName(package, suffix, extension));
}

static void ShowFolderNotice(Session& s) {
  s.view.ShowMessage("您选择的不是DEV的安装目录", "提示", MessageIcon::Information);
}

void SetLibraryFolder(Session& s, std::string_view text) {
  if (s.view.PathText() == text) return;
  s.view.SetPathText(text);
  s.ctx.libraryRoot = NormalizeFolderPath(s.view.PathText());
}

void ChooseLibraryFolder(Session& s) {
  auto chosen = s.shell.PickFolder("请选择DEV的安装目录");
  if (!chosen) return;
  std::string path = Trim(*chosen);
  if (!path.empty() && s.fs.DirExists(JoinPath(path, kMarkerFolder))) {
    SetLibraryFolder(s, NormalizeFolderPath(path));
  } else {
    ShowFolderNotice(s);
  }
}

void TakeLibraryFolderAtStart(Session& s) {
  std::string folder = Trim(s.fs.ExecutableFolder());
  if (!folder.empty() && s.fs.DirExists(JoinPath(folder, kMarkerFolder))) {
    s.ctx.libraryRoot = folder;
    SetLibraryFolder(s, folder);
  } else {
    ChooseLibraryFolder(s);
  }
}

bool RequireLibraryFolder(Session& s) {
  if (!s.ctx.libraryRoot.empty()) return true;
  ShowFolderNotice(s);
  return false;
}

}  // namespace kestrin
