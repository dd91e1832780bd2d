#include "ide/diagnose.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "ide/folder_list.h"
#include "ide/load_model.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "targets/ide_registry.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {
namespace {

bool Inside(const std::string& key, const std::string& root) {
  return !root.empty() && (key == root || (key.size() > root.size() && key.compare(0, root.size(), root) == 0 &&
                                           key[root.size()] == '\\'));
}

class Diagnosis {
 public:
  Diagnosis(Session& s, const Target& t, std::vector<Finding>& out)
      : s_(s), t_(t), ide_(*t.release), out_(out), model_(s, t), suffix_(t.shortSuffix()) {}

  void Run() {
    known_ = model_.ReadRegistrations(KnownPackagesKey(ide_), out_);
    disabled_ = model_.ReadRegistrations(DisabledPackagesKey(ide_), out_);
    CheckLibraryDesignPackages();
    model_.CheckLoads(known_, disabled_, out_);
    CheckSearchPath();
  }

 private:
  void Add(Severity severity, Problem problem, std::string package, std::string path, std::string text,
           std::string advice) {
    out_.push_back({severity, problem, package, package, std::move(path), std::move(text), std::move(advice), {}});
  }

  static std::vector<const Registration*> ByFile(const std::vector<Registration>& list, std::string_view file) {
    std::vector<const Registration*> hits;
    for (const Registration& reg : list)
      if (EqualsNoCase(FileNamePart(reg.raw), file)) hits.push_back(&reg);
    return hits;
  }

  void CheckLibraryDesignPackages() {
    const std::string outKey = model_.FolderKey(model_.outputFolder());
    int unregistered = 0;
    for (std::string_view design : DesignNames(ide_.family)) {
      const std::string file = PackageFileName(Trim(design), suffix_, ".bpl");
      const auto known = ByFile(known_, file);
      const auto disabled = ByFile(disabled_, file);
      if (known.empty() && disabled.empty()) {
        ++unregistered;
        continue;
      }
      for (const Registration* reg : known)
        if (reg->path && s_.fs.FileExists(*reg->path) &&
            model_.FolderKey(FolderPart(Backslashes(*reg->path))) != outKey)
          Add(Severity::Warning, Problem::Foreign, file, *reg->path,
              file + " 注册的不是本库输出目录中的文件: " + *reg->path,
              "在 IDE 的 Component > Install Packages 中删除这一项注册, 再点 安装, 让 IDE 使用输出目录 " +
                  model_.outputFolder() + " 中的包");
      for (const Registration* reg : disabled)
        Add(Severity::Warning, Problem::Disabled, file, reg->path.value_or(reg->raw),
            "IDE 已停用这个包: " + reg->path.value_or(reg->raw),
            "在 IDE 的 Component > Install Packages 中勾选这个包, 或卸载后重新安装");
    }
    const std::size_t all = DesignNames(ide_.family).size();
    if (unregistered > 0 && static_cast<std::size_t>(unregistered) == all)
      Add(Severity::Hint, Problem::NotRegistered, "", "", "本库尚未安装到 " + std::string(ide_.caption),
          "依次点 编译, 验证, 复制, 安装; 不用窗口时: kestrin.com /release:" + std::string(ide_.name) +
              " /compile /verify /copy /install");
    else if (unregistered > 0)
      Add(Severity::Hint, Problem::NotRegistered, "", "",
          std::to_string(unregistered) + " 个设计时包没有注册到 " + std::string(ide_.caption),
          "编译后点 安装 注册设计时包");
  }

