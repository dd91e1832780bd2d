// RAD Studio 2007 and 2009 build from the command line with the user's
// EnvOptions.proj, which the IDE writes from its registry settings.
#pragma once

#include "core/session.h"

namespace kestrin {

// For a release that uses EnvOptions.proj: sets Globals\ForceEnvOptionsUpdate
// to "1" (never creating the key), so that the IDE rewrites the file from the
// registry at its next start, and logs one line saying which it was. Other
// releases are left alone.
void ForceEnvOptionsUpdate(Session& s, const IdeProfile& ide);

}  // namespace kestrin
