// Which IDE releases are installed for the current user, and choosing one.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "catalogue/ide_profiles.h"
#include "core/session.h"
#include "platform/pe_module.h"

namespace kestrin {

// Why `ide` cannot be chosen (it is not registered for the current user,
// App names no existing file, RootDir is missing, its settings cannot be
// read), or nothing when it can.
std::optional<std::string> WhyNotUsable(Session& s, const IdeProfile& ide);

// The start-up probe: for each release in kIdeProfiles, whether it can be
// chosen.
std::array<bool, kReleaseCount> ProbeReleases(Session& s);

// The compiler folder of `ide` ("<RootDir>\bin"), or `current` when its
// RootDir is gone: a release chosen after another keeps that one's. Throws
// a RegistryError when its settings cannot be read.
std::string CompilerFolderOf(Session& s, const IdeProfile& ide, const std::string& current);

// The machine of the release's program (App): what its packages must be
// built for. I386 (the IDE of every release) when the program cannot be read.
PeMachine IdeMachine(Session& s, const IdeProfile& ide);

}  // namespace kestrin
