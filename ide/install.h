// The install command: the library into the chosen IDE release's settings.
#pragma once

#include "core/command.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

// Adds the output folder and the products' Sources to the IDE's search path
// (only those not yet there), and registers every design-time package whose
// .bpl is in the output folder under Known Packages, with its description.
// RAD Studio 2007 and 2009 also get those folders in the user's
// EnvOptions.proj, when it exists.
// Then it checks, as 诊断 does, whether an IDE started afterwards can load
// each design package it registered: where one needs a module that only
// the output folder holds, that folder goes on the user's PATH (recorded,
// so that the uninstall takes it out again), and each package that still
// cannot be loaded is named with 诊断's line; the registrations stay.
// A registry error stops it with a RegistryError. Its failures are the
// EnvOptions.proj that could not be read, understood or written and the
// ForceEnvOptionsUpdate that could not be set.
struct InstallRequest {
  Target target;
};
struct InstallResult : CommandResult {
  int unloadable = 0;  // design packages it registered that the IDE cannot load
};
InstallResult Install(Session& s, const InstallRequest& request);

// The line that says an install left packages the IDE cannot load.
std::string UnloadableLine(int unloadable);

}  // namespace kestrin
