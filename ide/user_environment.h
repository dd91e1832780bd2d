// What the commands do about the IDE as it runs on today's Windows: a
// running IDE, a system folder that only administrators may write, and the
// environment file of RAD Studio 2007 and 2009.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrin {

class App;
struct IdeProfile;

// True when the command may go on: the chosen release's IDE is not running,
// or the user said Yes to going on while it runs.
bool ConfirmIdeClosed(App& app);

// A ';'-separated PATH value with `folder` added at the end, or nullopt when
// an entry names it already (letter case and a trailing backslash aside).
std::optional<std::string> AddPathEntry(std::string_view value, std::string_view folder);
// The value without the entries that name `folder`, every other entry kept
// as it is and in order; nullopt when none names it.
std::optional<std::string> RemovePathEntry(std::string_view value, std::string_view folder);

// The current user's PATH (HKEY_CURRENT_USER\Environment, value Path): adds
// or removes the output folder, logs what was done and tells running
// programs. The value keeps its type. Throws RegistryError on failure.
void AddOutputFolderToUserPath(App& app);
void RemoveOutputFolderFromUserPath(App& app);

// RAD Studio 2007 and 2009 rebuild EnvOptions.proj from the registry at
// their next start when Globals\ForceEnvOptionsUpdate is "1": set it (never
// creating the key) and log one line. Other releases are left alone.
void ForceEnvOptionsUpdate(App& app, const IdeProfile& ide);

}  // namespace kestrin
