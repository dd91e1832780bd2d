#include "compile/verify.h"

#include <string>

#include "platform/file_search.h"
#include "platform/pe_module.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"
#include "targets/releases.h"

namespace kestrin {

VerifyResult Verify(Session& s, const VerifyRequest& request) {
  VerifyResult result;
  Target t = request.target;
  if (!CommandMayStart(s, t, {.ideClosed = false}, result)) return result;
  if (!t.release) t.release = &kIdeProfiles[1];  // Delphi 7
  const std::string_view suffix = t.shortSuffix();
  s.OpenBlock("验证组件...");
  s.host.ClearNotes();

  // A file by the package's name is no compiled package unless the IDE could
  // load it: a package module of the IDE's own bitness, whole.
  const PeMachine machine = IdeMachine(s, *t.release);
  auto loadable = [&](const std::string& path) {
    auto file = s.fs.OpenRead(path, false);
    if (!file) return false;
    FileSource source(*file);
    const auto header = ReadPackageHeader(source);
    return header && header->machine == machine;
  };
  {
    FileIndex packages;
    packages.Build(s.fs, OutputFolder(t), ".bpl", {});
    s.LogWalkFailures(packages);
    for (std::size_t i = 0; i < request.packages.size(); ++i) {
      const std::string package = Trim(request.packages.row(i));
      // A package the last compile run failed is not compiled, whatever
      // older .bpl remains: it was built from other sources.
      const std::string* failed = nullptr;
      if (request.last)
        if (auto why = request.last->failures.find(ToLowerAscii(package));
            why != request.last->failures.end())
          failed = &why->second;
      // Letter case aside: dxCoreD7.BPL on disk is a compiled dxCore.
      bool invalid = false;
      if (const FoundFile* hit = packages.Find(PackageFileName(package, suffix, ".bpl")); hit && !failed) {
        const std::string stem = ReplaceAllOccurrences(
            ToLowerAscii(hit->name), ToLowerAscii(std::string(suffix) + ".bpl"), "");
        if (EqualsNoCase(stem, package)) {
          if (loadable(hit->path)) continue;
          invalid = true;
        }
      }
      result.missing.push_back(i);
      result.reasons.push_back(failed ? *failed : invalid ? "不是有效的包文件" : "");
      s.Log("包:" + PackageFileName(package, suffix, ".dpk") + "  未编译.");
      if (!result.reasons.back().empty()) s.Log("    原因: " + result.reasons.back());
    }
  }
  s.processes.TrimWorkingSet();
  s.LogDone();
  result.started = true;
  return result;
}

}  // namespace kestrin
