#include "app/dispatch.h"

#include <exception>

#include "catalogue/catalogue.h"
#include "ide/deploy.h"
#include "ide/uninstall.h"
#include "targets/releases.h"

namespace kestrin {

CommandOutcome RunCommand(Session& s, CommandId id, const CommandRequest& r) {
  CommandOutcome o;
  o.id = id;
  const CompileHistory* last = r.last ? &*r.last : nullptr;
  try {
    switch (id) {
      case CommandId::Compile:
        o.compile = Compile(s, {.target = r.target,
                                .packages = r.packages,
                                .parallel = r.parallel,
                                .force = r.force,
                                .last = last});
        o.result = *o.compile;
        break;
      case CommandId::Verify:
        o.verify = Verify(s, {.target = r.target, .packages = r.packages, .last = last});
        o.result = *o.verify;
        break;
      case CommandId::Copy:
        o.result = CopyRuntimePackages(s, {.target = r.target});
        break;
      case CommandId::Install:
        o.install = Install(s, {.target = r.target});
        o.result = *o.install;
        break;
      case CommandId::Uninstall:
        o.result = Uninstall(s, {.target = r.target, .packages = r.packages,
                                 .deletePackageFiles = r.deletePackageFiles});
        break;
      case CommandId::Diagnose:
        o.diagnose = Diagnose(s, {.target = r.target});
        o.result = *o.diagnose;
        break;
    }
  } catch (const std::exception& e) {  // registry errors among them
    o.error = e.what();
  }
  return o;
}

ReleaseChoice ChooseRelease(Session& s, const IdeProfile& ide, const std::string& current) {
  ReleaseChoice choice;
  choice.compilerFolder = CompilerFolderOf(s, ide, current);
  const FixedList rows = BuildOrder(ide.family);
  choice.rows.assign(rows.begin(), rows.end());
  return choice;
}

}  // namespace kestrin
