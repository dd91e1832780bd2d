#include "compile/build_check.h"

#include <map>
#include <set>

#include "platform/text.h"
#include "targets/compiler_config.h"
#include "targets/library_folder.h"

namespace kestrin {

std::vector<std::string> DcpFolders(Session& s, const Target& t) {
  const std::string out = OutputFolder(t);
  std::vector<std::string> folders = {out};
  for (std::string_view product : kProductSourceFolders) folders.push_back(ProductSourceFolder(t, product));
  // The compiler folder is <RootDir>\bin: its Lib beside it.
  std::string root = t.compilerFolder;
  while (!root.empty() && root.back() == '\\') root.pop_back();
  root = FolderPart(root);
  while (!root.empty() && root.back() == '\\') root.pop_back();
  if (!root.empty()) folders.push_back(root + "\\lib");
  std::string cfg;
  if (ReadWholeFile(s.fs, JoinPath(t.compilerFolder, "dcc32.cfg"), &cfg))
    for (std::string& f : ConfigUnitFolders(cfg, root)) folders.push_back(std::move(f));
  return folders;
}

BuildCheck CheckBuildable(FileSystem& fs, const std::vector<std::string>& files,
                          const std::vector<std::string>& modules,
                          const std::function<Requires(std::size_t)>& requires_of,
                          const std::vector<std::string>& dcp_folders) {
  const std::size_t n = files.size();
  BuildCheck check;
  check.missing.assign(n, "");
  // Every .dcp in the folders, each listed once.
  std::set<std::string> dcps;
  for (const std::string& folder : dcp_folders) {
    std::vector<DirEntry> entries;
    fs.ListDir(folder, &entries);
    for (const DirEntry& e : entries)
      if (!e.IsDir() && EndsWithNoCase(e.name, ".dcp")) dcps.insert(ToLowerAscii(e.name));
  }
  std::map<std::string, std::size_t> ticked;  // lower-case module name -> its job
  for (std::size_t i = 0; i < n; ++i) ticked.emplace(ToLowerAscii(modules[i]), i);

  std::vector<std::size_t> root(n, n);  // the package whose missing .dcp keeps this one back
  std::vector<std::string> unchecked;
  for (std::size_t i = 0; i < n; ++i) {
    const Requires r = requires_of(i);
    if (r.kind == Requires::Kind::NotInLibrary) continue;
    if (r.kind == Requires::Kind::Unknown || r.names.empty()) {
      unchecked.push_back("未检查 " + files[i] + " 需要的包: " +
                          (r.kind == Requires::Kind::Unknown ? "无法读取它的工程文件" : "工程文件中没有 requires 子句"));
      continue;
    }
    for (const std::string& name : r.names) {
      const std::string lower = ToLowerAscii(name);
      // A ticked package earlier in the list is compiled before it.
      if (auto t = ticked.find(lower); t != ticked.end() && t->second < i) {
        if (!check.missing[t->second].empty()) {
          check.missing[i] = check.missing[t->second];
          root[i] = root[t->second];
          break;
        }
        continue;
      }
      if (dcps.count(lower + ".dcp")) continue;
      check.missing[i] = name + ".dcp";
      root[i] = i;
      break;
    }
  }
  bool folders_named = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (root[i] != i) continue;
    check.lines.push_back("无法编译 " + files[i] + ": 找不到它需要的 " + check.missing[i]);
    if (!folders_named) {
      std::string list;
      for (const std::string& f : dcp_folders) list += (list.empty() ? "" : "; ") + f;
      check.lines.push_back("    查找过的文件夹: " + list);
      folders_named = true;
    }
    std::string also;
    for (std::size_t j = i + 1; j < n; ++j)
      if (root[j] == i) also += (also.empty() ? "" : ", ") + files[j];
    if (!also.empty()) check.lines.push_back("    也无法编译: " + also);
  }
  check.lines.insert(check.lines.end(), unchecked.begin(), unchecked.end());
  return check;
}

}  // namespace kestrin
