// Which IDE releases are installed for the current user, and choosing one.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "catalogue/ide_profiles.h"
#include "core/session.h"

namespace kestrin {

// Why `ide` cannot be chosen (it is not registered for the current user,
// App names no existing file, RootDir is missing, its settings cannot be
// read), or nothing when it can.
std::optional<std::string> WhyNotUsable(Session& s, const IdeProfile& ide);

// The start-up probe: for each release in kIdeProfiles, whether it can be
// chosen.
std::array<bool, kReleaseCount> ProbeReleases(Session& s);

// Makes `ide` the release every command works on: its compiler folder and
// suffixes, and its family's build list in the window (nothing ticked).
// Everything that can fail comes first, so a failed choice changes nothing.
// Asks for the library folder first when none is in the path box.
StateEvent ChooseRelease(Session& s, const IdeProfile& ide);

}  // namespace kestrin
