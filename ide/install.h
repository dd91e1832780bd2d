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
// A registry error stops it with a RegistryError. Its failures are the
// EnvOptions.proj that could not be read, understood or written and the
// ForceEnvOptionsUpdate that could not be set.
struct InstallRequest {
  Target target;
};
CommandResult Install(Session& s, const InstallRequest& request);

}  // namespace kestrin
