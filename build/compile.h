// The compile command and its stop button: every ticked package of the build
// list, in list order, through the release's dcc32.exe into the output folder.
#pragma once

#include "core/session.h"

namespace kestrin {

// Compiles the ticked packages, logging each package's compiler output, with
// the progress gauge and the stop button in view while it runs. Returns
// CompileEnded (copy and install wait for the next verification), or None
// when it did not start (no library folder, or the IDE runs and the user
// said No).
StateEvent Compile(Session& s);

// Back to the idle look at once; the run stops after the package in progress.
void StopCompile(Session& s);

}  // namespace kestrin
