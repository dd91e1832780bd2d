#include "compile/verify.h"

#include <string>

#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

VerifyResult Verify(Session& s, const VerifyRequest& request) {
  VerifyResult result;
  Target t = request.target;
  if (!CommandMayStart(s, t, {.ideClosed = false}, result)) return result;
  if (!t.release) t.release = &kIdeProfiles[1];  // Delphi 7
  const std::string_view suffix = t.shortSuffix();
  s.OpenBlock("验证组件...");
  s.host.ClearNotes();

  {
    FileIndex packages;
    packages.Build(s.fs, OutputFolder(t), ".bpl", [&s] { s.Pump(); });
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
      if (const FoundFile* hit = packages.Find(PackageFileName(package, suffix, ".bpl")); hit && !failed) {
        const std::string stem = ReplaceAllOccurrences(
            ToLowerAscii(hit->name), ToLowerAscii(std::string(suffix) + ".bpl"), "");
        if (EqualsNoCase(stem, package)) continue;
      }
      result.missing.push_back(i);
      s.Log("包:" + PackageFileName(package, suffix, ".dpk") + "  未编译.");
      if (failed) s.Log("    原因: " + *failed);
      s.Pump();
    }
  }
  s.TrimWorkingSetAndPump();
  s.LogDone();
  result.started = true;
  result.next = StateEvent::VerifyEnded;
  return result;
}

}  // namespace kestrin