  void CheckSearchPath() {
    std::set<std::string> units;
    auto collect = [&](const std::string& folder, std::string_view extension) {
      std::vector<DirEntry> entries;
      if (!s_.fs.ListDir(folder, &entries)) return;
      for (const DirEntry& e : entries)
        if (!e.IsDir() && EndsWithNoCase(e.name, extension))
          units.insert(ToLowerAscii(e.name.substr(0, e.name.size() - extension.size())));
    };
    for (std::string_view product : kProductSourceFolders) collect(ProductSourceFolder(t_, product), ".pas");
    collect(model_.outputFolder(), ".dcu");
    const std::string libraryKey = model_.FolderKey(t_.library);

    auto key = s_.registry.Open(LibraryKey(ide_), RegAccess::Read);
    std::string list;
    if (key->ReadString("Search Path", &list) != RegRead::Ok) list.clear();
    std::set<std::string> done;
    for (const std::string& entry : FolderListEntries(list)) {
      if (!done.insert(ToLowerAscii(entry)).second) continue;
      const std::optional<std::string> folder = model_.Expand(entry);
      if (!folder) {
        Add(Severity::Hint, Problem::MacroUnknown, "", entry, "无法展开路径中的宏, 未检查: " + entry,
            "在 IDE 的 " + std::string(ide_.environmentDialog) + " 中定义这个变量, 或把这一项改成完整路径");
        continue;
      }
      const PathKind kind = s_.fs.Probe(*folder);
      if (kind == PathKind::Error) continue;
      if (kind != PathKind::Directory) {
        // A folder the IDE's own defaults name is the IDE's business.
        if (StartsWithNoCase(entry, "$(DELPHI)") || StartsWithNoCase(entry, "$(BDS)")) continue;
        Add(Severity::Hint, Problem::SearchPathMissing, "", *folder, "搜索路径中的文件夹不存在: " + *folder,
            "在 IDE 的 " + std::string(ide_.libraryDialog) + " 中, 从 库路径 (Library path) 删除这一项");
        continue;
      }
      if (Inside(model_.FolderKey(*folder), libraryKey)) continue;
      std::vector<DirEntry> entries;
      if (!s_.fs.ListDir(*folder, &entries)) continue;
      for (const DirEntry& e : entries) {
        if (e.IsDir() || !(EndsWithNoCase(e.name, ".pas") || EndsWithNoCase(e.name, ".dcu"))) continue;
        const std::string unit = e.name.substr(0, e.name.size() - 4);
        if (!units.count(ToLowerAscii(unit))) continue;
        out_.push_back({Severity::Warning, Problem::SearchPathOldUnit, "", unit, *folder,
                        "搜索路径中有另一份库的单元 " + unit + ": " + *folder,
                        "在 IDE 的 " + std::string(ide_.libraryDialog) +
                            " 中, 从 库路径 (Library path) 删除这一项, 或删除那份旧库",
                        {}});
        break;
      }
    }
  }

  Session& s_;
  const Target& t_;
  const IdeProfile& ide_;
  std::vector<Finding>& out_;
  LoadModel model_;
  const std::string_view suffix_;
  std::vector<Registration> known_, disabled_;
};

}  // namespace

DiagnoseResult Diagnose(Session& s, const DiagnoseRequest& request) {
  DiagnoseResult result;
  const Target& t = request.target;
  if (!CommandMayStart(s, t, {.library = true, .ideClosed = false}, result) || !t.release) return result;
  s.OpenBlock("诊断 " + std::string(t.release->caption) + "...");
  Diagnosis(s, t, result.findings).Run();
  result.findings = OneFindingPerCause(std::move(result.findings));
  for (const Finding& f : result.findings) {
    s.host.Found(f);
    if (f.severity == Severity::Error) ++result.errors;
    else if (f.severity == Severity::Warning) ++result.warnings;
    else ++result.hints;
    s.Log(std::string(SeverityWord(f.severity)) + ": " + f.text);
    s.Log("    办法: " + f.advice);
  }
  if (result.findings.empty()) s.Log("未发现问题: IDE 能加载本库的全部设计时包.");
  s.Log("诊断结果: " + std::to_string(result.errors) + " 个错误, " + std::to_string(result.warnings) +
        " 个警告, " + std::to_string(result.hints) + " 个提示");
  s.LogDone();
  result.started = true;
  result.failures = result.errors;
  return result;
}

}  // namespace kestrin
