// The uninstall command: the library out of the chosen IDE release.
#pragma once

#include <string>
#include <string_view>

#include "core/command.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

// Removes every design-time package entry the install writes from Known
// Packages and Disabled Packages, the user PATH entry a copy may have made,
// and, with `delete_package_files`, every package file of the build list
// from the output folder and every runtime package from the system folder,
// and the program's temporary files left in both.
// `failed`, when given, receives how many registry entries and files could
// not be removed.
struct UninstallRequest {
  Target target;
  const PackageList& packages;  // whose files the output folder may hold
  bool deletePackageFiles = false;
};
// Its failures are the registry entries and files that could not be removed,
// and the PATH entry and ForceEnvOptionsUpdate that could not be seen to.
CommandResult Uninstall(Session& s, const UninstallRequest& request);

enum class DeleteResult { Deleted, Failed, Missing };
// Rewrites a file as "X" characters and CR LF (keeping its length), then
// deletes it. A file that another name also leads to (a hard link, a
// symbolic link) keeps its content: only this name is removed. Missing
// means "not found" and nothing else; any other failure is Failed, with the
// system's reason in `reason` when given.
DeleteResult OverwriteAndDeleteFile(FileSystem& fs, std::string_view path,
                                    std::string* reason = nullptr);

}  // namespace kestrin
