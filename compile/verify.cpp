#include "compile/verify.h"

#include <string>

#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/library_folder.h"

namespace kestrin {

StateEvent Verify(Session& s) {
  ToolContext& c = s.ctx;
  View& v = s.view;
  if (!RequireLibraryFolder(s)) return StateEvent::None;
  v.ShowLogPage();
  s.Log(kLogOpen);
  s.Log("验证组件...");
  v.ClearCommandPane();
  TickAll(v, false);
  if (c.ideShortSuffix.empty()) c.ideShortSuffix = "D7";
  if (c.ideLongSuffix.empty()) c.ideLongSuffix = "Delphi7";

  // Why the last compile run of this release failed a package, if it did.
  const auto& failures = c.lastCompileFailures[c.ideLongSuffix];
  {
    FileIndex packages;
    packages.Build(s.fs, OutputFolder(c), ".bpl", [&s] { s.Pump(); });
    s.LogWalkFailures(packages);
    const int count = v.BuildCount();
    for (int i = 0; i < count; ++i) {
      const std::string package = Trim(v.BuildItem(i));
      // Letter case aside: dxCoreD7.BPL on disk is a compiled dxCore.
      if (const FoundFile* hit = packages.Find(PackageFileName(package, c.ideShortSuffix, ".bpl"))) {
        const std::string stem = ReplaceAllOccurrences(ToLowerAscii(hit->name),
                                                       ToLowerAscii(c.ideShortSuffix + ".bpl"), "");
        if (EqualsNoCase(stem, package)) continue;
      }
      v.SetTicked(i, true);
      s.Log("包:" + PackageFileName(package, c.ideShortSuffix, ".dpk") + "  未编译.");
      if (auto why = failures.find(ToLowerAscii(package)); why != failures.end())
        s.Log("    原因: " + why->second);
      s.Pump();
    }
  }
  s.TrimWorkingSetAndPump();
  s.LogDone();
  return StateEvent::VerifyEnded;
}

}  // namespace kestrin
