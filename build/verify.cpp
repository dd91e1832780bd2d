// The verify command: ticks exactly the packages whose .bpl is missing.
#include "app/app.h"
#include "build/compile.h"
#include "build/file_search.h"
#include "platform/text.h"

namespace kestrin {

void Button4Click(App& app) {
  ToolContext& c = app.ctx;
  View& v = app.view;
  if (LibraryFolderMissing(app)) return;
  v.ShowLogPage();
  app.Log(kLogOpen);
  app.Log("验证组件...");
  v.ClearCommandPane();
  BtnUnSelectClick(app);
  if (c.IdeShortSuffix.empty()) c.IdeShortSuffix = "D7";
  if (c.IdeLongSuffix.empty()) c.IdeLongSuffix = "Delphi7";

  {
    FileIndex packages;
    packages.Build(app.fs, OutputFolder(app), ".bpl", [&app] { app.view.PumpMessages(); });
    LogWalkFailures(app, packages);
    const int count = v.BuildCount();
    for (int i = 0; i < count; ++i) {
      c.CurrentPackage = Trim(v.BuildItem(i));
      const std::string expected = c.CurrentPackage + c.IdeShortSuffix + ".bpl";
      // A name left over from another search must never let a package pass.
      c.FoundFileName.clear();
      packages.Find(c, expected);
      // Letter case aside: dxCoreD7.BPL on disk is a compiled dxCore.
      const std::string stem = ReplaceAllOccurrences(ToLowerAscii(c.FoundFileName),
                                                     ToLowerAscii(c.IdeShortSuffix + ".bpl"), "");
      if (!c.FoundFileName.empty() && EqualsNoCase(stem, c.CurrentPackage)) continue;
      v.SetTicked(i, true);
      app.Log("包:" + c.CurrentPackage + c.IdeShortSuffix + ".dpk  未编译.");
      v.PumpMessages();
    }
  }
  TrimWorkingSetAndPump(app);
  app.Apply(StateEvent::VerifyEnded);
  app.Log(" ");
  app.Log(kLogDone);
}

}  // namespace kestrin
