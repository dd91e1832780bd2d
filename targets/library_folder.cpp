#include "targets/library_folder.h"

#include "app/app.h"
#include "targets/ide_profile.h"

namespace kestrin {

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

void StartupFolderCheck(App& app) {
  std::string folder = Trim(app.fs.ExecutableFolder());
  if (!folder.empty() && app.fs.DirExists(JoinPath(folder, kMarkerFolder))) {
    app.ctx.LibraryRoot = folder;
    app.SetPathText(folder);
  } else {
    SelectDevDirClick(app);
  }
}

void SelectDevDirClick(App& app) {
  auto chosen = app.shell.PickFolder("请选择DEV的安装目录");
  if (!chosen) return;
  std::string path = Trim(*chosen);
  if (!path.empty() && app.fs.DirExists(JoinPath(path, kMarkerFolder))) {
    app.SetPathText(NormalizeFolderPath(path));
  } else {
    ShowFolderNotice(app);
  }
}

void ShowFolderNotice(App& app) {
  app.view.ShowMessage("您选择的不是DEV的安装目录", "提示", MessageIcon::Information);
}

void EditPathChange(App& app) { app.ctx.LibraryRoot = NormalizeFolderPath(app.view.PathText()); }

void FormShow(App& app) {
  StartupFolderCheck(app);
  ProbeIdeReleases(app);
}

}  // namespace kestrin
