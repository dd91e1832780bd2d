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

std::string OutputFolder(const Target& target) {
  return target.library + "Library\\" + std::string(target.longSuffix());
}

std::string ProductSourceFolder(const Target& target, std::string_view product) {
  return target.library + std::string(product) + "\\Sources";
}

std::string PackageFileName(std::string_view package, std::string_view suffix,
                            std::string_view extension) {
  return std::string(package) + std::string(suffix) + std::string(extension);
}

std::string PackageFile(std::string_view folder, std::string_view package,
                        std::string_view suffix, std::string_view extension) {
  return JoinPath(folder, PackageFileName(package, suffix, extension));
}

bool IsLibraryFolder(FileSystem& fs, std::string_view folder) {
  return !folder.empty() && fs.DirExists(JoinPath(folder, kMarkerFolder));
}

std::optional<std::string> PickLibraryFolder(Session& s) {
  auto chosen = s.shell.PickFolder("请选择DEV的安装目录");
  if (!chosen) return std::nullopt;
  const std::string path = Trim(*chosen);
  if (IsLibraryFolder(s.fs, path)) return NormalizeFolderPath(path);
  s.host.Message(kNotLibraryNotice, "提示", MessageIcon::Information);
  return std::nullopt;
}

std::optional<std::string> LibraryFolderAtStart(Session& s) {
  const std::string folder = Trim(s.fs.ExecutableFolder());
  if (IsLibraryFolder(s.fs, folder)) return folder;
  return PickLibraryFolder(s);
}

}  // namespace kestrin
