// RAD Studio 2007 and 2009 build from the command line with the user's
// EnvOptions.proj, which the IDE writes from its registry settings.
#pragma once

#include <string>
#include <vector>

#include "catalogue/ide_profiles.h"
#include "core/session.h"

namespace kestrin {

// For a release that uses EnvOptions.proj: sets Globals\ForceEnvOptionsUpdate
// to "1" (never creating the key), so that the IDE rewrites the file from the
// registry at its next start, and logs one line saying which it was. Other
// releases are left alone. Returns false when the value could not be set
// (a missing Globals key is no failure: the IDE has not made its settings
// yet, and makes the file from them when it does).
bool ForceEnvOptionsUpdate(Session& s, const IdeProfile& ide);

// For a release that uses EnvOptions.proj, when the user's file exists and
// is understood: adds the folders it does not hold yet to Win32LibraryPath of
// its first PropertyGroup (as the install merges Search Path), or adds that
// property where the group lacks it, so that a command-line build sees them
// before the IDE has ever been started. Nothing else of the file changes,
// its encoding and line ends included; the new file is written beside it and
// put in its place in one step. The file is never created. Logs one line
// saying which it was, naming the file. Other releases are left alone.
// Returns false when the file is there but could not be read, understood
// or written (a missing file is no failure: it is never created).
bool AddFoldersToEnvOptionsFile(Session& s, const IdeProfile& ide,
                                const std::vector<std::string>& folders);

}  // namespace kestrin
